// Module profiles (save, load with preview, the guarded write) and the statistic window.
#include "ProfileDesk.h"

#include "dialogs/common/StatusMessages.h"
#include "dialogs/common/UserDialogs.h"
#include "dialogs/common/WindowFront.h"

#include "controller/ApplicationIdentity.h"
#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "profiles/DialogStatistic.h"
#include "profiles/DialogWriteProfile.h"
#include "profiles/ModuleProfile.h"
#include "profiles/ProfileWriteJob.h"
#include "profiles/SaveProfileJob.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStatusBar>
#include <QWidget>

#include <utility>

namespace {
const QString profileExtension = QStringLiteral(".txt");

} // namespace

ProfileDesk::ProfileDesk(DeviceSession* session, QWidget* window, QStatusBar* statusBar, Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_window(window)
    , m_statusBar(statusBar)
    , m_hooks(std::move(hooks))
    , m_profilePath(QDir::homePath())
{
    qCDebug(lcApp) << "Using Profile path:" << m_profilePath;
}

void ProfileDesk::run(ServiceJob* job, void (ProfileDesk::*ended)(ServiceJob*))
{
    m_hooks.runJob(job);
    // Connected after the runner's own end, which thus comes first. A job that ended within
    // start() (its module already gone) is ended here.
    if (job->state() == ServiceJob::State::Finished)
        (this->*ended)(job);
    else
        connect(job, &ServiceJob::finished, this, ended);
}

void ProfileDesk::saveProfile()
{
    const QPointer<BaseModule> module = m_session->currentModule();
    if (!module)
        return;
    const QString proposed =
        QStringLiteral("%1/%2%3").arg(QDir(m_profilePath).absolutePath()).arg(module->serialNumber()).arg(profileExtension);
    QString fileName = dialogs()->getSaveFileName(
        m_window, tr("Save Module Profile"), proposed, tr("Profile Files (*%1)").arg(profileExtension));
    if (fileName.isEmpty() || !m_session->holds(module))
        return;
    if (!fileName.endsWith(profileExtension, Qt::CaseInsensitive))
        fileName += profileExtension;
    m_profilePath = QFileInfo(fileName).absolutePath();

    if (m_saveJob)
        return; // one save at a time
    // Read on the device side; the window goes on meanwhile.
    auto* job = new SaveProfileJob(m_session, module, fileName, this);
    m_saveJob = job;
    run(job, &ProfileDesk::saveEnded);
}

void ProfileDesk::saveEnded(ServiceJob* job)
{
    if (m_saveJob == job)
        m_saveJob = nullptr;
    const auto* save = static_cast<SaveProfileJob*>(job);
    switch (job->error()) {
    case ServiceJob::NoError:
        StatusMessages::showNote(m_statusBar, tr("Profile saved to file %1.").arg(save->fileName()));
        break;
    case SaveProfileJob::NotRead:
        StatusMessages::showError(m_statusBar, job->errorText());
        dialogs()->warning(m_window, ApplicationIdentity::title(), job->errorText());
        break;
    case SaveProfileJob::NotSaved:
        StatusMessages::showError(m_statusBar, job->errorText());
        break;
    default:
        // Gone or cancelled: nothing was written to the file.
        StatusMessages::showError(m_statusBar, tr("Profile not saved: %1").arg(job->errorText()));
        break;
    }
}

void ProfileDesk::loadProfile()
{
    if (m_writeJob)
        return; // one write at a time; its window still shows it
    const int moduleIndex = m_session->currentModuleIndex();
    // Shared: the module stays a valid object through the preview even if a rediscovery releases
    // it meanwhile; the write job then ends as soon as the session no longer lists it.
    const std::shared_ptr<BaseModule> module = m_session->sharedModule(moduleIndex);
    if (!module)
        return;
    const QString fileName =
        dialogs()->getOpenFileName(m_window, tr("Load Module Profile"), QString(), tr("Profile Files (*.txt)"));
    if (fileName.isEmpty() || !m_session->holds(module.get()))
        return;
    m_profilePath = QFileInfo(fileName).absolutePath();

    const bool refreshWasRunning = m_hooks.pauseRefresh();
    auto restartRefresh = qScopeGuard([this, refreshWasRunning] {
        if (refreshWasRunning)
            m_hooks.resumeRefresh();
    });

    ModuleProfile loaded;
    QString error;
    if (!ModuleProfile::load(fileName, module->channelNumber(), &loaded, &error)) {
        StatusMessages::showError(m_statusBar, error);
        dialogs()->warning(m_window, ApplicationIdentity::title(), error);
        return;
    }
    // Without recorded units the numbers are taken in the module's display units; unless those
    // are the defaults (V, mA), the operator confirms that this is what the file means.
    const QString voltageUnit = module->voltageUnit(0);
    const QString currentUnit = module->currentUnit(0);
    if (!loaded.recordsUnits() && (voltageUnit != QLatin1String("V") || currentUnit != QLatin1String("mA"))) {
        const QString question =
            tr("The profile %1 records no units. Its voltages will be written as %2 and its currents as %3, the "
               "display units of this module now (a profile saved in V and mA would be written wrongly).\n\n"
               "Are the values in the file in %2 and %3?")
                .arg(fileName, voltageUnit, currentUnit);
        if (dialogs()->question(
                m_window, ApplicationIdentity::title(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes) {
            StatusMessages::showNote(m_statusBar, tr("Profile not written: its units were not confirmed."));
            return;
        }
        if (!m_session->holds(module.get()))
            return;
    }
    if (!m_dialogWriteProfile) {
        m_dialogWriteProfile = new DialogWriteProfile(m_window);
        connect(this, &ProfileDesk::addLineToWriteProfileLog, m_dialogWriteProfile, &DialogWriteProfile::addToLog);
    }
    m_dialogWriteProfile->show();
    m_dialogWriteProfile->activateWindow();
    const QStringList lines = loaded.previewLines(fileName, module->voltageUnit(0), module->currentUnit(0));
    for (const QString& line : lines)
        emit addLineToWriteProfileLog(line);
    if (m_dialogWriteProfile->exec() != QDialog::Accepted)
        return;

    if (m_writeJob || !m_session->holds(module.get()))
        return; // one write at a time
    // In the units the module shows now (the operator may have changed them while reading).
    auto* job = new ProfileWriteJob(
        m_session, module.get(), loaded.convertedTo(module->voltageUnit(0), module->currentUnit(0)), this);
    m_writeJob = job;
    // The write's log follows the preview in the same window.
    const QPointer<DialogWriteProfile> window = m_dialogWriteProfile;
    connect(job, &ProfileWriteJob::logLine, this, &ProfileDesk::addLineToWriteProfileLog);
    connect(job, &ServiceJob::progress, window, &DialogWriteProfile::setWriteProgress);
    connect(window, &DialogWriteProfile::cancelWriteRequested, job, &ServiceJob::kill);
    // Asked from the event loop, not from within the job's step.
    connect(
        job, &ProfileWriteJob::retryRequested, this,
        [this, job](const QString& question) {
            const bool retry = dialogs()->question(m_window, ApplicationIdentity::title(), question,
                                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                == QMessageBox::Yes;
            job->answerRetry(retry);
        },
        Qt::QueuedConnection);
    window->showWriting();
    // The job stops the refresh for as long as it runs.
    restartRefresh.dismiss();
    run(job, &ProfileDesk::writeEnded);
}

void ProfileDesk::writeEnded(ServiceJob* job)
{
    if (m_writeJob == job)
        m_writeJob = nullptr;
    if (m_dialogWriteProfile) {
        disconnect(m_dialogWriteProfile, &DialogWriteProfile::cancelWriteRequested, job, nullptr);
        m_dialogWriteProfile->writeFinished();
    }
    switch (job->error()) {
    case ServiceJob::NoError:
        StatusMessages::showNote(m_statusBar, tr("Profile written into device!"));
        dialogs()->information(m_window, ApplicationIdentity::title(), tr("Profile written into device!"));
        break;
    case ServiceJob::Cancelled:
    case ServiceJob::ModuleGone:
        // Logged by the job with the state the module was left in.
        StatusMessages::showError(m_statusBar, tr("Profile write stopped: %1").arg(job->errorText()));
        break;
    default:
        StatusMessages::showError(m_statusBar, job->errorText());
        dialogs()->information(m_window, ApplicationIdentity::title(), job->errorText());
        break;
    }
}

void ProfileDesk::showStatistic()
{
    if (!m_dialogStatistic) {
        m_dialogStatistic = new DialogStatistic(m_session, m_window);
        m_dialogStatistic->setUserDialogs(dialogs());
    }
    if (BaseModule* module = m_session->currentModule())
        m_dialogStatistic->setChannelCount(module->channelNumber());
    WindowFront::showAndActivate(m_dialogStatistic);
}
