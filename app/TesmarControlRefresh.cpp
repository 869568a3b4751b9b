// Rendering: one 200 ms timer shows the latest snapshots the poller published in the main
// window (the current module's channels on every tick, its module-level values on every 11th
// tick, the connection states and the crate once a second). The tool windows render the
// snapshots themselves. Nothing here waits for the network.
#include "TesmarControl.h"

#include "ChannelTable.h"
#include "HistoryDesk.h"
#include "ui_TesmarControl.h"

#include "device/BaseModule.h"
#include "device/CrateSnapshot.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/ModuleTypes.h"
#include "device/StatusWordBits.h"
#include "device/TbusModuleStatusBits.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace {
// Ticks between two module-level refreshes minus one: module values every 11th tick.
constexpr int tableTicksPerModuleRefresh = 10;
constexpr int chainedRefreshDelayMs = 20;
// Module-level values are read only every 11th tick: they count as current for one such period
// beyond the freshness time (and only while the module answers at all).
constexpr qint64 moduleValuesFreshForMs = (tableTicksPerModuleRefresh + 1) * Poller::tickMs + ModuleSnapshot::freshForMs;

// The controller label: the connection, then its bus status, red unless the bus is fine.
QString controllerStateText(const CrateSnapshot& crate)
{
    const BusStatus& bus = crate.busStatus;
    if (bus.text.isEmpty())
        return crate.connectionInfo;
    if (bus.isOk())
        return crate.connectionInfo + QLatin1Char(' ') + bus.text;
    return crate.connectionInfo.toHtmlEscaped() + QStringLiteral(" <font color=\"red\">") + bus.text.toHtmlEscaped();
}
} // namespace

bool TesmarControl::isMeasurementModule(BaseModule* module)
{
    return module->firmwareName() == QLatin1String(ModuleTypes::measurement);
}

void TesmarControl::refreshChannelTable()
{
    if (++tableTickCount > tableTicksPerModuleRefresh) {
        tableTickCount = 0;
        moduleRefreshDue = true;
    }
    refreshCrateData();
    refreshServiceDialogs();

    BaseModule* module = currentModule();
    if (!module)
        return;

    switch (module->connectionState()) {
    case BaseModule::ModuleStateNotConnected:
        showModuleLost();
        return;
    case BaseModule::ModuleStateUnknown:
        ui->table->setEnabled(false);
        break;
    case BaseModule::ModuleStateConnected:
        initialiseTableFor(module);
        break;
    default:
        break;
    }

    if (moduleRefreshDue) {
        moduleRefreshDue = false;
        QTimer::singleShot(chainedRefreshDelayMs, this, &TesmarControl::refreshModule);
    }

    refreshChannelRows(module);
}

QString TesmarControl::connectionLine(BaseModule* module) const
{
    const int serialNumber = module->serialNumber();
    if (serialNumber == 0)
        return tr("Connected to %1 at %3").arg(module->firmwareName(), module->address());
    return tr("Connected to %1 sn. %2 at %3").arg(module->firmwareName(), QString::number(serialNumber), module->address());
}

void TesmarControl::initialiseTableFor(BaseModule* module)
{
    module->setConnectionState(BaseModule::ModuleStateInitialised);
    const int serialNumber = module->serialNumber();
    const QString firmwareName = module->firmwareName();

    const bool measurement = isMeasurementModule(module);
    ui->menuModuleLoadModule->setEnabled(measurement);
    ui->menuChannelLoadModule->setEnabled(measurement);

    ui->lblModuleType->setText(firmwareName);
    ui->lblSerial->setText(QString::number(serialNumber));
    ui->lblFirmware->setText(module->firmwareRelease());
    ui->lblConnect->setText(connectionLine(module));
    statusBar()->clearMessage();

    ChannelTable* table = ui->table;
    table->setEnabled(true);
    table->setChannelCount(module->channelNumber());
    // Nominal values arrive with the poller's reads (the first read of a module fetches them);
    // the rows show them from the first snapshot in the current display units on.
    const QString voltageUnit = module->voltageUnit(0);
    const QString currentUnit = module->currentUnit(0);
    table->setVoltageHeaders(voltageUnit);
    table->setCurrentHeaders(currentUnit);
    showOperatorSelection();
    moduleRefreshDue = true;
}

