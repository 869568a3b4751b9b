// Module profiles (save, load with preview, the guarded write) and the statistic window.
#include "TesmarControl.h"

#include "dialogs/common/StatusMessages.h"

#include "dialogs/common/UserDialogs.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "profiles/DialogStatistic.h"
#include "profiles/DialogWriteProfile.h"
#include "profiles/ModuleProfile.h"
#include "profiles/ProfileWriteJob.h"
#include "profiles/SaveProfileJob.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTimer>

namespace {
const QString profileExtension = QStringLiteral(".txt");
}

void TesmarControl::on_actionSaveProfile_triggered()
{
    const QPointer<BaseModule> module = currentModule();
    if (!module)
        return;
    const QString proposed =
        QStringLiteral("%1/%2%3").arg(QDir(profilePath).absolutePath()).arg(module->serialNumber()).arg(profileExtension);
    QString fileName = dialogs()->getSaveFileName(
        this, tr("Save Module Profile"), proposed, tr("Profile Files (*%1)").arg(profileExtension));
    if (fileName.isEmpty() || !isHeld(module))
        return;
    if (!fileName.endsWith(profileExtension, Qt::CaseInsensitive))
        fileName += profileExtension;
    profilePath = QFileInfo(fileName).absolutePath();

    if (profileSaveJob)
        return; // one save at a time
    // Read on the device side; the window goes on meanwhile.
    auto* job = new SaveProfileJob(session.get(), module, fileName, this);
    profileSaveJob = job;
    connect(job, &ServiceJob::finished, this, &TesmarControl::profileSaveEnded);
    startServiceJob(job, ServiceDialog::None);
}

void TesmarControl::profileSaveEnded(ServiceJob* job)
{
    serviceJobEnded(job);
    const auto* save = static_cast<SaveProfileJob*>(job);
    switch (job->error()) {
    case ServiceJob::NoError:
        StatusMessages::showNote(statusBar(), tr("Profile saved to file %1.").arg(save->fileName()));
        break;
    case SaveProfileJob::NotRead:
        StatusMessages::showError(statusBar(), job->errorText());
        dialogs()->warning(this, applicationName(), job->errorText());
        break;
    case SaveProfileJob::NotSaved:
        StatusMessages::showError(statusBar(), job->errorText());
        break;
    default:
        // Gone or cancelled: nothing was written to the file.
        StatusMessages::showError(statusBar(), tr("Profile not saved: %1").arg(job->errorText()));
        break;
    }
}

void TesmarControl::on_actionLoadProfile_triggered()
{
    if (profileWriteJob)
        return; // one write at a time; its window still shows it
    const int moduleIndex = session->currentModuleIndex();
    // Shared: the module stays a valid object through the preview even if a rediscovery releases
    // it meanwhile; the write job then ends as soon as the session no longer lists it.
    const std::shared_ptr<BaseModule> module = session->sharedModule(moduleIndex);
    if (!module)
        return;
    const QString fileName =
        dialogs()->getOpenFileName(this, tr("Load Module Profile"), QString(), tr("Profile Files (*.txt)"));
    if (fileName.isEmpty() || !isHeld(module.get()))
        return;
    profilePath = QFileInfo(fileName).absolutePath();

    const bool refreshWasRunning = refreshTimer->isActive();
    refreshTimer->stop();
    auto restartRefresh = qScopeGuard([this, refreshWasRunning] {
        if (refreshWasRunning && refreshTimer)
            refreshTimer->start();
    });

    ModuleProfile loaded;
    QString error;
    if (!ModuleProfile::load(fileName, module->channelNumber(), &loaded, &error)) {
        StatusMessages::showError(statusBar(), error);
        dialogs()->warning(this, applicationName(), error);
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
        if (dialogs()->question(this, applicationName(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes) {
            StatusMessages::showNote(statusBar(), tr("Profile not written: its units were not confirmed."));
            return;
        }
        if (!isHeld(module.get()))
            return;
    }
    if (!dialogWriteProfile) {
        dialogWriteProfile = new DialogWriteProfile(this);
        connect(this, &TesmarControl::addLineToWriteProfileLog, dialogWriteProfile, &DialogWriteProfile::addToLog);
    }
    dialogWriteProfile->show();
    dialogWriteProfile->activateWindow();
    const QStringList lines = loaded.previewLines(fileName, module->voltageUnit(0), module->currentUnit(0));
    for (const QString& line : lines)
        emit addLineToWriteProfileLog(line);
    if (dialogWriteProfile->exec() != QDialog::Accepted)
        return;

    if (profileWriteJob || !isHeld(module.get()))
        return; // one write at a time
    // In the units the module shows now (the operator may have changed them while reading).
    auto* job = new ProfileWriteJob(
        session.get(), module.get(), loaded.convertedTo(module->voltageUnit(0), module->currentUnit(0)), this);
    profileWriteJob = job;
    // The write's log follows the preview in the same window.
    const QPointer<DialogWriteProfile> window = dialogWriteProfile;
    connect(job, &ProfileWriteJob::logLine, this, &TesmarControl::addLineToWriteProfileLog);
    connect(job, &ServiceJob::progress, window, &DialogWriteProfile::setWriteProgress);
    connect(window, &DialogWriteProfile::cancelWriteRequested, job, &ServiceJob::kill);
    // Asked from the event loop, not from within the job's step.
    connect(
        job, &ProfileWriteJob::retryRequested, this,
        [this, job](const QString& question) {
            const bool retry =
                dialogs()->question(this, applicationName(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                == QMessageBox::Yes;
            job->answerRetry(retry);
        },
        Qt::QueuedConnection);
    connect(job, &ServiceJob::finished, this, &TesmarControl::profileWriteEnded);
    window->showWriting();
    // The job stops the refresh for as long as it runs.
    restartRefresh.dismiss();
    startServiceJob(job, ServiceDialog::None);
}

void TesmarControl::profileWriteEnded(ServiceJob* job)
{
    serviceJobEnded(job);
    if (dialogWriteProfile) {
        disconnect(dialogWriteProfile, &DialogWriteProfile::cancelWriteRequested, job, nullptr);
        dialogWriteProfile->writeFinished();
    }
    switch (job->error()) {
    case ServiceJob::NoError:
        StatusMessages::showNote(statusBar(), tr("Profile written into device!"));
        dialogs()->information(this, applicationName(), tr("Profile written into device!"));
        break;
    case ServiceJob::Cancelled:
    case ServiceJob::ModuleGone:
        // Logged by the job with the state the module was left in.
        StatusMessages::showError(statusBar(), tr("Profile write stopped: %1").arg(job->errorText()));
        break;
    default:
        StatusMessages::showError(statusBar(), job->errorText());
        dialogs()->information(this, applicationName(), job->errorText());
        break;
    }
}

void TesmarControl::on_actionStatistic_triggered()
{
    if (!dialogStatistic) {
        dialogStatistic = new DialogStatistic(session.get(), this);
        dialogStatistic->setUserDialogs(dialogs());
    }
    if (BaseModule* module = currentModule())
        dialogStatistic->setChannelCount(module->channelNumber());
    dialogStatistic->show();
    dialogStatistic->raise();
    dialogStatistic->activateWindow();
}
