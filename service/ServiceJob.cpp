#include "ServiceJob.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/WriteJournal.h"

bool ServiceJob::StepWrites::check(bool ok, int channel, const QString& what)
{
    if (!ok)
        m_refusals.append(Refusal{channel, what, m_module.lastError()});
    return ok;
}

ServiceJob::ServiceJob(DeviceSession* session, BaseModule* module, const QString& source, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_module(module)
    , m_source(source)
{
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, [this] {
        const Continuation next = std::move(m_afterWait);
        m_afterWait = nullptr;
        if (isRunning() && next)
            next();
    });
}

ServiceJob::~ServiceJob() = default;

BaseModule* ServiceJob::module() const
{
    return m_module.data();
}

void ServiceJob::start()
{
    if (m_state != State::NotStarted)
        return;
    m_state = State::Running;
    // The first step goes out from the event loop: whoever started the job has connected its
    // signals and returned before anything is reported.
    QTimer::singleShot(0, this, [this] {
        if (isRunning())
            begin();
    });
}

void ServiceJob::kill()
{
    if (isRunning())
        finish(Cancelled, tr("Cancelled."));
}

void ServiceJob::finish(int error, const QString& text)
{
    if (!isRunning())
        return;
    m_state = State::Finished;
    m_error = error;
    m_errorText = text;
    m_wait.stop();
    m_afterWait = nullptr;
    emit finished(this);
}

void ServiceJob::setProgress(int done, int total, const QString& step)
{
    if (isRunning())
        emit progress(done, total, step);
}

void ServiceJob::endWithModuleGone()
{
    finish(ModuleGone, tr("The module is gone: nothing more was sent to it."));
}

void ServiceJob::runStep(Step step)
{
    if (!isRunning())
        return;
    const int index = m_session && m_module ? int(m_session->modules().indexOf(m_module.data())) : -1;
    if (index < 0) {
        endWithModuleGone();
        return;
    }
    // Only compared on the poller's thread, never used there: the module at `index` may be
    // another object by the time the step runs (a rediscovery in between).
    const BaseModule* target = m_module.data();
    const QString source = m_source;
    ServiceJob* job = this; // used only in this thread, after the session checked the job lives
    m_session->submitCommand(
        this, index, DeviceSession::Priority::Normal,
        [job, target, source, step = std::move(step)](BaseModule& module) -> DeviceSession::CommandResult {
            if (&module != target)
                return [job] { job->endWithModuleGone(); };
            const WriteSource scope(source);
            StepWrites writes(module);
            Continuation next = step(module, writes);
            return [job, refusals = writes.refusals(), next = std::move(next)] { job->stepDone(refusals, next); };
        },
        [job] { job->endWithModuleGone(); });
}

void ServiceJob::stepDone(const QVector<Refusal>& refusals, const Continuation& next)
{
    if (!isRunning())
        return; // killed meanwhile: what the step found is of no use any more
    for (const Refusal& refusal : refusals)
        emit refused(refusal.channel, refusal.what, refusal.reason);
    if (!isRunning())
        return; // a receiver of refused() killed the job
    if (next)
        next();
    else
        finish(GaveUp, tr("The procedure lost its way: it has no next step."));
}

void ServiceJob::after(int ms, Continuation next)
{
    if (!isRunning())
        return;
    m_afterWait = std::move(next);
    m_wait.start(ms);
}

void ServiceJob::pollUntil(
    const QString& what, int reads, int waitMs, Condition condition, Continuation reached, Continuation missed)
{
    runStep([=](BaseModule& module, StepWrites&) -> Continuation {
        if (condition(module))
            return reached;
        qCDebug(lcService, "%s: timeout = %d", qPrintable(what), reads - 1);
        if (reads <= 1)
            return missed;
        return [=] { after(waitMs, [=] { pollUntil(what, reads - 1, waitMs, condition, reached, missed); }); };
    });
}