void TesmarControl::refreshChannelRows(BaseModule* module)
{
    showPendingChannels();
    const int moduleIndex = session->currentModuleIndex();
    const qint64 now = ModuleSnapshot::nowMs();
    // Nothing answered for the freshness time: the module is lost, and no number of it stays
    // on screen as if it were live. A single lost request, retried by the poller, never gets here.
    if (!moduleAnswering(moduleIndex, now)) {
        module->setConnectionState(BaseModule::ModuleStateNotConnected);
        setModuleListText(moduleIndex, tr("Not connected"));
        showModuleLost();
        return;
    }
    const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(moduleIndex);
    if (!snapshot || snapshot->channelsReadAtMs < 0)
        return; // nothing read yet: the cells stay as they are

    const QString voltageUnit = module->voltageUnit(0);
    const QString currentUnit = module->currentUnit(0);
    // Read before the display units changed: the next read brings values in the new ones.
    if (snapshot->voltageUnit != voltageUnit || snapshot->currentUnit != currentUnit)
        return;

    const bool measurement = isMeasurementModule(module);
    ChannelTable* table = ui->table;
    const int rows = table->rowCount();
    for (int row = 0; row < rows; ++row) {
        // Not reached by the latest read, or too old to be the channel's state now: leftovers,
        // not readings.
        const Freshness freshness = snapshot->channelFreshness(row, now);
        if (freshness == Freshness::Stale) {
            table->setRowUnknown(row);
            continue;
        }
        const ChannelReading& v = snapshot->channels.at(row);
        table->setCellText(row, ChannelTable::ColumnVoltageNominal, module->formatVoltage(v.voltageNominal));
        table->setCellText(row, ChannelTable::ColumnCurrentNominal, module->formatCurrent(v.currentNominal));
        table->setCellText(row, ChannelTable::ColumnVoltageSet, module->formatVoltage(v.voltageSet));
        table->setCellText(row, ChannelTable::ColumnCurrentSet, module->formatCurrent(v.currentSet));
        table->setCellText(row, ChannelTable::ColumnVoltageMeasure, module->formatVoltage(v.voltageMeasure));
        table->setCellText(row, ChannelTable::ColumnCurrentMeasure, module->formatCurrent(v.currentMeasure));
        if (measurement)
            table->setMeasurementModeCell(row, v.control);
        else
            table->setChannelStatusCell(row, v.control, v.status);
        if (!measurement && (v.status & ChannelTable::faultBits))
            table->setStatusCellToolTip(row, m_history->channelEventText(session->currentModuleIndex(), row));
        table->setRowAgeing(row, freshness == Freshness::Ageing);
    }
    markAlarmRows();
}

void TesmarControl::showModuleLost()
{
    ui->lblConnect->setText(tr("<font color=\"red\">Can not connect to Module!"));
    ui->table->setEnabled(false);
    ui->table->blankCells();
    showOperatorSelection();
    showModuleValuesUnknown();
}

void TesmarControl::showModuleValuesUnknown()
{
    const QString unknown = QStringLiteral("---");
    for (QLabel* label : {ui->lblVRampSpeed, ui->lblIRampSpeed, ui->lblModuleStatus, ui->lblModuleEventStatus})
        label->setText(unknown);
}

