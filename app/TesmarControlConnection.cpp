// Connection to the crate, discovery of its modules, module selection, and what the window does
// after the crate's commands (CrateCommands).
#include "TesmarControl.h"

#include "AddressLocker.h"
#include "CrateCommands.h"
#include "DialogConnectionSettings.h"
#include "dialogs/common/UserDialogs.h"
#include "ui_TesmarControl.h"

#include "controller/ApplicationIdentity.h"
#include "controller/BaseController.h"
#include "device/BaseCrate.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpControllerFactory.h"
#include "device/WriteJournal.h"

#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

void TesmarControl::releaseModuleAccess()
{
    if (rediscoveryTimer)
        rediscoveryTimer->stop();
    if (reconnectTimer)
        reconnectTimer->stop();
    session->release();
}

void TesmarControl::deleteModules()
{
    session->releaseModules();
}

void TesmarControl::forgetModules()
{
    // The list's row change must not reach a module being released.
    const QSignalBlocker blocker(ui->lstModules);
    ui->lstModules->clear();
    announcedModuleIndex = -1;
}

void TesmarControl::initModuleAccess()
{
    // Start-up, Select Controller and rediscovery alike: opening and discovery run off the GUI
    // thread; the window says "connecting..." and stays usable meanwhile (connectFinished).
    releaseModuleAccess();
    statusLabelMiddle->clear();
    statusLabelController->clear();
    ui->lblConnect->clear();
    // Nothing of the previous crate stays on screen; the new one fills these in once connected.
    ui->lblSerial->clear();
    ui->lblModuleType->setText(tr("connecting..."));
    ui->lblFirmware->clear();
    showModuleValuesUnknown();
    ui->lstModules->clear();
    ui->table->removeAllRows();
    lastSelectedRow = -1;

    enableModuleActions(false);
    // The connection settings are read at every connect, so a change applies at the next one.
    if (auto* snmp = dynamic_cast<SnmpControllerFactory*>(session->factory()))
        snmp->setConnectionSettings(SnmpConnectionSettings::load(*ApplicationIdentity::openSettings()));
    watchBackgroundConnects();
    session->connectInBackground(crateIpAddress);
}

void TesmarControl::watchBackgroundConnects()
{
    if (reconnectTimer)
        return;
    reconnectTimer = new QTimer(this);
    reconnectTimer->setObjectName(QStringLiteral("reconnectTimer"));
    reconnectTimer->setSingleShot(true);
    connect(reconnectTimer, &QTimer::timeout, this, &TesmarControl::tryReconnect);
    connect(session.get(), &DeviceSession::connectFinished, this, &TesmarControl::reconnectFinished);
}

void TesmarControl::showConnectFailure()
{
    refreshTimer->stop();
    ui->lblModuleType->clear(); // not connecting any more
    // A VME bridge has no address: its own text says what is missing (no library, no bridge).
    const QString bridgeError = vmeModules && session->controller() ? session->controller()->errorString() : QString();
    // An SNMP crate that does not answer may as well be one that ignores the read community.
    const bool snmp = dynamic_cast<SnmpControllerFactory*>(session->factory()) != nullptr;
    const QString retrying = tr("trying again every %1 s").arg(reconnectIntervalMs / 1000.0);
    statusLabelController->setText(!bridgeError.isEmpty()
            ? QStringLiteral("<font color=\"red\">%1").arg(bridgeError.toHtmlEscaped())
            : snmp
            ? tr("<font color=\"red\">Can not connect to address %1: %2; %3.").arg(crateIpAddress, noAnswerText(), retrying)
            : tr("<font color=\"red\">Can not connect to address %1; %2.").arg(crateIpAddress, retrying));
    enableModuleActions(false);
    ui->actionCrates->setEnabled(false);
    ui->menuSystem->setEnabled(false);
    // An unattended station connects by itself once the crate answers again; a missing VME
    // bridge or library does not come back by waiting.
    if (!bridgeError.isEmpty())
        return;
    watchBackgroundConnects();
    reconnectTimer->start(reconnectIntervalMs);
}

void TesmarControl::tryReconnect()
{
    // Opening and discovery run off the GUI thread; the failure text stays meanwhile.
    session->connectInBackground(crateIpAddress);
}

void TesmarControl::reconnectFinished(bool connected)
{
    controllerAddress = session->controllerAddress();
    if (connected)
        showConnectedModules();
    else
        showConnectFailure();
}

void TesmarControl::setReconnectIntervalMs(int intervalMs)
{
    reconnectIntervalMs = intervalMs;
}

