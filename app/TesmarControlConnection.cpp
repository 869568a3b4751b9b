// Connection to the crate, discovery of its modules, module selection and the crate's power.
#include "TesmarControl.h"

#include "AddressLocker.h"
#include "UserDialogs.h"
#include "ui_TesmarControl.h"

#include "controller/SnmpController.h"
#include "device/SnmpCrate.h"
#include "device/SnmpModule.h"

#include <QLabel>
#include <QSettings>
#include <QTimer>

#include <mutex>

namespace {
constexpr int moduleSlotCount = 10;

// An empty description means an empty slot. The library's text is only valid until its next
// call on the handle, so it is copied out under the controller's lock.
QString moduleDescription(SnmpController* controller, int slot)
{
    std::lock_guard<std::recursive_mutex> lock(controller->mutex());
    const char* text = controller->call(&SnmpController::getModuleDescription, slot);
    return text ? QString::fromLatin1(text) : QString();
}
} // namespace

void TesmarControl::releaseModuleAccess()
{
    if (rediscoveryTimer)
        rediscoveryTimer->stop();
    deleteModules();
    qDeleteAll(crates);
    crates.clear();
    delete controller;
    controller = nullptr;
}

void TesmarControl::deleteModules()
{
    // Clearing the list first: its row change must not reach a module being deleted.
    const QList<BaseModule*> old = modules;
    modules.clear();
    ui->lstModules->clear();
    qDeleteAll(old);
    currentModuleIndex = 0;
}

void TesmarControl::initModuleAccess()
{
    releaseModuleAccess();
    statusLabelMiddle->clear();
    statusLabelController->clear();
    ui->lblConnect->clear();
    // Nothing of the previous crate stays on screen; the new one fills these in once connected.
    ui->lblSerial->clear();
    ui->lblFirmware->clear();
    showModuleValuesUnknown();
    ui->lstModules->clear();
    ui->table->clearContents();
    ui->table->setRowCount(0);
    lastSelectedRow = -1;

    auto* snmpController = new SnmpController;
    controller = snmpController;
    if (!snmpController->open(crateIpAddress)) {
        refreshTimer->stop();
        statusLabelController->setText(tr("<font color=\"red\">Can not connect to address %1.").arg(crateIpAddress));
        enableModuleActions(false);
        ui->actionCrates->setEnabled(false);
        ui->menuSystem->setEnabled(false);
        return;
    }

    for (int slot = 0; slot < moduleSlotCount; ++slot) {
        if (moduleDescription(snmpController, slot).isEmpty())
            continue;
        auto* module = new SnmpModule(snmpController, slot);
        modules.append(module);
        ui->lstModules->addItem(tr("%1\nconnecting...").arg(module->address()));
    }
    crates.append(new SnmpCrate(snmpController));

    ui->connectedModules->setText(tr("%1 Modules found.").arg(modules.size()));
    ui->table->setEnabled(true);
    currentModuleIndex = -1; // so that selecting row 0 counts as a change
    selectModuleRow(0);
    if (currentModuleIndex < 0)
        currentModuleIndex = 0;
    enableModuleActions(!modules.isEmpty());
    refreshTimer->start();
}

void TesmarControl::setModuleListText(int index, const QString& text)
{
    QListWidgetItem* item = ui->lstModules->item(index);
    if (!item || index < 0 || index >= modules.size())
        return;
    item->setText(modules.at(index)->address() + QLatin1Char('\n') + text);
}

void TesmarControl::advanceConnectionStates()
{
    for (int index = 0; index < modules.size(); ++index) {
        BaseModule* module = modules.at(index);
        switch (module->connectionState()) {
        case BaseModule::ModuleStateConnected:
        case BaseModule::ModuleStateInitialised:
            if (!module->connected()) {
                setModuleListText(index, tr("Not connected"));
                module->setConnectionState(BaseModule::ModuleStateNotConnected);
            }
            continue;
        case BaseModule::ModuleStateNotConnected:
            break;
        default:
            setModuleListText(index, tr("Connecting..."));
            break;
        }
        if (module->connected()) {
            const int serialNumber = module->serialNumber();
            setModuleListText(index, serialNumber != 0 ? QString::number(serialNumber) : module->firmwareName());
            module->setConnectionState(BaseModule::ModuleStateConnected);
            // Warms the nominal-value caches before the table is set up.
            module->channelVoltageNominal(0);
            module->channelCurrentNominal(0);
        }
    }
}

void TesmarControl::selectModuleRow(int row)
{
    if (row < 0 || row >= ui->lstModules->count())
        return;
    if (ui->lstModules->currentRow() == row)
        on_lstModules_currentRowChanged(row); // the list emits nothing for an unchanged row
    else
        ui->lstModules->setCurrentRow(row);
}

void TesmarControl::on_lstModules_currentRowChanged(int row)
{
    if (row < 0 || row >= modules.size())
        return;
    const int previousIndex = currentModuleIndex;
    currentModuleIndex = row;
    BaseModule* module = modules.at(row);
    if (module->connectionState() == BaseModule::ModuleStateInitialised)
        module->setConnectionState(BaseModule::ModuleStateConnected);

    if (!module->connected()) {
        ui->table->blankCells();
    } else if (previousIndex != row) {
        const int serialNumber = module->serialNumber();
        emit currentModuleChanged(serialNumber);
        emit currentChannelChanged(serialNumber, ui->table->currentRow());
    }
    ui->table->setFocus();
}

