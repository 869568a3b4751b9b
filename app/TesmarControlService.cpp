// The service functions of VME modules: special mode with the firmware transfer, factory
// settings with the VME test and the factory reset, and base address programming. A procedure
// fixes its module when it starts: every request carries that module's serial number and is
// carried out on it, whichever module the window shows meanwhile.
#include "TesmarControl.h"

#include "ui_TesmarControl.h"

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

#include <QDebug>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
// Store the set values as the module's defaults: save with fine adjustment, clear and stop.
constexpr quint32 storeFactoryDefaults = ModuleControlBit::saveSetValues | ModuleControlBit::fineAdjustment
    | ModuleControlBit::clearEvents | ModuleControlBit::stop;
constexpr quint32 allBits = 0xFFFFFFFF;
constexpr quint32 commandReset = 9;
constexpr quint32 commandSpecialReached = 14;
constexpr quint32 commandLiveInsertion = 12;

constexpr int twentyFourChannelClass = 29;
constexpr quint32 smallWindow = 0x400;
constexpr quint32 largeWindow = 0x800;
constexpr quint32 lastAddress = 0xFFFE;

constexpr int channelReadBackReads = 200;
constexpr int stopReads = 199;
constexpr int saveReads = 5000;
constexpr int verifyReads = 10;
constexpr int specialModeTries = 20;
constexpr int addressWaitMs = 50;
constexpr double nominalTolerance = 1e-12;

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

bool TesmarControl::serviceCheck(bool ok, ServiceDialog dialog, BaseModule* module, int channel, const QString& what)
{
    if (ok)
        return true;
    const QString why = module->lastError();
    checkWrite(ok, module, channel, what);
    const QString where = channel >= 0 ? tr("Channel %1: ").arg(channel) : QString();
    tellServiceDialog(dialog, tr("%1%2 refused: %3").arg(where, what, why));
    return false;
}

void TesmarControl::serviceModuleControl(ServiceDialog dialog, quint32 control)
{
    const WriteSource source("service");
    if (BaseModule* module = serviceTarget(dialog))
        serviceCheck(module->setControl(control), dialog, module, -1, tr("set module control 0x%1").arg(control, 0, 16));
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
    // A transfer goes on while its dialog is hidden.
    if (dialogSpecial && (dialogSpecial->isVisible() || dialogSpecial->transferRunning()))
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
        connect(dialog, &DialogSpecial::sendHexLine, this, &TesmarControl::sendHexLine);
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
    const WriteSource source("service");
    BaseModule* module = serviceTarget(ServiceDialog::Special);
    if (!module)
        return;
    // The module is read again once programming, comparing or leaving special mode starts; while
    // it settles into special mode it is left alone.
    if (command == 3 || command == 4 || command == 7)
        refreshTimer->start();
    serviceCheck(module->setSpecialControlCommand(command), ServiceDialog::Special, module, -1,
        tr("special command %1").arg(command));
    if (command == commandSpecialReached)
        refreshTimer->stop();
    if (command == commandLiveInsertion) {
        const int count = int(session->modules().size());
        if (count == 1)
            refreshTimer->stop();
        else if (count > 1)
            selectModuleRow((session->currentModuleIndex() + 1) % count); // the list follows
    }
}

void TesmarControl::sendHexLine(int, QByteArray line)
{
    const WriteSource source("service");
    if (BaseModule* module = serviceTarget(ServiceDialog::Special))
        serviceCheck(module->sendHexLine(line), ServiceDialog::Special, module, -1, tr("send firmware line"));
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
            const WriteSource source("service");
            if (BaseModule* module = serviceTarget(ServiceDialog::Factory))
                serviceCheck(module->setEventMask(mask), ServiceDialog::Factory, module, -1,
                    tr("set module event mask 0x%1").arg(mask, 0, 16));
        });
        connect(dialog, &DialogFactory::setModuleEventChannelMask, this, [this](int, quint32 mask) {
            const WriteSource source("service");
            if (BaseModule* module = serviceTarget(ServiceDialog::Factory))
                serviceCheck(module->setEventChannelMask(mask), ServiceDialog::Factory, module, -1,
                    tr("set event channel mask 0x%1").arg(mask, 0, 16));
        });
        connect(dialog, &DialogFactory::storeFactorySettings, this, &TesmarControl::storeFactorySettings);
        connect(this, &TesmarControl::factoryResetDone, dialog, &DialogFactory::factoryResetDone);
        connect(this, &TesmarControl::updateChannelVoltageNominal, dialog, &DialogFactory::updateChannelVoltageNominal);
        connect(this, &TesmarControl::updateChannelCurrentNominal, dialog, &DialogFactory::updateChannelCurrentNominal);
        connect(session.get(), &DeviceSession::currentModuleChanged, this,
            &TesmarControl::followCurrentModuleInServiceDialogs, Qt::UniqueConnection);
    }
    followCurrentModuleInServiceDialogs();
    showAndActivate(dialogFactory.data());
}

