#include "CommandSender.h"

#include "device/BaseModule.h"
#include "device/CommandTarget.h"
#include "device/DeviceSession.h"
#include "device/WriteJournal.h"
#include "service/ServiceJob.h"

#include <memory>

CommandSender::CommandSender(DeviceSession* session, std::function<QString(BaseModule*)> keyOf, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_keyOf(std::move(keyOf))
{
}

void CommandSender::send(
    BaseModule* module, const QString& what, Work work, Urgency urgency, Done done, const QList<int>& pending)
{
    if (!work)
        return;
    const QString wentAway = tr("%1: the module went away; nothing was sent.").arg(CommandOutcome::capitalised(what));
    const int index = m_session ? int(m_session->modules().indexOf(module)) : -1;
    if (index < 0) {
        done(CommandOutcome{{wentAway}, {}});
        return;
    }
    // The journal names who sent the command, as if it had been sent here.
    const QString source = WriteSource::current();
    ++m_inFlight;
    const QString key = m_keyOf(module);
    markPending(key, pending, 1);
    done = [this, done = std::move(done), key, pending](const CommandOutcome& outcome) {
        --m_inFlight;
        markPending(key, pending, -1);
        done(outcome);
    };
    m_session->submitCommand(
        this, index, urgency == Urgency::EmergencyOff ? DeviceSession::Priority::Urgent : DeviceSession::Priority::Normal,
        [source, work = std::move(work), done](BaseModule& each) -> DeviceSession::CommandResult {
            const WriteSource scope(source);
            const CommandOutcome outcome = work(each);
            return [done, outcome] { done(outcome); };
        },
        [wentAway, done] {
            done(CommandOutcome{{wentAway}, {}});
        });
}

void CommandSender::sendToModules(const QList<BaseModule*>& modules, const QString& what, const Work& work, Urgency urgency,
    Done done, bool writesChannels)
{
    if (modules.isEmpty())
        return;
    // Each module's outcome comes back here; the last one gives them all, in the order the
    // modules were given.
    struct Collected
    {
        int remaining = 0;
        QVector<CommandOutcome> outcomes;
        Done done;
    };
    auto collected = std::make_shared<Collected>();
    collected->remaining = int(modules.size());
    collected->outcomes.resize(modules.size());
    collected->done = std::move(done);
    for (int i = 0; i < modules.size(); ++i) {
        send(
            modules.at(i), what, work, urgency,
            [collected, i](const CommandOutcome& outcome) {
                collected->outcomes[i] = outcome;
                if (--collected->remaining > 0)
                    return;
                CommandOutcome all;
                for (const CommandOutcome& each : std::as_const(collected->outcomes)) {
                    all.failures += each.failures;
                    if (all.information.isEmpty())
                        all.information = each.information;
                }
                collected->done(all);
            },
            writesChannels ? CommandTarget::allChannels(*modules.at(i)) : QList<int>());
    }
}

void CommandSender::runJob(ServiceJob* job, const QString& what, Done done)
{
    ++m_inFlight;
    auto failures = std::make_shared<QStringList>();
    connect(job, &ServiceJob::refused, this, [job, failures](int channel, const QString& write, const QString& reason) {
        if (BaseModule* module = job->module())
            failures->append(CommandOutcome::failuresText(*module, write, {{channel, reason}}));
    });
    connect(job, &ServiceJob::finished, this, [this, what, failures, done](ServiceJob* finished) {
        --m_inFlight;
        CommandOutcome outcome{*failures, {}};
        if (finished->error() == ServiceJob::GaveUp)
            outcome.information = finished->errorText();
        else if (finished->error() == ServiceJob::ModuleGone)
            outcome.failures.append(tr("%1: %2").arg(CommandOutcome::capitalised(what), finished->errorText()));
        finished->deleteLater();
        done(outcome);
    });
    job->start();
}

QSet<int> CommandSender::pendingChannels(const QString& key) const
{
    QSet<int> channels;
    const QHash<int, int> counts = m_pending.value(key);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        channels.insert(it.key());
    return channels;
}

void CommandSender::markPending(const QString& key, const QList<int>& channels, int delta)
{
    if (channels.isEmpty())
        return;
    QHash<int, int>& counts = m_pending[key];
    for (int channel : channels) {
        const int count = counts.value(channel) + delta;
        if (count > 0)
            counts.insert(channel, count);
        else
            counts.remove(channel);
    }
    if (counts.isEmpty())
        m_pending.remove(key);
    emit pendingChanged();
}