void TesmarControl::showConnectedModules()
{
    statusLabelController->clear();
    const QList<BaseModule*> modules = session->modules();
    for (BaseModule* module : modules)
        ui->lstModules->addItem(tr("%1\nconnecting...").arg(module->address()));
    fitModuleListWidth();
    discoveredAtMs = ModuleSnapshot::nowMs();
    answeredCrate.reset();
    session->setNeeds(this, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);

    ui->connectedModules->setText(tr("%1 Modules found.").arg(modules.size()));
    ui->table->setEnabled(true);
    announcedModuleIndex = -1; // so that selecting the row counts as a change
    // The operator's module is shown again when it is still there; otherwise the first module,
    // with no channel chosen on it (its channels were not the operator's choice).
    int shown = -1;
    for (int index = 0; index < modules.size() && shown < 0; ++index) {
        if (moduleKey(modules.at(index)) == selection.moduleKey())
            shown = index;
    }
    if (shown < 0 && !modules.isEmpty()) {
        shown = 0;
        selection.setModule(moduleKey(modules.first()));
        selection.clearChannels();
    }
    selectModuleRow(qMax(0, shown));
    enableModuleActions(!modules.isEmpty());
    refreshTimer->start();
}

void TesmarControl::setModuleListText(int index, const QString& text)
{
    const QList<BaseModule*> modules = session->modules();
    QListWidgetItem* item = ui->lstModules->item(index);
    if (!item || index < 0 || index >= modules.size())
        return;
    item->setText(modules.at(index)->address() + QLatin1Char('\n') + text);
    fitModuleListWidth();
}

void TesmarControl::fitModuleListWidth()
{
    // As wide as the longest entry ("VME BA 0x4000" is wider than "Slot 5"), never narrower
    // than the form's width; a vertical scroll bar, when many modules need one, takes no text.
    // The state texts count although no entry shows them now: a module that comes and goes on a
    // lossy network must not make the whole window jump sideways.
    QListWidget* list = ui->lstModules;
    const QFontMetrics metrics(list->font());
    int widestLine = 0;
    for (int row = 0; row < list->count(); ++row)
        for (const QString& line : list->item(row)->text().split(QLatin1Char('\n')))
            widestLine = std::max(widestLine, metrics.horizontalAdvance(line));
    int text = list->sizeHintForColumn(0);
    const int padding = text - widestLine; // the item's margins, as the style draws them
    for (const QString& state : {tr("Not connected"), tr("Connecting...")})
        text = std::max(text, metrics.horizontalAdvance(state) + padding);
    const int content = text + 2 * list->frameWidth() + list->verticalScrollBar()->sizeHint().width();
    const int width = std::max(content, modulesListMinimumWidth);
    if (list->minimumWidth() != width) {
        list->setMinimumWidth(width);
        list->setMaximumWidth(width);
    }
}

std::shared_ptr<const ModuleSnapshot> TesmarControl::snapshotOf(int index) const
{
    return session->poller() ? session->poller()->moduleSnapshot(index) : nullptr;
}

bool TesmarControl::moduleAnswering(int index, qint64 nowMs) const
{
    const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(index);
    if (snapshot && snapshot->lastAnswerAtMs >= 0)
        return snapshot->connected(nowMs);
    return discoveredAtMs >= 0 && nowMs - discoveredAtMs <= ModuleSnapshot::freshForMs;
}

void TesmarControl::refreshCurrentModuleNow()
{
    if (session->poller() && session->currentModuleIndex() >= 0)
        session->poller()->refreshNow(session->currentModuleIndex());
}

