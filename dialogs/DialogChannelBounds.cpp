#include "DialogChannelBounds.h"

#include "ui_DialogChannelBounds.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"
#include "device/StatusWordBits.h"
#include "dialogs/BitBoxes.h"

#include <QCheckBox>

namespace {
// The upper bound may reach slightly above the nominal value.
constexpr double upperBoundHeadroom = 1.01;
const QString unknownText = QStringLiteral("---");
} // namespace

DialogChannelBounds::DialogChannelBounds(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogChannelBounds)
{
    ui->setupUi(this);
    for (int bound = 0; bound < BoundCount; ++bound)
        trackEdits(box(Bound(bound)));
    ui->lblVoltageIlkMin->setEnabled(false);
    ui->spbVoltageIlkMin->setEnabled(false);
    ui->lblCurrentIlkMin->setEnabled(false);
    ui->spbCurrentIlkMin->setEnabled(false);
    // The control word comes with the channel reads.
    setNeeds(Poller::CurrentModuleChannels | Poller::ChannelBounds);
    moduleChanged(module());
}

DialogChannelBounds::~DialogChannelBounds()
{
    delete ui;
}

QDoubleSpinBox* DialogChannelBounds::box(Bound bound) const
{
    switch (bound) {
    case VoltageMax:
        return ui->spbVoltageIlkMax;
    case VoltageMin:
        return ui->spbVoltageIlkMin;
    case CurrentMax:
        return ui->spbCurrentIlkMax;
    default:
        return ui->spbCurrentIlkMin;
    }
}

void DialogChannelBounds::prepare(
    const QString& voltageUnit, int voltagePrecision, const QString& currentUnit, int currentPrecision)
{
    m_voltageUnit = voltageUnit;
    m_currentUnit = currentUnit;
    const Drawing drawing(this);
    ui->spbVoltageIlkMax->setDecimals(voltagePrecision);
    ui->spbVoltageIlkMin->setDecimals(voltagePrecision);
    ui->spbCurrentIlkMax->setDecimals(currentPrecision);
    ui->spbCurrentIlkMin->setDecimals(currentPrecision);
    relabel();
}

void DialogChannelBounds::moduleChanged(BaseModule* module)
{
    m_available = module && module->reports(BaseModule::Quantity::ChannelBounds);
    m_serialNumber = module ? module->serialNumber() : 0;
    showAvailability(ui->grpVoltageBounds, tr("Voltage Bounds"), m_available);
    showAvailability(ui->grpCurrentBounds, tr("Current Bounds"), m_available);
    forgetValues();
}

void DialogChannelBounds::forgetValues()
{
    m_controlKnown = m_boundsKnown = false;
    // No reading to show: "---" instead of a number that looks like one.
    const Drawing drawing(this);
    for (int bound = 0; bound < BoundCount; ++bound) {
        QDoubleSpinBox* field = box(Bound(bound));
        if (isEdited(field))
            continue;
        field->setSpecialValueText(unknownText);
        field->setValue(field->minimum());
    }
    ui->grpVoltageBounds->setEnabled(false);
    ui->grpCurrentBounds->setEnabled(false);
    ui->btnSetBounds->setEnabled(false);
}

void DialogChannelBounds::showChannel(int channel)
{
    channel = qMax(0, channel); // no row in the table: channel 0, as the table's commands take it
    if (channel == m_channel)
        return;
    m_channel = channel;
    // Typed for the channel shown before.
    clearEdits();
    forgetValues();
    setWindowTitle(tr("Channel %1 Voltage and Current Bounds").arg(channel));
    ui->lblHeading->setText(tr("Voltage and Current Bounds for Channel %1").arg(channel));
    showLatestSnapshot();
}

void DialogChannelBounds::showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs)
{
    BaseModule* shown = module();
    if (!shown || m_channel < 0)
        return;
    // Voltages and currents only in the units shown now.
    const QString voltageUnit = shown->voltageUnit(0);
    const QString currentUnit = shown->currentUnit(0);
    const bool channelRead = snapshot.connected(nowMs) && snapshot.voltageUnit == voltageUnit
        && snapshot.currentUnit == currentUnit && snapshot.channelFreshness(m_channel, nowMs) != Freshness::Stale;
    const ToolWindowReading& values = snapshot.windowValues;
    if (windowValuesCurrent(snapshot, nowMs) && values.boundsValid && values.voltageUnit == voltageUnit
        && values.currentUnit == currentUnit && m_channel < values.voltageInterlockMax.size()) {
        // The bound boxes are limited by the channel's nominal values, which travel with the
        // channel reads.
        if (channelRead) {
            const ChannelReading& reading = snapshot.channels.at(m_channel);
            m_voltageUnit = voltageUnit;
            m_currentUnit = currentUnit;
            const Drawing drawing(this);
            ui->spbVoltageIlkMax->setMaximum(upperBoundHeadroom * reading.voltageNominal);
            ui->spbVoltageIlkMin->setMaximum(reading.voltageNominal);
            ui->spbCurrentIlkMax->setMaximum(upperBoundHeadroom * reading.currentNominal);
            ui->spbCurrentIlkMin->setMaximum(reading.currentNominal);
            relabel();
        }
        m_boundsKnown = true;
        showBound(VoltageMax, values.voltageInterlockMax.at(m_channel));
        showBound(VoltageMin, values.voltageInterlockMin.value(m_channel));
        showBound(CurrentMax, values.currentInterlockMax.value(m_channel));
        showBound(CurrentMin, values.currentInterlockMin.value(m_channel));
    }
    if (channelRead) {
        const quint32 control = snapshot.channels.at(m_channel).control;
        m_controlKnown = true;
        m_control = control;
        // Drawing the module's state is no command: setChecked sends no click, nothing is written.
        ui->chkAVBND->setChecked(control & ChannelControlBit::asymmetricVoltageBounds);
        ui->chkACBND->setChecked(control & ChannelControlBit::asymmetricCurrentBounds);
        showAsymmetry();
    }
    showFreshness(nowMs);
}

