// The refresh cycle: one 200 ms timer reads the current module's channels on every tick, its
// module-level values on every 11th tick, the connection states and the crate once a second,
// and every module for the overview while that window is shown. What is read is shown here and
// re-broadcast as update signals.
#include "TesmarControl.h"

#include "ChannelTable.h"
#include "ui_TesmarControl.h"

#include "controller/BaseController.h"
#include "device/BaseCrate.h"
#include "device/BaseModule.h"
#include "device/ModuleTypes.h"
#include "device/StatusWordBits.h"
#include "device/TbusModuleStatusBits.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QVector>

namespace {
// Ticks between two module-level refreshes minus one: module values every 11th tick.
constexpr int tableTicksPerModuleRefresh = 10;
constexpr int chainedRefreshDelayMs = 20;

// Overview rating of one channel: 3 error, 2 ramping, 1 on, 0 off.
int runningRating(quint32 status)
{
    if (status & (ChannelStatusBit::currentTrip | ChannelStatusBit::externalInhibit | ChannelStatusBit::emergencyOff))
        return 3;
    if (status & ChannelStatusBit::ramping)
        return 2;
    if (status & ChannelStatusBit::on)
        return 1;
    return 0;
}
} // namespace

bool TesmarControl::isToolWindowVisible(const char* className) const
{
    const QList<QWidget*> children = findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->isWindow() && child->isVisible() && child->inherits(className))
            return true;
    }
    return false;
}

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
    if (module->connectionState() == BaseModule::ModuleStateNotConnected)
        return;

    if (isToolWindowVisible("DialogOverview"))
        QTimer::singleShot(chainedRefreshDelayMs, this, &TesmarControl::refreshOverview);
}

void TesmarControl::initialiseTableFor(BaseModule* module)
{
    module->setConnectionState(BaseModule::ModuleStateInitialised);
    const int serialNumber = module->serialNumber();
    const QString firmwareName = module->firmwareName();
    emit updateModuleFirmwareName(serialNumber, firmwareName);

    const bool measurement = isMeasurementModule(module);
    ui->menuModuleLoadModule->setEnabled(measurement);
    ui->menuChannelLoadModule->setEnabled(measurement);

    ui->lblModuleType->setText(firmwareName);
    ui->lblSerial->setText(QString::number(serialNumber));
    ui->lblFirmware->setText(module->firmwareRelease());
    if (serialNumber == 0)
        ui->lblConnect->setText(tr("Connected to %1 at %3").arg(firmwareName, module->address()));
    else
        ui->lblConnect->setText(
            tr("Connected to %1 sn. %2 at %3").arg(firmwareName, QString::number(serialNumber), module->address()));
    statusBar()->clearMessage();

    ChannelTable* table = ui->table;
    table->setEnabled(true);
    table->setChannelCount(module->channelNumber());
    for (int row = 0; row < table->rowCount(); ++row) {
        table->setCellText(
            row, ChannelTable::ColumnVoltageNominal, module->formatVoltage(module->channelVoltageNominal(row)));
        table->setCellText(
            row, ChannelTable::ColumnCurrentNominal, module->formatCurrent(module->channelCurrentNominal(row)));
    }
    const QString voltageUnit = module->voltageUnit(0);
    const QString currentUnit = module->currentUnit(0);
    emit updateChannelVoltageUnit(serialNumber, 0, voltageUnit);
    emit updateChannelCurrentUnit(serialNumber, 0, currentUnit);
    table->setVoltageHeaders(voltageUnit);
    table->setCurrentHeaders(currentUnit);
    moduleRefreshDue = true;
}

