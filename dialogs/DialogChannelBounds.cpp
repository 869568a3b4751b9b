#include "DialogChannelBounds.h"

#include "ui_DialogChannelBounds.h"

#include "device/BaseModule.h"
#include "device/StatusWordBits.h"
#include "dialogs/BitBoxes.h"

#include <QCheckBox>

namespace {
// The upper bound may reach slightly above the nominal value.
constexpr double upperBoundHeadroom = 1.01;
} // namespace

DialogChannelBounds::DialogChannelBounds(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogChannelBounds)
{
    ui->setupUi(this);
    ui->lblVoltageIlkMin->setEnabled(false);
    ui->spbVoltageIlkMin->setEnabled(false);
    ui->lblCurrentIlkMin->setEnabled(false);
    ui->spbCurrentIlkMin->setEnabled(false);
    setNeeds(Poller::ChannelBounds);
    moduleChanged(module());
}

DialogChannelBounds::~DialogChannelBounds()
{
    delete ui;
}

void DialogChannelBounds::prepare(
    const QString& voltageUnit, int voltagePrecision, const QString& currentUnit, int currentPrecision)
{
    m_voltageUnit = voltageUnit;
    m_currentUnit = currentUnit;
    ui->spbVoltageIlkMax->setDecimals(voltagePrecision);
    ui->spbVoltageIlkMin->setDecimals(voltagePrecision);
    ui->spbCurrentIlkMax->setDecimals(currentPrecision);
    ui->spbCurrentIlkMin->setDecimals(currentPrecision);
    relabel();
}

void DialogChannelBounds::moduleChanged(BaseModule* module)
{
    const bool available = !module || module->reports(BaseModule::Quantity::ChannelBounds);
    m_available = available;
    showAvailability(ui->grpVoltageBounds, tr("Voltage Bounds"), available);
    showAvailability(ui->grpCurrentBounds, tr("Current Bounds"), available);
    m_controlKnown = m_boundsKnown = false;
    enableGroups();
    // No reading to show: "---" instead of a 0 that looks like one.
    for (QDoubleSpinBox* box : {ui->spbVoltageIlkMax, ui->spbVoltageIlkMin, ui->spbCurrentIlkMax, ui->spbCurrentIlkMin}) {
        box->setSpecialValueText(available ? QString() : QStringLiteral("---"));
        if (!available)
            box->setValue(box->minimum());
    }
}

void DialogChannelBounds::enableGroups()
{
    const bool on = m_available && m_controlKnown && m_boundsKnown;
    ui->grpVoltageBounds->setEnabled(on);
    ui->grpCurrentBounds->setEnabled(on);
    ui->btnSetBounds->setEnabled(on);
}

bool DialogChannelBounds::isShown(int serialNumber, int channel) const
{
    return serialNumber == m_serialNumber && channel == m_channel;
}

void DialogChannelBounds::currentChannelChanged(int serialNumber, int channel)
{
    channel = qMax(0, channel); // no row in the table: channel 0, as the table's commands take it
    if (serialNumber == m_serialNumber && channel == m_channel)
        return;
    m_serialNumber = serialNumber;
    m_channel = channel;
    // The boxes showed another channel's word: the next update of this one draws them.
    m_controlKnown = m_boundsKnown = false;
    enableGroups();
    setWindowTitle(tr("Channel %1 Voltage and Current Bounds").arg(channel));
    ui->lblHeading->setText(tr("Voltage and Current Bounds for Channel %1").arg(channel));
}

void DialogChannelBounds::updateChannelVoltageNominal(int serialNumber, int channel, float vnominal, QString unit)
{
    if (!isShown(serialNumber, channel))
        return;
    m_voltageUnit = unit;
    ui->spbVoltageIlkMax->setMaximum(upperBoundHeadroom * vnominal);
    ui->spbVoltageIlkMin->setMaximum(vnominal);
    relabel();
}

