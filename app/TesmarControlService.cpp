// The service functions of VME modules: special mode with the firmware transfer, factory
// settings with the VME test and the factory reset, and base address programming. A procedure
// fixes its module when it starts: every request carries that module's serial number and is
// carried out on it, whichever module the window shows meanwhile.
#include "TesmarControl.h"

#include "ui_TesmarControl.h"

#include "dialogs/common/StatusMessages.h"
#include "dialogs/common/UserDialogs.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/ModuleTypes.h"
#include "device/StatusWordBits.h"
#include "device/WriteJournal.h"
#include "dialogs/DialogFactory.h"
#include "dialogs/DialogSpecial.h"
#include "service/AddressResetJob.h"
#include "service/BaseAddressJob.h"
#include "service/FactoryResetJob.h"
#include "service/FirmwareTransferJob.h"

#include <QDebug>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {
// A window with the progress of `job` and a Cancel button that kills it, for a procedure that has
// no window of its own; it closes when the job ends.
void showCancellable(QWidget* parent, ServiceJob* job, const QString& title, const QString& label, const QString& cancelText)
{
    auto* window = new QProgressDialog(label, cancelText, 0, 0, parent);
    window->setObjectName(QStringLiteral("serviceJobProgress"));
    window->setWindowTitle(title);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::NonModal);
    window->setAutoClose(false);
    window->setAutoReset(false);
    window->setMinimumDuration(0);
    QObject::connect(job, &ServiceJob::progress, window, [window](int done, int total) {
        window->setMaximum(total);
        window->setValue(done);
    });
    QObject::connect(window, &QProgressDialog::canceled, job, &ServiceJob::kill);
    QObject::connect(job, &ServiceJob::finished, window, [window, job] {
        QObject::disconnect(window, &QProgressDialog::canceled, job, nullptr);
        window->close();
    });
    window->show();
}

constexpr quint32 commandEndSpecial = 7;
constexpr quint32 commandLiveInsertion = 12;

constexpr int twentyFourChannelClass = 29;
constexpr quint32 smallWindow = 0x400;
constexpr quint32 largeWindow = 0x800;
constexpr quint32 lastAddress = 0xFFFE;

// A service read counts as lost (and is asked again) after this long without an answer.
constexpr qint64 serviceReadLostAfterMs = 1000;

template <typename Window>
void showAndActivate(Window* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

QString spacePaddedHex(quint32 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char(' '));
}
} // namespace

// ---- Targets ----------------------------------------------------------------------------

BaseModule* TesmarControl::dialogTarget(ServiceDialog dialog) const
{
    if (dialog == ServiceDialog::Special)
        return dialogSpecial ? dialogSpecial->target() : nullptr;
    return dialogFactory ? dialogFactory->target() : nullptr;
}

BaseModule* TesmarControl::serviceTarget(ServiceDialog dialog)
{
    // The module object the procedure started on, as long as it is still listed: never another
    // module with the same serial number, never the one the window shows meanwhile.
    BaseModule* module = dialogTarget(dialog);
    if (module && session->modules().contains(module))
        return module;
    tellServiceDialog(dialog, tr("The module this dialog was opened for is gone: nothing was sent to it."));
    return nullptr;
}

QString TesmarControl::serviceTargetName(BaseModule* module, int serialNumber)
{
    return tr("%1, serial %2").arg(module->address()).arg(serialNumber);
}

int TesmarControl::lastReadSerialNumber(BaseModule* module) const
{
    // The serial number the refresh read last: naming a module must not wait on the bus.
    const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(int(session->modules().indexOf(module)));
    return snapshot ? snapshot->serialNumber : 0;
}

void TesmarControl::tellServiceDialog(ServiceDialog dialog, const QString& text)
{
    if (dialog == ServiceDialog::Special && dialogSpecial)
        dialogSpecial->showProblem(text);
    else if (dialog == ServiceDialog::Factory && dialogFactory)
        dialogFactory->showProblem(text);
}