BaseModule* TesmarControl::currentModule() const
{
    if (currentModuleIndex < 0 || currentModuleIndex >= modules.size())
        return nullptr;
    return modules.at(currentModuleIndex);
}

void TesmarControl::on_actionSelectModule_triggered()
{
    if (modules.isEmpty())
        return;
    bool ok = false;
    const int last = int(modules.size()) - 1;
    const int row = dialogs()->getInt(this, applicationName(), tr("Select Module (0...%1):").arg(last),
        qBound(0, currentModuleIndex, last), 0, last, 1, &ok);
    if (ok)
        selectModuleRow(row);
}

void TesmarControl::on_actionNextModule_triggered()
{
    if (modules.isEmpty())
        return;
    selectModuleRow(currentModuleIndex + 1 < modules.size() ? currentModuleIndex + 1 : 0);
}

void TesmarControl::on_actionPreviousModule_triggered()
{
    if (modules.isEmpty())
        return;
    selectModuleRow(currentModuleIndex > 0 ? currentModuleIndex - 1 : int(modules.size()) - 1);
}

void TesmarControl::on_actionController_triggered()
{
    const bool refreshWasRunning = refreshTimer->isActive();
    refreshTimer->stop();

    QString address = crateIpAddress;
    if (!dialogs()->getAddress(this, applicationName(), tr("Enter MPOD IP Address:"), &address)) {
        if (refreshWasRunning)
            refreshTimer->start();
        return;
    }

    // The lock follows the connection, so a second instance is warned about this crate too.
    AddressLocker locker;
    if (address != crateIpAddress && !locker.isFree(address)) {
        const QMessageBox::StandardButton answer = dialogs()->question(this, applicationName(),
            tr("It seems there is already a program accessing the crate with IP address %1.\n\nConnect anyway?")
                .arg(address),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            if (refreshWasRunning)
                refreshTimer->start();
            return;
        }
    }
    locker.unlock(crateIpAddress);
    crateIpAddress = address;
    locker.lock(crateIpAddress);
    openSettings()->setValue(QStringLiteral("IpAddress"), crateIpAddress);
    initModuleAccess();
}

void TesmarControl::on_actionSetCrateAddress_triggered()
{
    if (!controller || !controller->isConnected())
        return;
    refreshTimer->stop();

    QString address = crateIpAddress;
    const QString label = tr("<p>Input a new static IP Address for the MPOD Crate:</p>"
                             "<p>Note: The address 0.0.0.0 switches the MPOD to DHCP mode.</p>");
    if (!dialogs()->getAddress(this, applicationName(), label, &address)) {
        refreshTimer->start();
        return;
    }
    if (!controller->setIpAddress(address)) {
        dialogs()->information(this, applicationName(), tr("The address %1 could not be sent to the crate.").arg(address));
        refreshTimer->start();
        return;
    }
    // The same crate answers at its new address from now on: the lock moves with it.
    AddressLocker locker;
    locker.unlock(crateIpAddress);
    crateIpAddress = address;
    locker.lock(crateIpAddress);
    openSettings()->setValue(QStringLiteral("IpAddress"), crateIpAddress);
    ui->table->setEnabled(false);
    scheduleRediscovery(rediscoveryDelayAfterAddressChangeMs);
}

void TesmarControl::scheduleRediscovery(int delayMs)
{
    if (!rediscoveryTimer) {
        rediscoveryTimer = new QTimer(this);
        rediscoveryTimer->setObjectName(QStringLiteral("rediscoveryTimer"));
        rediscoveryTimer->setSingleShot(true);
        connect(rediscoveryTimer, &QTimer::timeout, this, &TesmarControl::initModuleAccess);
    }
    rediscoveryTimer->start(delayMs);
}

void TesmarControl::setReconnectDelays(int afterCratePowerOnMs, int afterAddressChangeMs)
{
    rediscoveryDelayAfterPowerOnMs = afterCratePowerOnMs;
    rediscoveryDelayAfterAddressChangeMs = afterAddressChangeMs;
}

void TesmarControl::setCratePowerOn(int /*serialNumber*/, bool on)
{
    if (crates.isEmpty())
        return;
    crates.first()->setPowerOn(on);
    if (!on) {
        if (controller)
            showControllerState();
        enableModuleActions(false);
        deleteModules();
        ui->table->clearContents();
        ui->table->setEnabled(false);
        return;
    }
    statusLabelMiddle->setText(QStringLiteral("<font color=\"yellow\"><b>")
        + tr("Waiting %1 seconds for Crate to switch on...").arg((rediscoveryDelayAfterPowerOnMs + 999) / 1000));
    scheduleRediscovery(rediscoveryDelayAfterPowerOnMs);
}

void TesmarControl::setCrateFanSpeed(int /*serialNumber*/, int speed)
{
    if (!crates.isEmpty())
        crates.first()->setFanSpeed(speed);
}