void TesmarControl::storeFactorySettings(int)
{
    const WriteSource source("factory reset");
    QPointer<BaseModule> module = serviceTarget(ServiceDialog::Factory);
    if (!module) {
        emit factoryResetDone(false);
        return;
    }
    refreshTimer->stop();
    const bool success = runFactoryReset(module);
    refreshTimer->start();
    emit factoryResetDone(success);
}

template <typename Read, typename Done>
bool TesmarControl::readUntil(
    const QPointer<BaseModule>& module, int reads, int waitMs, Read read, Done done, const char* what)
{
    for (int left = reads - 1;; --left) {
        if (!isHeld(module))
            return false;
        const auto value = read();
        if (done(value))
            return true;
        qCDebug(lcService, "%s: timeout = %d", what, left);
        if (left <= 0)
            return false;
        waitProcessingEvents(waitMs);
    }
}

bool TesmarControl::runFactoryReset(const QPointer<BaseModule>& module)
{
    const ServiceDialog dialog = ServiceDialog::Factory;
    const int channels = module->channelNumber();
    const int serialNumber = dialogFactory ? dialogFactory->serialNumber() : lastReadSerialNumber(module);
    // Where the 24-channel layout keeps its hardware nominal values is not documented (its
    // variable group table lies where they would be). Its reset keeps the channels' nominal
    // values as they are instead of writing what an undocumented address holds, and takes the
    // current set value from the channel's own current nominal.
    const bool keepNominals = module->deviceClass() == twentyFourChannelClass;
    bool success = true;
    auto check = [&](bool ok, int channel, const QString& what) {
        if (isHeld(module) && !serviceCheck(ok, dialog, module, channel, what))
            success = false;
    };
    auto giveUp = [&](const QString& text) {
        success = false;
        // A module that went away is not an error of the module.
        if (isHeld(module))
            dialogs()->information(this, applicationName(), text, QMessageBox::Ok);
    };

    // The nominal values the channel goes back to. A read that failed (or gave nothing a module
    // can hold) is never written: the reset gives up instead.
    auto nominals = [&](int channel, float* voltage, float* current) {
        if (keepNominals) {
            *voltage = module->channelVoltageNominal(channel);
            *current = module->channelCurrentNominal(channel);
        } else {
            *voltage = module->channelVoltageHardwareNominal(channel);
            *current = module->channelCurrentHardwareNominal(channel);
        }
        if (std::isfinite(*voltage) && std::isfinite(*current) && *voltage > 0 && *current > 0)
            return true;
        giveUp(tr("Error reading the nominal values of Channel %1. Giving up.").arg(channel));
        return false;
    };
    if (keepNominals && isHeld(module))
        tellServiceDialog(dialog,
            tr("This module type does not document its hardware nominal values: the "
               "channels keep their nominal values."));

    // First pass: every channel off with its nominal values back at the hardware's.
    bool gaveUp = false;
    for (int channel = 0; channel < channels && isHeld(module); ++channel) {
        float voltage = 0, current = 0;
        if (!nominals(channel, &voltage, &current)) {
            gaveUp = true;
            break;
        }
        check(module->setChannelControl(channel, 0), channel, tr("set control 0"));
        if (!keepNominals) {
            check(module->setChannelVoltageNominal(channel, voltage), channel, tr("set nominal voltage"));
            check(module->setChannelCurrentNominal(channel, current), channel, tr("set nominal current"));
        }
    }

    // Second pass: the same, waiting until each value reads back, then the channel defaults.
    for (int channel = 0; channel < channels && !gaveUp && isHeld(module); ++channel) {
        float voltage = 0, current = 0;
        if (!nominals(channel, &voltage, &current)) {
            gaveUp = true;
            break;
        }
        check(module->setChannelControl(channel, 0), channel, tr("set control 0"));
        // Only an answered read counts: a failed one reads 0 and would look like the reset word.
        if (!readUntil(
                module, channelReadBackReads, 1,
                [&] {
                    quint32 control = 0;
                    return module->readChannelControl(channel, &control) && control == 0;
                },
                [](bool reset) { return reset; }, qPrintable(QStringLiteral("Control[%1]").arg(channel)))) {
            giveUp(tr("Error resetting Channel %1 Control word. Giving up.").arg(channel));
            gaveUp = true;
        }
        if (!gaveUp && !keepNominals) {
            check(module->setChannelVoltageNominal(channel, voltage), channel, tr("set nominal voltage"));
            if (!readUntil(
                    module, channelReadBackReads, 1, [&] { return module->channelVoltageNominal(channel); },
                    [&](float value) { return std::fabs(double(value) - double(voltage)) <= nominalTolerance; },
                    qPrintable(QStringLiteral("Vnominal[%1]").arg(channel)))) {
                giveUp(tr("Error resetting Channel %1 voltage nominal. Giving up.").arg(channel));
                gaveUp = true;
            }
        }
        if (!gaveUp && !keepNominals) {
            check(module->setChannelCurrentNominal(channel, current), channel, tr("set nominal current"));
            if (!readUntil(
                    module, channelReadBackReads, 1, [&] { return module->channelCurrentNominal(channel); },
                    [&](float value) { return std::fabs(double(value) - double(current)) <= nominalTolerance; },
                    qPrintable(QStringLiteral("Inominal[%1]").arg(channel)))) {
                giveUp(tr("Error resetting Channel %1 current nominal. Giving up.").arg(channel));
                gaveUp = true;
            }
        }
        if (!isHeld(module))
            break;
        if (!gaveUp) {
            check(module->setChannelEventMask(channel, allBits), channel, tr("set event mask"));
            check(module->setChannelVoltageSet(channel, 0), channel, tr("set voltage 0"));
            check(module->setChannelCurrentSet(channel, current), channel, tr("set current"));
            check(module->setChannelVoltageInterlockMaxSet(channel, 0), channel, tr("set voltage upper bound 0"));
            check(module->setChannelVoltageInterlockMinSet(channel, 0), channel, tr("set voltage lower bound 0"));
            check(module->setChannelCurrentInterlockMaxSet(channel, 0), channel, tr("set current upper bound 0"));
            check(module->setChannelCurrentInterlockMinSet(channel, 0), channel, tr("set current lower bound 0"));
        }
        emit updateChannelVoltageNominal(serialNumber, channel, voltage, module->voltageUnit(channel));
        emit updateChannelCurrentNominal(serialNumber, channel, current, module->currentUnit(channel));
    }

    if (!gaveUp && isHeld(module)) {
        check(module->setVoltageRampSpeed(1.0f), -1, tr("set voltage ramp speed"));
        check(module->setCurrentRampSpeed(50.0f), -1, tr("set current ramp speed"));
        check(module->setEventMask(allBits), -1, tr("set module event mask"));
        check(module->setEventChannelMask(allBits), -1, tr("set event channel mask"));
        check(module->setEventGroupMask(allBits), -1, tr("set event group mask"));
        check(module->setDigitalFilter(64), -1, tr("set digital filter"));
        check(module->setAdcSamplesPerSecond(500), -1, tr("set ADC sample rate"));
        check(module->setRestartTime(0), -1, tr("set restart time"));
        check(module->setControl(ModuleControlBit::stop), -1, tr("set module control 0x4"));
        waitProcessingEvents(1);
        if (readUntil(
                module, stopReads, 1, [&] { return module->status(); },
                [](quint32 status) { return (status & ModuleStatusBit::stopped) != 0; }, "Mod.Status"))
            check(module->setControl(storeFactoryDefaults), -1, tr("store the settings"));
        else if (isHeld(module))
            giveUp(tr("Error setting Module to mode STOP. Giving up."));
    }

    // The module stores its set values; the program waits until it reports that it is done.
    if (isHeld(module)) {
        waitProcessingEvents(1);
        // The store is finished only when an answered read shows the save bit cleared.
        const bool stored = readUntil(
            module, saveReads, 1,
            [&] {
                quint32 control = 0;
                return module->readControl(&control) && (control & ModuleControlBit::saveSetValues) == 0;
            },
            [](bool done) { return done; }, "Control.saveSetValues");
        if (!stored)
            success = false;
    }
    return success && isHeld(module);
}