void TesmarControl::advanceConnectionStates()
{
    // A module is connected again at its first complete read, and "Not connected" once nothing
    // of it was answered for the freshness time: a lost request that the poller retries does
    // not show.
    const qint64 now = ModuleSnapshot::nowMs();
    const QList<BaseModule*> modules = session->modules();
    for (int index = 0; index < modules.size(); ++index) {
        BaseModule* module = modules.at(index);
        const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(index);
        // The shown module needs its channels read; the others are only asked whether they answer.
        const bool answered =
            snapshot && snapshot->connected(now) && (index != session->currentModuleIndex() || snapshot->channelsFresh(now));
        switch (module->connectionState()) {
        case BaseModule::ModuleStateConnected:
        case BaseModule::ModuleStateInitialised:
            if (!moduleAnswering(index, now)) {
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
        if (answered) {
            const int serialNumber = module->serialNumber();
            setModuleListText(index, serialNumber != 0 ? QString::number(serialNumber) : module->firmwareName());
            module->setConnectionState(BaseModule::ModuleStateConnected);
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
    const QList<BaseModule*> modules = session->modules();
    if (row < 0 || row >= modules.size())
        return;
    const int previousIndex = announcedModuleIndex;
    announcedModuleIndex = row;
    session->setCurrentModuleIndex(row);
    BaseModule* module = modules.at(row);
    if (module->connectionState() == BaseModule::ModuleStateInitialised)
        module->setConnectionState(BaseModule::ModuleStateConnected);
    // Another module chosen: the chosen channel numbers go with it, as the table shows them.
    if (moduleKey(module) != selection.moduleKey())
        selection.setModule(moduleKey(module));

    if (!moduleAnswering(row, ModuleSnapshot::nowMs())) {
        ui->table->blankCells();
        showOperatorSelection();
    } else if (previousIndex != row) {
        showChannelInToolWindows(selectedChannel());
    }
    ui->table->setFocus();
}

BaseModule* TesmarControl::currentModule() const
{
    return session->currentModule();
}

DeviceSession* TesmarControl::deviceSession() const
{
    return session.get();
}

void TesmarControl::on_actionSelectModule_triggered()
{
    const int count = int(session->modules().size());
    if (count == 0)
        return;
    bool ok = false;
    const int last = count - 1;
    const int row = dialogs()->getInt(this, applicationName(), tr("Select Module (0...%1):").arg(last),
        qBound(0, session->currentModuleIndex(), last), 0, last, 1, &ok);
    if (ok)
        selectModuleRow(row);
}

void TesmarControl::on_actionNextModule_triggered()
{
    const int count = int(session->modules().size());
    if (count == 0)
        return;
    const int current = session->currentModuleIndex();
    selectModuleRow(current + 1 < count ? current + 1 : 0);
}

void TesmarControl::on_actionPreviousModule_triggered()
{
    const int count = int(session->modules().size());
    if (count == 0)
        return;
    const int current = session->currentModuleIndex();
    selectModuleRow(current > 0 ? current - 1 : count - 1);
}

void TesmarControl::on_actionConnectionSettings_triggered()
{
    const std::unique_ptr<QSettings> settings = ApplicationIdentity::openSettings();
    DialogConnectionSettings dialog(SnmpConnectionSettings::load(*settings), this);
    if (dialogs()->exec(&dialog) == QDialog::Accepted)
        dialog.settings().save(*settings);
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
    ApplicationIdentity::openSettings()->setValue(QStringLiteral("IpAddress"), crateIpAddress);
    initModuleAccess();
}

void TesmarControl::setUpCrateCommands()
{
    CrateCommands::Hooks hooks;
    hooks.dialogs = [this] { return dialogs(); };
    hooks.crateAnswering = [this] { return crateAnswering(); };
    hooks.crateAddress = [this] { return crateIpAddress; };
    hooks.refreshNow = [this] { refreshCurrentModuleNow(); };
    m_crateCommands = new CrateCommands(session.get(), std::move(hooks), this);
    connect(ui->actionSetCrateAddress, &QAction::triggered, m_crateCommands, &CrateCommands::promptCrateAddress);
    connect(m_crateCommands, &CrateCommands::inFlightChanged, this, [this](int count) { m_commandsInFlight = count; });
    connect(m_crateCommands, &CrateCommands::commandPending, this,
        [this](const QString& text) { statusBar()->showMessage(text, refusalMessageMs); });
    connect(m_crateCommands, &CrateCommands::commandEnded, this, [this](const QString& pending) {
        if (statusBar()->currentMessage() == pending)
            statusBar()->clearMessage();
    });
    connect(m_crateCommands, &CrateCommands::refused, this, &TesmarControl::showCommandMessage);
    connect(m_crateCommands, &CrateCommands::crateStateText, statusLabelMiddle, &QLabel::setText);
    connect(m_crateCommands, &CrateCommands::rediscoveryWanted, this, &TesmarControl::scheduleRediscovery);
    connect(m_crateCommands, &CrateCommands::crateSwitchedOff, this, &TesmarControl::showCrateSwitchedOff);
    connect(m_crateCommands, &CrateCommands::crateAddressChanged, this, &TesmarControl::crateAddressTaken);
    // No refresh while the operator types the new address.
    connect(m_crateCommands, &CrateCommands::addressPromptOpen, this,
        [this](bool open) { open ? refreshTimer->stop() : refreshTimer->start(); });
}

CrateCommands* TesmarControl::crateCommands() const
{
    return m_crateCommands;
}

void TesmarControl::crateAddressTaken(const QString& address)
{
    // The same crate answers at its new address from now on: the lock moves with it.
    AddressLocker locker;
    locker.unlock(crateIpAddress);
    crateIpAddress = address;
    locker.lock(crateIpAddress);
    ApplicationIdentity::openSettings()->setValue(QStringLiteral("IpAddress"), crateIpAddress);
    refreshTimer->stop();
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
    m_crateCommands->setRediscoveryDelayAfterPowerOnMs(afterCratePowerOnMs);
    rediscoveryDelayAfterAddressChangeMs = afterAddressChangeMs;
}

void TesmarControl::showCrateSwitchedOff()
{
    showControllerState();
    enableModuleActions(false);
    deleteModules();
    ui->table->removeAllRows();
    ui->table->setEnabled(false);
    // Nothing of the released modules stays on screen as if it were live.
    showModuleValuesUnknown();
    ui->lblConnect->setText(tr("<font color=\"red\">The crate is switched off."));
}

bool TesmarControl::crateAnswering() const
{
    return answeredCrate && ModuleSnapshot::nowMs() - answeredCrate->readAtMs <= ModuleSnapshot::freshForMs;
}