void TesmarControl::refreshChannelRows(BaseModule* module)
{
    struct ChannelValues
    {
        float voltageSet;
        float currentSet;
        float voltageMeasure;
        float currentMeasure;
        quint32 control;
        quint32 status;
    };

    // Channel 0 first: each quantity's read of channel 0 fetches all channels in one block.
    const int rows = ui->table->rowCount();
    QVector<ChannelValues> values(rows);
    for (int row = 0; row < rows; ++row) {
        ChannelValues& v = values[row];
        v.voltageSet = module->channelVoltageSet(row);
        v.currentSet = module->channelCurrentSet(row);
        v.voltageMeasure = module->channelVoltageMeasure(row);
        v.currentMeasure = module->channelCurrentMeasure(row);
        v.control = module->channelControl(row);
        v.status = module->channelStatus(row);
    }

    // A failed read answers 0; showing those zeros would present a dead module as a live one
    // at 0 V. The module knows whether its reads just failed.
    if (rows > 0 && !module->connected()) {
        module->setConnectionState(BaseModule::ModuleStateNotConnected);
        setModuleListText(currentModuleIndex, tr("Not connected"));
        showModuleLost();
        return;
    }

    const int serialNumber = module->serialNumber();
    const QString voltageUnit = module->voltageUnit(0);
    const QString currentUnit = module->currentUnit(0);
    const bool measurement = isMeasurementModule(module);
    ChannelTable* table = ui->table;
    const QString unknown = QStringLiteral("---");
    for (int row = 0; row < rows; ++row) {
        // The block read ended before this channel: its values are leftovers, not readings.
        if (!module->channelReadComplete(row)) {
            for (int column : {ChannelTable::ColumnVoltageSet, ChannelTable::ColumnCurrentSet,
                     ChannelTable::ColumnVoltageMeasure, ChannelTable::ColumnCurrentMeasure})
                table->setCellText(row, column, unknown);
            continue;
        }
        const ChannelValues& v = values.at(row);
        table->setCellText(row, ChannelTable::ColumnVoltageSet, module->formatVoltage(v.voltageSet));
        emit updateChannelVoltage(serialNumber, row, v.voltageSet, voltageUnit);
        table->setCellText(row, ChannelTable::ColumnCurrentSet, module->formatCurrent(v.currentSet));
        emit updateChannelCurrent(serialNumber, row, v.currentSet, currentUnit);
        const QString voltageMeasure = module->formatVoltage(v.voltageMeasure);
        table->setCellText(row, ChannelTable::ColumnVoltageMeasure, voltageMeasure);
        emit updateChannelVoltageMeasure(serialNumber, row, voltageMeasure);
        const QString currentMeasure = module->formatCurrent(v.currentMeasure);
        table->setCellText(row, ChannelTable::ColumnCurrentMeasure, currentMeasure);
        emit updateChannelCurrentMeasure(serialNumber, row, currentMeasure);
        emit updateChannelControl(serialNumber, row, v.control);
        emit updateChannelStatus(serialNumber, row, v.status);
        if (measurement)
            table->setMeasurementModeCell(row, v.control);
        else
            table->setChannelStatusCell(row, v.control, v.status);
    }
}

void TesmarControl::showModuleLost()
{
    ui->lblConnect->setText(tr("<font color=\"red\">Can not connect to Module!"));
    ui->table->setEnabled(false);
    ui->table->blankCells();
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
    const int serialNumber = module->serialNumber();

    // Read first, show afterwards: a module that stopped answering meanwhile reads zeros, which
    // are no ramp speeds or status words.
    const float voltageRampSpeed = module->voltageRampSpeed();
    const bool currentControl = module->currentControl();
    const float currentRampSpeed = currentControl ? module->currentRampSpeed() : 0.0f;
    const quint32 status = module->status();
    const quint32 eventStatus = module->eventStatus();
    if (!module->connected()) {
        showModuleValuesUnknown();
        return;
    }

    ui->lblVRampSpeed->setText(QStringLiteral("%1 %/s").arg(double(voltageRampSpeed), 0, 'g', -1));
    if (currentControl)
        ui->lblIRampSpeed->setText(QStringLiteral("%1 %/s").arg(double(currentRampSpeed), 0, 'g', -1));
    else
        ui->lblIRampSpeed->setText(QStringLiteral("---"));

    const bool suppliesVisible = isToolWindowVisible("DialogSuppliesTempLimits");
    if (suppliesVisible || isToolWindowVisible("DialogStatistic")) {
        for (int index = 0; index < 4; ++index)
            emit updateModuleTemperature(serialNumber, index, module->temperature(index));
    }
    if (suppliesVisible) {
        emit updateModuleSupplyP5(serialNumber, module->supplyP5());
        emit updateModuleSupplyP12(serialNumber, module->supplyP12());
        emit updateModuleSupplyN12(serialNumber, module->supplyN12());
        emit updateModuleVoltageHardwareLimit(serialNumber, module->voltageLimit());
        emit updateModuleCurrentHardwareLimit(serialNumber, module->currentLimit());
    }

    emit updateModuleStatus(serialNumber, status);
    emit updateModuleEventStatus(serialNumber, eventStatus);
    const TbusModuleStatusBits names;
    ui->lblModuleStatus->setText(names.statusText(status));
    ui->lblModuleEventStatus->setText(names.eventStatusText(eventStatus));
}