// ---- Base address -----------------------------------------------------------------------

quint32 TesmarControl::addressWindowOf(BaseModule* module)
{
    return module->firmwareName() == ModuleTypes::nameOf(twentyFourChannelClass) ? largeWindow : smallWindow;
}

void TesmarControl::on_actionProgramNewBaseAddress_triggered()
{
    QPointer<BaseModule> module = currentModule();
    if (!module)
        return;
    refreshTimer->stop();
    programNewBaseAddress(module);
    refreshTimer->start();
}

void TesmarControl::programNewBaseAddress(const QPointer<BaseModule>& module)
{
    const WriteSource source("base address");
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
    if (!ok || choice.isEmpty() || !isHeld(module))
        return;
    QString digits = choice.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    const uint parsed = digits.toUInt(&ok, 16);
    if (!ok || parsed > 0xFFFF)
        return;
    const quint16 newAddress = quint16(parsed);

    if (!checkWrite(module->programBaseAddress(newAddress), module, -1,
            tr("program base address 0x%1").arg(newAddress, 4, 16, QLatin1Char('0'))))
        return;
    for (int read = 0; read < verifyReads; ++read) {
        if (module->verifyBaseAddress() == newAddress)
            break;
        waitProcessingEvents(addressWaitMs);
        if (!isHeld(module))
            return;
    }
    const quint16 returned = module->verifyBaseAddress();
    if (returned != newAddress) {
        dialogs()->information(this, applicationName(),
            tr("It seems the module did not accept our new address 0x%1.\n\nThe module returned 0x%2 instead. Giving up.")
                .arg(spacePaddedHex(newAddress), spacePaddedHex(returned)),
            QMessageBox::Ok);
        return;
    }
    if (dialogs()->question(this, applicationName(),
            tr("Module returned new address = 0x%1, which seems to be ok.\n\nDo you want to reset the module to use this "
               "new address?")
                .arg(spacePaddedHex(newAddress)),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes) {
        dialogs()->information(this, applicationName(),
            tr("The Module still uses the old address %1.\n\nYou can communicate with it till the next hardware "
               "reset.\n\nPlease note the new address 0x%2 and use this addressfor communication after the reset.")
                .arg(currentText, QStringLiteral("%1").arg(newAddress, 4, 16, QLatin1Char('0'))),
            QMessageBox::Ok);
        return;
    }

    // The module restarts at the new address only when the reset command reached it in special
    // mode; until then it answers at the old one and the program must keep using that.
    bool reset = false;
    for (int attempt = 0; attempt < specialModeTries && isHeld(module); ++attempt) {
        checkWrite(module->setControl(ModuleControlBit::enterSpecialMode), module, -1, tr("set module control 0x5"));
        if (module->status() & ModuleStatusBit::specialMode) {
            reset = checkWrite(module->setSpecialControlCommand(commandReset), module, -1, tr("special command 9"));
            break;
        }
        waitProcessingEvents(addressWaitMs);
    }
    if (!isHeld(module))
        return;
    if (reset) {
        module->setBaseAddress(newAddress);
        showModuleAddress(module);
        return;
    }
    dialogs()->warning(this, applicationName(),
        tr("Can not set Module to special mode - reset is not possible!\n\nPlease try a hardware reset by powering the "
           "crate off/on!"),
        QMessageBox::Ok);
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