void TesmarControl::refreshModule()
{
    BaseModule* module = currentModule();
    if (!module || module->connectionState() == BaseModule::ModuleStateNotConnected)
        return;

    // Values of a module that stopped answering, or not read for a whole period more than the
    // freshness time, are no ramp speeds or status words now.
    const qint64 now = ModuleSnapshot::nowMs();
    const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(session->currentModuleIndex());
    if (!snapshot || !snapshot->connected(now) || snapshot->valuesReadAtMs < 0
        || now - snapshot->valuesReadAtMs > moduleValuesFreshForMs) {
        showModuleValuesUnknown();
        return;
    }
    const ModuleReading& values = snapshot->values;

    const QString unknown = QStringLiteral("---");
    if (values.rampSpeedsValid) {
        ui->lblVRampSpeed->setText(QStringLiteral("%1 %/s").arg(double(values.voltageRampSpeed), 0, 'g', -1));
        if (values.currentControl)
            ui->lblIRampSpeed->setText(QStringLiteral("%1 %/s").arg(double(values.currentRampSpeed), 0, 'g', -1));
        else
            ui->lblIRampSpeed->setText(unknown);
    } else {
        ui->lblVRampSpeed->setText(unknown);
        ui->lblIRampSpeed->setText(unknown);
    }

    if (!values.statusValid) {
        ui->lblModuleStatus->setText(unknown);
        ui->lblModuleEventStatus->setText(unknown);
        return;
    }
    const TbusModuleStatusBits names;
    // A space after each comma lets the word-wrapped labels break between the bit names.
    ui->lblModuleStatus->setText(names.statusText(values.status).replace(QLatin1Char(','), QStringLiteral(", ")));
    ui->lblModuleEventStatus->setText(
        names.eventStatusText(values.eventStatus).replace(QLatin1Char(','), QStringLiteral(", ")));
}

void TesmarControl::refreshCrateData()
{
    const int ticksPerSecond = qMax(1, 1000 / qMax(1, refreshTimer->interval()));
    if (++crateTickCount < ticksPerSecond)
        return;
    crateTickCount = 0;
    if (!session->controller())
        return;

    showControllerState();
    const std::shared_ptr<const CrateSnapshot> crate = answeredCrate;
    const bool crateFresh = crate && ModuleSnapshot::nowMs() - crate->readAtMs <= ModuleSnapshot::freshForMs;
    statusLabelLiveInsertion->setText(
        crateFresh && crate->liveInsertion ? tr("<font color=\"green\">Live Insertion active.") : QString());

    advanceConnectionStates();
}

void TesmarControl::showControllerState()
{
    // A crate that does not answer at all is not "powered off": the bus status is shown only
    // from a read the crate answered, and only while that is fresh. Right after the connection
    // (no read yet) the label stays as it is.
    const std::shared_ptr<const CrateSnapshot> latest = session->poller() ? session->poller()->crateSnapshot() : nullptr;
    if (latest && latest->answered && (!answeredCrate || latest->readAtMs >= answeredCrate->readAtMs))
        answeredCrate = latest;
    const qint64 now = ModuleSnapshot::nowMs();
    QString text;
    // The modules answer through the crate: while the shown one answers, a crate read that was
    // lost does not make the crate "not answering".
    const int current = session->currentModuleIndex();
    if (answeredCrate
        && (now - answeredCrate->readAtMs <= ModuleSnapshot::freshForMs
            || (current >= 0 && moduleAnswering(current, now) && snapshotOf(current))))
        text = controllerStateText(*answeredCrate);
    else if (!answeredCrate && discoveredAtMs >= 0 && now - discoveredAtMs <= ModuleSnapshot::freshForMs)
        return;
    if (text.isEmpty())
        text = tr("<font color=\"red\">Can not connect to address %1.").arg(crateIpAddress);
    statusLabelController->setText(text);
}

void TesmarControl::markAlarmRows()
{
    BaseModule* module = currentModule();
    if (!module)
        return;
    const int moduleIndex = session->currentModuleIndex();
    for (int row = 0; row < ui->table->rowCount(); ++row) {
        const QString text = m_history->currentAlarmText(*module, moduleIndex, row);
        if (!text.isEmpty())
            ui->table->markStatusCellAlarm(row, text);
    }
}