void DialogChannelBounds::showBound(Bound bound, float value)
{
    m_bounds[bound] = value;
    QDoubleSpinBox* field = box(bound);
    if (isEdited(field))
        return;
    const Drawing drawing(this);
    field->setSpecialValueText(QString());
    field->setValue(value);
}

void DialogChannelBounds::showFreshness(qint64 nowMs)
{
    const std::shared_ptr<const ModuleSnapshot> snapshot = moduleSnapshot();
    const Freshness control = snapshot && m_controlKnown ? snapshot->channelFreshness(m_channel, nowMs) : Freshness::Stale;
    const Freshness bounds = snapshot && m_boundsKnown
        ? snapshot->windowValuesFreshness(snapshot->windowValues.boundsValid, nowMs)
        : Freshness::Stale;
    if (control == Freshness::Stale || bounds == Freshness::Stale) {
        if (m_controlKnown || m_boundsKnown)
            forgetValues();
        return;
    }
    const bool ageing = control == Freshness::Ageing || bounds == Freshness::Ageing;
    for (QWidget* group : {ui->grpVoltageBounds, ui->grpCurrentBounds}) {
        group->setEnabled(m_available);
        showAgeing(group, ageing);
    }
    ui->btnSetBounds->setEnabled(m_available);
}

void DialogChannelBounds::editsReverted()
{
    if (!m_boundsKnown)
        return;
    for (int bound = 0; bound < BoundCount; ++bound)
        showBound(Bound(bound), m_bounds[bound]);
}

void DialogChannelBounds::relabel()
{
    ui->lblVoltageIlkMax->setText(ui->chkAVBND->isChecked() ? tr("Voltage Interlock Max Set (%1)").arg(m_voltageUnit)
                                                            : tr("Voltage Bounds (%1)").arg(m_voltageUnit));
    ui->lblCurrentIlkMax->setText(ui->chkACBND->isChecked() ? tr("Current Interlock Max Set (%1)").arg(m_currentUnit)
                                                            : tr("Current Bounds (%1)").arg(m_currentUnit));
}

void DialogChannelBounds::showAsymmetry()
{
    const bool voltage = ui->chkAVBND->isChecked();
    const bool current = ui->chkACBND->isChecked();
    ui->lblVoltageIlkMin->setEnabled(voltage);
    ui->spbVoltageIlkMin->setEnabled(voltage);
    ui->lblCurrentIlkMin->setEnabled(current);
    ui->spbCurrentIlkMin->setEnabled(current);
    relabel();
}

void DialogChannelBounds::on_chkAVBND_clicked(bool checked)
{
    showAsymmetry();
    writeAsymmetry(ChannelControlBit::asymmetricVoltageBounds, checked);
}

void DialogChannelBounds::on_chkACBND_clicked(bool checked)
{
    showAsymmetry();
    writeAsymmetry(ChannelControlBit::asymmetricCurrentBounds, checked);
}

void DialogChannelBounds::writeAsymmetry(quint32 bit, bool on)
{
    // The module changes that one bit of the word it has now: its on and emergency-off bits
    // stay whatever this window last saw. The box follows the module's next reading.
    if (m_channel < 0 || !m_controlKnown)
        return;
    emit changeChannelControl(m_channel, on ? 0 : bit, on ? bit : 0);
}

void DialogChannelBounds::on_btnSetBounds_clicked()
{
    if (m_channel < 0 || !m_boundsKnown || !m_controlKnown)
        return;
    emit setChannelBounds(m_channel, ui->chkAVBND->isChecked(), float(ui->spbVoltageIlkMax->value()),
        float(ui->spbVoltageIlkMin->value()), ui->chkACBND->isChecked(), float(ui->spbCurrentIlkMax->value()),
        float(ui->spbCurrentIlkMin->value()));
    QList<QWidget*> sent;
    for (int bound = 0; bound < BoundCount; ++bound)
        sent.append(box(Bound(bound)));
    clearEdits(sent);
}