void TesmarControl::serviceWrite(ServiceDialog dialog, const QString& what, std::function<bool(BaseModule&)> write)
{
    BaseModule* module = serviceTarget(dialog);
    const int index = int(session->modules().indexOf(module));
    if (!module || index < 0)
        return;
    // Sent on the poller's thread after the commands before it; a refusal comes back here to the
    // status bar and the dialog. The module is only compared there, never used from here.
    const BaseModule* target = module;
    const QPointer<BaseModule> held(module);
    session->submitCommand(this, index, DeviceSession::Priority::Normal,
        [this, target, held, dialog, what, write = std::move(write)](BaseModule& each) -> DeviceSession::CommandResult {
            if (&each != target)
                return [this, dialog] {
                    tellServiceDialog(dialog, tr("The module this dialog was opened for is gone: nothing was sent to it."));
                };
            const WriteSource source("service");
            if (write(each))
                return [this] { refreshCurrentModuleNow(); };
            const QString why = each.lastError();
            return [this, held, dialog, what, why] {
                if (held)
                    showWriteFailures(held, what, {{-1, why}});
                tellServiceDialog(dialog, tr("%1 refused: %2").arg(what, why));
            };
        });
}

void TesmarControl::serviceModuleControl(ServiceDialog dialog, quint32 control)
{
    serviceWrite(dialog, tr("set module control 0x%1").arg(control, 0, 16),
        [control](BaseModule& module) { return module.setControl(control); });
}

void TesmarControl::followCurrentModuleInServiceDialogs()
{
    BaseModule* module = currentModule();
    if (!module)
        return;
    const int serialNumber = lastReadSerialNumber(module);
    // Only a change is passed on: this runs on every refresh tick, so the names follow the
    // serial numbers once they are read.
    if (dialogSpecial && !dialogSpecial->transferRunning()
        && (dialogSpecial->target() != module || dialogSpecial->serialNumber() != serialNumber)) {
        dialogSpecial->setTarget(module, serialNumber, serviceTargetName(module, serialNumber));
        dialogSpecial->updateDeviceClass(quint16(module->deviceClass()));
    }
    if (dialogFactory && (dialogFactory->target() != module || dialogFactory->serialNumber() != serialNumber)) {
        dialogFactory->setTarget(module, serialNumber, serviceTargetName(module, serialNumber));
        dialogFactory->setChannelNumber(module->channelNumber());
    }
}

// ---- Reads for the dialogs --------------------------------------------------------------

void TesmarControl::refreshServiceDialogs()
{
    if (dialogSpecial || dialogFactory)
        followCurrentModuleInServiceDialogs();
    // A transfer reads the words itself (and goes on while its dialog is hidden).
    if (dialogSpecial && dialogSpecial->isVisible() && !dialogSpecial->transferRunning())
        readServiceWords(ServiceDialog::Special);
    if (dialogFactory && dialogFactory->isVisible())
        readServiceWords(ServiceDialog::Factory);
}