void TesmarControl::refreshCrateData()
{
    const int ticksPerSecond = qMax(1, 1000 / qMax(1, refreshTimer->interval()));
    if (++crateTickCount < ticksPerSecond)
        return;
    crateTickCount = 0;
    if (!controller)
        return;

    showControllerState();
    statusLabelLiveInsertion->setText(
        controller->liveInsertion() ? tr("<font color=\"green\">Live Insertion active.") : QString());

    advanceConnectionStates();

    if (!isToolWindowVisible("DialogCrate"))
        return;
    for (BaseCrate* crate : std::as_const(crates)) {
        const int serialNumber = crate->serialNumber();
        emit updateCrateFirmwareRelease(serialNumber, crate->firmwareRelease());
        emit updateCrateSupply5V(serialNumber, crate->supply5V());
        emit updateCrateSupply24V(serialNumber, crate->supply24V());
        emit updateCrateBattery24V(serialNumber, crate->battery24V());
        emit updateCrateTemperatureBackPlane(serialNumber, crate->temperatureBackPlane());
        emit updateCrateTemperaturePowerSupply(serialNumber, crate->temperaturePowerSupply());
        emit updateCrateFanSpeed(serialNumber, crate->fanSpeed());
        emit updateCrateStatus(serialNumber, crate->status());
        emit updateCratePowerOn(serialNumber, crate->powerOn());
    }
}

void TesmarControl::showControllerState()
{
    // A crate that does not answer at all is not "powered off". The bus status is only worth
    // showing when the crate answered before and after it was read: a main switch read that
    // failed in between reads as "off".
    QString text;
    if (controller->isConnected()) {
        text = controller->connectionInfo();
        if (!controller->isConnected())
            text.clear();
    }
    if (text.isEmpty())
        text = tr("<font color=\"red\">Can not connect to address %1.").arg(crateIpAddress);
    statusLabelController->setText(text);
}

void TesmarControl::refreshOverview()
{
    static const char* const runningStateTexts[] = {
        QT_TR_NOOP("HV Off"), QT_TR_NOOP("HV On"), QT_TR_NOOP("Ramping"), QT_TR_NOOP("Error")};

    emit updateAllModulesStarted();
    for (BaseModule* module : std::as_const(modules)) {
        const int serialNumber = module->serialNumber();
        emit updateModuleStarted(serialNumber);
        emit updateChannelVoltageUnit(serialNumber, 0, module->voltageUnit(0));
        emit updateChannelCurrentUnit(serialNumber, 0, module->currentUnit(0));
        emit updateModuleTemperature(serialNumber, 0, module->temperature(0));
        int rating = 0;
        const int channels = module->channelNumber();
        for (int channel = 0; channel < channels; ++channel) {
            emit updateChannelVoltageMeasure(
                serialNumber, channel, module->formatVoltage(module->channelVoltageMeasure(channel)));
            emit updateChannelCurrentMeasure(
                serialNumber, channel, module->formatCurrent(module->channelCurrentMeasure(channel)));
            emit updateChannelVoltage(
                serialNumber, channel, module->channelVoltageSet(channel), module->voltageUnit(channel));
            rating = qMax(rating, runningRating(module->channelStatus(channel)));
        }
        emit updateModuleRunningState(serialNumber, tr(runningStateTexts[rating]), QColor(Qt::black));
        emit updateModuleCompleted(serialNumber);
    }
    emit updateAllModulesCompleted();
}