void DialogChannelBounds::updateChannelCurrentNominal(int serialNumber, int channel, float inominal, QString unit)
{
    if (!isShown(serialNumber, channel))
        return;
    m_currentUnit = unit;
    ui->spbCurrentIlkMax->setMaximum(upperBoundHeadroom * inominal);
    ui->spbCurrentIlkMin->setMaximum(inominal);
    relabel();
}

void DialogChannelBounds::updateChannelControl(int serialNumber, int channel, quint32 control)
{
    if (!isShown(serialNumber, channel) || (m_controlKnown && control == m_control))
        return;
    m_controlKnown = true;
    m_control = control;
    // Drawing the module's state is no command: nothing is written from here.
    m_updating = true;
    ui->chkAVBND->setChecked(control & ChannelControlBit::asymmetricVoltageBounds);
    ui->chkACBND->setChecked(control & ChannelControlBit::asymmetricCurrentBounds);
    m_updating = false;
    showAsymmetry();
    enableGroups();
}

void DialogChannelBounds::updateChannelVoltageInterlockMinSet(int serialNumber, int channel, float value, QString)
{
    if (!isShown(serialNumber, channel))
        return;
    ui->spbVoltageIlkMin->setValue(value);
    m_boundsKnown = true;
    enableGroups();
}

void DialogChannelBounds::updateChannelVoltageInterlockMaxSet(int serialNumber, int channel, float value, QString)
{
    if (!isShown(serialNumber, channel))
        return;
    ui->spbVoltageIlkMax->setValue(value);
    m_boundsKnown = true;
    enableGroups();
}

void DialogChannelBounds::updateChannelCurrentInterlockMinSet(int serialNumber, int channel, float value, QString)
{
    if (!isShown(serialNumber, channel))
        return;
    ui->spbCurrentIlkMin->setValue(value);
    m_boundsKnown = true;
    enableGroups();
}

void DialogChannelBounds::updateChannelCurrentInterlockMaxSet(int serialNumber, int channel, float value, QString)
{
    if (!isShown(serialNumber, channel))
        return;
    ui->spbCurrentIlkMax->setValue(value);
    m_boundsKnown = true;
    enableGroups();
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

void DialogChannelBounds::on_chkAVBND_stateChanged(int state)
{
    showAsymmetry();
    if (!m_updating)
        writeAsymmetry(ChannelControlBit::asymmetricVoltageBounds, state == Qt::Checked);
}

void DialogChannelBounds::on_chkACBND_stateChanged(int state)
{
    showAsymmetry();
    if (!m_updating)
        writeAsymmetry(ChannelControlBit::asymmetricCurrentBounds, state == Qt::Checked);
}

void DialogChannelBounds::writeAsymmetry(quint32 bit, bool on)
{
    if (m_channel < 0)
        return;
    const int channel = m_channel;
    quint32 control = 0;
    const auto read = [channel](BaseModule* m) {
        if (channel != 0)
            m->channelControl(0); // block-reading modules refresh their channel words with channel 0
        return m->channelControl(channel);
    };
    // The word on the module now, not one shown earlier: its on and emergency-off bits stay.
    if (!readFresh(this, module(), read, &control, tr("Asymmetric bounds"))) {
        // Nothing was written: the box goes back to what the module last reported.
        m_updating = true;
        QCheckBox* box = bit == ChannelControlBit::asymmetricVoltageBounds ? ui->chkAVBND : ui->chkACBND;
        box->setChecked(!on);
        m_updating = false;
        showAsymmetry();
        return;
    }
    control = (on ? (control | bit) : (control & ~bit)) & 0xFFFF;
    emit setChannelControl(m_serialNumber, channel, control);
}

void DialogChannelBounds::on_btnSetBounds_clicked()
{
    if (m_channel < 0)
        return;
    emit setChannelBounds(m_channel, ui->chkAVBND->isChecked(), float(ui->spbVoltageIlkMax->value()),
        float(ui->spbVoltageIlkMin->value()), ui->chkACBND->isChecked(), float(ui->spbCurrentIlkMax->value()),
        float(ui->spbCurrentIlkMin->value()));
}