void TesmarControl::readServiceWords(ServiceDialog dialog)
{
    BaseModule* target = dialogTarget(dialog);
    const int index = int(session->modules().indexOf(target));
    if (!target || index < 0)
        return;
    // One read in flight per dialog: a slow module is not asked faster than it answers.
    qint64& startedAtMs = serviceReadAtMs[int(dialog)];
    const qint64 nowMs = ModuleSnapshot::nowMs();
    if (startedAtMs >= 0 && nowMs - startedAtMs < serviceReadLostAfterMs)
        return;
    startedAtMs = nowMs;

    struct Words
    {
        quint32 control = 0, status = 0, eventMask = 0, eventChannelMask = 0;
        quint32 specialCommand = 0, specialStatus = 0;
        bool eventMaskRead = false, eventChannelMaskRead = false;
    };
    const bool special = dialog == ServiceDialog::Special;
    DeviceSession* context = session.get();
    QPointer<TesmarControl> window(this);
    // Runs on the poller's thread; the session outlives every poller pass, and a call posted to
    // it dies with it. The words go to the dialog only, and only when they are its target's: the
    // other windows have the refresh's own reports.
    session->poller()->readOnce(index, [=](BaseModule& module) {
        using Quantity = BaseModule::Quantity;
        if (&module != target)
            return;
        Words words;
        if (special) {
            words.specialCommand = module.specialControlCommand();
            words.specialStatus = module.specialControlStatus();
        } else {
            words.eventMaskRead = module.reports(Quantity::ModuleEventMask);
            words.eventChannelMaskRead = module.reports(Quantity::EventChannelWords);
            if (words.eventMaskRead)
                words.eventMask = module.eventMask();
            if (words.eventChannelMaskRead)
                words.eventChannelMask = module.eventChannelMask();
        }
        words.control = module.control();
        words.status = module.status();
        // Zeros of a module that did not answer are not readings.
        const bool answered = module.connected();
        QMetaObject::invokeMethod(
            context,
            [window, dialog, answered, target, words] {
                if (!window)
                    return;
                window->serviceReadAtMs[int(dialog)] = -1;
                if (!answered || window->dialogTarget(dialog) != target)
                    return;
                if (dialog == ServiceDialog::Special) {
                    DialogSpecial* special = window->dialogSpecial;
                    const int serial = special->serialNumber();
                    special->updateModuleControl(serial, words.control);
                    special->updateModuleStatus(serial, words.status);
                    special->updateModuleSpecialControlStatus(serial, words.specialCommand, words.specialStatus);
                    return;
                }
                DialogFactory* factory = window->dialogFactory;
                const int serial = factory->serialNumber();
                factory->updateModuleControl(serial, words.control);
                factory->updateModuleStatus(serial, words.status);
                if (words.eventChannelMaskRead)
                    factory->updateModuleEventChannelMask(serial, words.eventChannelMask);
                // Last: the factory dialog takes the event mask as its tick.
                if (words.eventMaskRead)
                    factory->updateModuleEventMask(serial, words.eventMask);
            },
            Qt::QueuedConnection);
    });
}

// ---- Special mode -----------------------------------------------------------------------

void TesmarControl::on_actionSpecialMode_triggered()
{
    if (!dialogSpecial) {
        DialogSpecial* dialog = new DialogSpecial(this);
        dialogSpecial = dialog;
        // The dialog's module words come from its own reads (readServiceWords), not from the
        // broadcasts, which another module with the same serial number could send.
        connect(dialog, &DialogSpecial::setModuleControl, this,
            [this](int, quint32 control) { serviceModuleControl(ServiceDialog::Special, control); });
        connect(dialog, &DialogSpecial::setSpecialControl, this, &TesmarControl::setSpecialControl);
        connect(dialog, &DialogSpecial::transferRequested, this, &TesmarControl::startFirmwareTransfer);
        connect(session.get(), &DeviceSession::currentModuleChanged, this,
            &TesmarControl::followCurrentModuleInServiceDialogs, Qt::UniqueConnection);
    }
    dialogSpecial->setUserDialogs(dialogs());
    if (!dialogSpecial->transferRunning()) {
        followCurrentModuleInServiceDialogs();
        dialogSpecial->setHexFilename(openSettings()->value(QStringLiteral("DefaultHexFileName")).toString());
    }
    showAndActivate(dialogSpecial.data());
}

void TesmarControl::setSpecialControl(int, quint32 command)
{
    if (!serviceTarget(ServiceDialog::Special))
        return;
    // Leaving special mode: the module is read again (a live insertion below may stop it).
    if (command == commandEndSpecial && serviceJobsRunning == 0)
        refreshTimer->start();
    serviceWrite(ServiceDialog::Special, tr("special command %1").arg(command),
        [command](BaseModule& module) { return module.setSpecialControlCommand(command); });
    if (command == commandLiveInsertion) {
        const int count = int(session->modules().size());
        if (count == 1)
            refreshTimer->stop();
        else if (count > 1)
            selectModuleRow((session->currentModuleIndex() + 1) % count); // the list follows
    }
}

