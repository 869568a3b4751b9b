#include "DialogChannelControl.h"

#include "ui_DialogChannelControl.h"

#include "device/BaseModule.h"
#include "device/ModuleTypes.h"

DialogChannelControl::DialogChannelControl(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogChannelControl)
{
    ui->setupUi(this);
    m_statusBoxes = BitBoxes(ui->grpStatus);
    m_eventStatusBoxes = BitBoxes(ui->grpEventStatus);
    m_eventMaskBoxes = BitBoxes(ui->grpEventMask);
    m_controlBoxes = BitBoxes(ui->grpControl);
    makeDisplayOnly(ui->grpStatus);
    makeDisplayOnly(ui->grpEventStatus);
    ui->setExternalMeasurementOn->setEnabled(false);
    ui->setRippleMeasurementOn->setEnabled(false);
    setNeeds(Poller::ChannelEventWords | Poller::ChannelHardwareNominals);
    moduleChanged(module());
}

DialogChannelControl::~DialogChannelControl()
{
    delete ui;
}

bool DialogChannelControl::isShown(int serialNumber, int channel) const
{
    return serialNumber == m_serialNumber && channel == m_channel;
}

void DialogChannelControl::update(Word& word, quint32 value, const BitBoxes& boxes, QWidget* group)
{
    value &= 0xFFFF;
    // An unchanged word leaves the boxes alone (and whatever the operator ticked in them).
    if (word.known && word.value == value)
        return;
    word = {true, value};
    boxes.show(value);
    group->setEnabled(group != ui->grpEventMask || m_masksAvailable);
}

void DialogChannelControl::forgetWords()
{
    m_control = m_status = m_eventStatus = m_eventMask = Word();
    for (QWidget* group : {static_cast<QWidget*>(ui->grpStatus), static_cast<QWidget*>(ui->grpEventStatus),
             static_cast<QWidget*>(ui->grpEventMask), static_cast<QWidget*>(ui->grpControl)})
        group->setEnabled(false);
}

void DialogChannelControl::updateChannelControl(int serialNumber, int channel, quint32 control)
{
    if (isShown(serialNumber, channel))
        update(m_control, control, m_controlBoxes, ui->grpControl);
}

void DialogChannelControl::updateChannelStatus(int serialNumber, int channel, quint32 status)
{
    if (isShown(serialNumber, channel))
        update(m_status, status, m_statusBoxes, ui->grpStatus);
}

void DialogChannelControl::updateChannelEventStatus(int serialNumber, int channel, quint32 eventStatus)
{
    if (isShown(serialNumber, channel))
        update(m_eventStatus, eventStatus, m_eventStatusBoxes, ui->grpEventStatus);
}

void DialogChannelControl::updateChannelEventMask(int serialNumber, int channel, quint32 eventMask)
{
    if (isShown(serialNumber, channel))
        update(m_eventMask, eventMask, m_eventMaskBoxes, ui->grpEventMask);
}

void DialogChannelControl::updateChannelVoltageNominal(int serialNumber, int channel, float vnominal, QString unit)
{
    if (isShown(serialNumber, channel)) {
        m_voltageNominal = vnominal;
        m_voltageUnit = unit;
    }
}

void DialogChannelControl::updateChannelCurrentNominal(int serialNumber, int channel, float inominal, QString unit)
{
    if (isShown(serialNumber, channel)) {
        m_currentNominal = inominal;
        m_currentUnit = unit;
    }
}

void DialogChannelControl::updateChannelVoltageHardwareNominal(int serialNumber, int channel, float vmax, QString unit)
{
    if (isShown(serialNumber, channel)) {
        m_voltageHardwareNominal = vmax;
        m_voltageUnit = unit;
    }
}

void DialogChannelControl::updateChannelCurrentHardwareNominal(int serialNumber, int channel, float imax, QString unit)
{
    if (isShown(serialNumber, channel)) {
        m_currentHardwareNominal = imax;
        m_currentUnit = unit;
    }
}

void DialogChannelControl::updateModuleControl(int serialNumber, quint32 control)
{
    if (serialNumber == m_serialNumber)
        m_moduleControl = control;
}

void DialogChannelControl::updateModuleStatus(int serialNumber, quint32 status)
{
    if (serialNumber == m_serialNumber)
        m_moduleStatus = status;
}

void DialogChannelControl::updateModuleFirmwareName(int serialNumber, QString firmwareName)
{
    if (serialNumber != m_serialNumber)
        return;
    // Only measurement channels switch their measurement modes.
    const bool measurement = firmwareName == QLatin1String(ModuleTypes::measurement);
    ui->setExternalMeasurementOn->setEnabled(measurement);
    ui->setRippleMeasurementOn->setEnabled(measurement);
}

void DialogChannelControl::currentChannelChanged(int serialNumber, int channel)
{
    channel = qMax(0, channel); // no row in the table: channel 0, as the table's commands take it
    if (serialNumber != m_serialNumber || channel != m_channel)
        forgetWords();
    m_serialNumber = serialNumber;
    m_channel = channel;
    setWindowTitle(tr("%1: Channel %2 Status / Control").arg(serialNumber).arg(channel));
}

void DialogChannelControl::moduleChanged(BaseModule* module)
{
    m_masksAvailable = !module || module->reports(BaseModule::Quantity::ChannelEventMask);
    showAvailability(ui->grpEventMask, tr("Event Mask"), m_masksAvailable);
    ui->btnSetMask->setEnabled(m_masksAvailable);
    forgetWords();
}

void DialogChannelControl::on_btnSetMask_clicked()
{
    const int channel = m_channel;
    quint32 mask = 0;
    // The mask is read fresh: bits this window does not show keep their state on the module.
    if (!readFresh(
            this, module(), [channel](BaseModule* m) { return m->channelEventMask(channel); }, &mask, tr("Event mask")))
        return;
    emit setChannelEventMask(m_serialNumber, channel, m_eventMaskBoxes.applyTo(mask) & 0xFFFF);
}

void DialogChannelControl::on_btnClearEvents_clicked()
{
    emit clearChannelEvents(m_serialNumber, m_channel);
}

void DialogChannelControl::on_btnSetControl_clicked()
{
    const int channel = m_channel;
    quint32 control = 0;
    const auto read = [channel](BaseModule* m) {
        // Modules that read channel words in blocks refresh them with channel 0.
        if (channel != 0)
            m->channelControl(0);
        return m->channelControl(channel);
    };
    if (!readFresh(this, module(), read, &control, tr("Control word")))
        return;
    emit setChannelControl(m_serialNumber, channel, m_controlBoxes.applyTo(control) & 0xFFFF);
}