void TesmarControl::startFirmwareTransfer(const QVector<FirmwareFile::Line>& lines, qint64 fileSize, bool write)
{
    BaseModule* module = serviceTarget(ServiceDialog::Special);
    if (!module || !dialogSpecial)
        return;
    auto* job = new FirmwareTransferJob(session.get(), module, lines, fileSize, write, this);
    reportRefusals(job, ServiceDialog::Special);
    // While the module settles into special mode it is left alone; the window reads it again
    // once programming or comparing starts.
    auto pausedRefresh = std::make_shared<bool>(false);
    const auto resumeRefresh = [this, pausedRefresh] {
        if (*pausedRefresh && serviceJobsRunning == 0)
            refreshTimer->start();
        *pausedRefresh = false;
    };
    connect(job, &FirmwareTransferJob::quietPeriod, this, [this, pausedRefresh, resumeRefresh](bool quiet) {
        if (!quiet) {
            resumeRefresh();
        } else if (refreshTimer->isActive()) {
            refreshTimer->stop();
            *pausedRefresh = true;
        }
    });
    connect(job, &ServiceJob::finished, this, [resumeRefresh](ServiceJob* ended) {
        ended->deleteLater();
        resumeRefresh(); // also when it ended while the module settled
    });
    dialogSpecial->followTransfer(job);
    job->start();
}

// ---- Factory settings -------------------------------------------------------------------

void TesmarControl::on_actionFactorySettings_triggered()
{
    if (!dialogFactory) {
        DialogFactory* dialog = new DialogFactory(this);
        dialogFactory = dialog;
        connect(dialog, &DialogFactory::setModuleControl, this,
            [this](int, quint32 control) { serviceModuleControl(ServiceDialog::Factory, control); });
        connect(dialog, &DialogFactory::setModuleEventMask, this, [this](int, quint32 mask) {
            serviceWrite(ServiceDialog::Factory, tr("set module event mask 0x%1").arg(mask, 0, 16),
                [mask](BaseModule& module) { return module.setEventMask(mask); });
        });
        connect(dialog, &DialogFactory::setModuleEventChannelMask, this, [this](int, quint32 mask) {
            serviceWrite(ServiceDialog::Factory, tr("set event channel mask 0x%1").arg(mask, 0, 16),
                [mask](BaseModule& module) { return module.setEventChannelMask(mask); });
        });
        connect(dialog, &DialogFactory::storeFactorySettings, this, &TesmarControl::storeFactorySettings);
        connect(this, &TesmarControl::factoryResetDone, dialog, &DialogFactory::factoryResetDone);
        connect(this, &TesmarControl::factoryResetCancelled, dialog, &DialogFactory::factoryResetCancelled);
        connect(this, &TesmarControl::factoryResetProgress, dialog, &DialogFactory::factoryResetProgress);
        connect(dialog, &DialogFactory::cancelFactoryReset, this, &TesmarControl::cancelFactoryReset);
        connect(session.get(), &DeviceSession::currentModuleChanged, this,
            &TesmarControl::followCurrentModuleInServiceDialogs, Qt::UniqueConnection);
    }
    followCurrentModuleInServiceDialogs();
    showAndActivate(dialogFactory.data());
}

void TesmarControl::storeFactorySettings(int)
{
    if (factoryResetJob)
        return; // one reset at a time; the dialog's buttons are disabled meanwhile
    BaseModule* module = serviceTarget(ServiceDialog::Factory);
    if (!module) {
        emit factoryResetDone(false);
        return;
    }
    auto* job = new FactoryResetJob(session.get(), module, this);
    factoryResetJob = job;
    connect(
        job, &ServiceJob::message, this, [this](const QString& text) { tellServiceDialog(ServiceDialog::Factory, text); });
    if (dialogFactory)
        connect(job, &FactoryResetJob::channelReset, dialogFactory.data(), &DialogFactory::showChannelReset);
    connect(job, &ServiceJob::progress, this, [this](int done, int total) { emit factoryResetProgress(done, total); });
    connect(job, &ServiceJob::finished, this, &TesmarControl::factoryResetEnded);
    startServiceJob(job, ServiceDialog::Factory);
}

void TesmarControl::cancelFactoryReset()
{
    if (factoryResetJob)
        factoryResetJob->kill();
}

void TesmarControl::factoryResetEnded(ServiceJob* job)
{
    serviceJobEnded(job);
    switch (job->error()) {
    case ServiceJob::Cancelled:
        emit factoryResetCancelled();
        return;
    case ServiceJob::GaveUp:
        dialogs()->information(this, applicationName(), job->errorText(), QMessageBox::Ok);
        break;
    case ServiceJob::ModuleGone:
        // A module that went away is not an error of the module: no message box.
        tellServiceDialog(ServiceDialog::Factory, job->errorText());
        break;
    default:
        break;
    }
    emit factoryResetDone(job->error() == ServiceJob::NoError);
}

void TesmarControl::reportRefusals(ServiceJob* job, ServiceDialog dialog)
{
    QPointer<BaseModule> module = job->module();
    connect(
        job, &ServiceJob::refused, this, [this, dialog, module](int channel, const QString& what, const QString& reason) {
            if (module)
                showWriteFailures(module, what, {{channel, reason}});
            const QString where = channel >= 0 ? tr("Channel %1: ").arg(channel) : QString();
            tellServiceDialog(dialog, tr("%1%2 refused: %3").arg(where, what, reason));
        });
}

void TesmarControl::startServiceJob(ServiceJob* job, ServiceDialog dialog)
{
    reportRefusals(job, dialog);
    // The window is read again when the last procedure ended.
    if (serviceJobsRunning++ == 0)
        refreshTimer->stop();
    job->start();
}

void TesmarControl::serviceJobEnded(ServiceJob* job)
{
    if (factoryResetJob == job)
        factoryResetJob = nullptr;
    if (baseAddressJob == job)
        baseAddressJob = nullptr;
    job->deleteLater();
    if (--serviceJobsRunning == 0)
        refreshTimer->start();
    refreshCurrentModuleNow();
}

// ---- Base address -----------------------------------------------------------------------

quint32 TesmarControl::addressWindowOf(BaseModule* module)
{
    return module->firmwareName() == ModuleTypes::nameOf(twentyFourChannelClass) ? largeWindow : smallWindow;
}

void TesmarControl::on_actionProgramNewBaseAddress_triggered()
{
    QPointer<BaseModule> module = currentModule();
    if (!module || baseAddressJob)
        return;
    programNewBaseAddress(module);
}

bool TesmarControl::programNewBaseAddress(const QPointer<BaseModule>& module)
{
    const quint16 currentAddress = module->baseAddress();
    const QString currentText = QString::asprintf("0x%04X", currentAddress);

    // A candidate is free when its register window overlaps no other module's window.
    struct Window
    {
        quint32 start, size;
    };
    QVector<Window> used;
    const QList<BaseModule*> modules = session->modules();
    for (BaseModule* other : modules) {
        if (other != module && other->baseAddress() != currentAddress)
            used.append(Window{other->baseAddress(), addressWindowOf(other)});
    }
    const quint32 step = addressWindowOf(module);
    QStringList candidates;
    for (quint32 candidate = 0; candidate <= lastAddress; candidate += step) {
        const bool overlaps = std::any_of(used.cbegin(), used.cend(),
            [&](const Window& w) { return candidate < w.start + w.size && w.start < candidate + step; });
        if (!overlaps)
            candidates.append(QString::asprintf("0x%04X", candidate));
    }

    bool ok = false;
    // The window may show another module than the one this procedure acts on: the question
    // names it in its first line.
    const int serialNumber = lastReadSerialNumber(module);
    const QString choice = dialogs()->getItem(this, applicationName(),
        serviceTargetName(module, serialNumber) + QStringLiteral("\n\n")
            + tr("Please choose a new VME Base Address for the module with serial number %1.\n\nThis new address is "
                 "programmed in the EEPROM of the module and used after a reset.\n\nPlease make sure that the "
                 "address jumper is not set!")
                  .arg(serialNumber),
        candidates, int(candidates.indexOf(currentText)), false, &ok);
    if (!ok || choice.isEmpty() || !isHeld(module) || baseAddressJob)
        return false;
    QString digits = choice.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    const uint parsed = digits.toUInt(&ok, 16);
    if (!ok || parsed > 0xFFFF)
        return false;

    auto* job = new BaseAddressJob(session.get(), module, quint16(parsed), this);
    baseAddressJob = job;
    connect(job, &ServiceJob::finished, this,
        [this, currentText](ServiceJob* ended) { baseAddressProgrammed(ended, currentText); });
    showCancellable(this, job, applicationName(),
        tr("Programming the new base address 0x%1 ...").arg(parsed, 4, 16, QLatin1Char('0')), tr("&Cancel Programming"));
    startServiceJob(job, ServiceDialog::None);
    return true;
}

void TesmarControl::baseAddressProgrammed(ServiceJob* job, const QString& oldAddressText)
{
    serviceJobEnded(job);
    QPointer<BaseModule> module = job->module();
    if (job->error() == ServiceJob::GaveUp)
        dialogs()->information(this, applicationName(), job->errorText(), QMessageBox::Ok);
    if (job->error() == ServiceJob::Cancelled) {
        StatusMessages::showError(statusBar(),
            tr("Base address programming cancelled. The module answers at its old address until a reset; whether its "
               "EEPROM took the new one was not checked."));
    }
    // A refused write is in the status bar already; a module that went away or a cancel ends it.
    if (job->error() != ServiceJob::NoError || !isHeld(module))
        return;
    const quint16 newAddress = static_cast<BaseAddressJob*>(job)->newAddress();
    if (dialogs()->question(this, applicationName(),
            tr("Module returned new address = 0x%1, which seems to be ok.\n\nDo you want to reset the module to use this "
               "new address?")
                .arg(spacePaddedHex(newAddress)),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes) {
        dialogs()->information(this, applicationName(),
            tr("The Module still uses the old address %1.\n\nYou can communicate with it till the next hardware "
               "reset.\n\nPlease note the new address 0x%2 and use this addressfor communication after the reset.")
                .arg(oldAddressText, QStringLiteral("%1").arg(newAddress, 4, 16, QLatin1Char('0'))),
            QMessageBox::Ok);
        return;
    }
    if (!isHeld(module) || baseAddressJob)
        return;
    auto* reset = new AddressResetJob(session.get(), module, newAddress, this);
    baseAddressJob = reset;
    connect(reset, &ServiceJob::finished, this, &TesmarControl::baseAddressResetEnded);
    showCancellable(this, reset, applicationName(),
        tr("Resetting the module to its new address 0x%1 ...").arg(newAddress, 4, 16, QLatin1Char('0')),
        tr("&Cancel Reset"));
    startServiceJob(reset, ServiceDialog::None);
}

void TesmarControl::baseAddressResetEnded(ServiceJob* job)
{
    serviceJobEnded(job);
    BaseModule* module = job->module();
    if (job->error() == ServiceJob::NoError && isHeld(module))
        showModuleAddress(module);
    else if (job->error() == ServiceJob::GaveUp)
        dialogs()->warning(this, applicationName(), job->errorText(), QMessageBox::Ok);
    else if (job->error() == ServiceJob::Cancelled)
        StatusMessages::showError(statusBar(),
            tr("Reset to the new base address cancelled. The module may still be in special mode; it answers at its "
               "old address until a reset."));
}

void TesmarControl::showModuleAddress(BaseModule* module)
{
    // The list entry and the connection line name the module by its address: after a move
    // they must not point the operator at the address it left.
    const int index = session->modules().indexOf(module);
    if (const QListWidgetItem* item = ui->lstModules->item(index))
        setModuleListText(index, item->text().section(QLatin1Char('\n'), 1));
    if (index == session->currentModuleIndex() && module->connectionState() == BaseModule::ModuleStateInitialised)
        ui->lblConnect->setText(connectionLine(module));
}
