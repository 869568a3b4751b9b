#include "DialogChannelControl.h"

#include "ui_DialogChannelControl.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"
#include "device/ModuleTypes.h"

#include <QCheckBox>

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
    for (const BitBoxes* editable : {&m_eventMaskBoxes, &m_controlBoxes}) {
        for (QCheckBox* box : editable->boxes())
            trackEdits(box);
    }
    ui->setExternalMeasurementOn->setEnabled(false);
    ui->setRippleMeasurementOn->setEnabled(false);
    // Status and control come with the channel reads.
    setNeeds(Poller::CurrentModuleChannels | Poller::ChannelEventWords | Poller::ChannelHardwareNominals);
    moduleChanged(module());
}

DialogChannelControl::~DialogChannelControl()
{
    delete ui;
}

bool DialogChannelControl::isShown(int serialNumber, int channel) const
{
    return module() && serialNumber == m_serialNumber && channel == m_channel;
}

void DialogChannelControl::update(Word& word, quint32 value, const BitBoxes& boxes)
{
    // Drawn every time: the boxes the operator edited keep their ticks (BitBoxes), every other
    // one follows the module, also after a write that changed nothing.
    value &= 0xFFFF;
    word = {true, value};
    boxes.show(value);
}

void DialogChannelControl::forgetWords()
{
    m_control = m_status = m_eventStatus = m_eventMask = Word();
    for (const BitBoxes* boxes : {&m_statusBoxes, &m_eventStatusBoxes, &m_eventMaskBoxes, &m_controlBoxes})
        boxes->showUnknown();
}

void DialogChannelControl::updateChannelControl(int serialNumber, int channel, quint32 control)
{
    if (isShown(serialNumber, channel))
        update(m_control, control, m_controlBoxes);
}

void DialogChannelControl::updateChannelStatus(int serialNumber, int channel, quint32 status)
{
    if (isShown(serialNumber, channel))
        update(m_status, status, m_statusBoxes);
}

void DialogChannelControl::updateChannelEventStatus(int serialNumber, int channel, quint32 eventStatus)
{
    if (isShown(serialNumber, channel))
        update(m_eventStatus, eventStatus, m_eventStatusBoxes);
}

void DialogChannelControl::updateChannelEventMask(int serialNumber, int channel, quint32 eventMask)
{
    if (isShown(serialNumber, channel))
        update(m_eventMask, eventMask, m_eventMaskBoxes);
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
    if (serialNumber != m_serialNumber || channel != m_channel) {
        // Ticks meant for the channel shown before.
        clearEdits();
        forgetWords();
    }
    m_serialNumber = serialNumber;
    m_channel = channel;
    setWindowTitle(tr("%1: Channel %2 Status / Control").arg(serialNumber).arg(channel));
}

void DialogChannelControl::moduleChanged(BaseModule* module)
{
    m_masksAvailable = module && module->reports(BaseModule::Quantity::ChannelEventMask);
    const bool present = module != nullptr;
    showAvailability(ui->grpStatus, tr("Status"), present);
    showAvailability(ui->grpEventStatus, tr("Event Status"), present);
    showAvailability(ui->grpControl, tr("Control"), present);
    showAvailability(ui->grpEventMask, tr("Event Mask"), m_masksAvailable);
    if (module)
        m_serialNumber = module->serialNumber();
    forgetWords();
}

void DialogChannelControl::showFreshness(qint64 nowMs)
{
    const std::shared_ptr<const ModuleSnapshot> snapshot = moduleSnapshot();
    // The channel words come with the channel reads, the event words with the tool-window reads.
    const Freshness channelWords = snapshot ? snapshot->channelFreshness(m_channel, nowMs) : Freshness::Stale;
    const Freshness eventWords =
        snapshot ? snapshot->windowValuesFreshness(snapshot->windowValues.channelEventWordsValid, nowMs) : Freshness::Stale;
    const auto known = [](const Word& word, Freshness freshness) { return word.known ? freshness : Freshness::Stale; };
    const auto show = [](Word& word, const BitBoxes& boxes, QWidget* group, Freshness freshness, bool available) {
        if (!showWordFreshness(boxes, group, freshness, available))
            word = Word(); // the next reading draws every box again
        return freshness != Freshness::Stale && available;
    };
    const bool present = module() != nullptr;
    show(m_status, m_statusBoxes, ui->grpStatus, known(m_status, channelWords), present);
    const bool control = show(m_control, m_controlBoxes, ui->grpControl, known(m_control, channelWords), present);
    show(m_eventStatus, m_eventStatusBoxes, ui->grpEventStatus, known(m_eventStatus, eventWords), present);
    const bool mask =
        show(m_eventMask, m_eventMaskBoxes, ui->grpEventMask, known(m_eventMask, eventWords), m_masksAvailable);
    ui->btnSetControl->setEnabled(control);
    ui->btnSetMask->setEnabled(mask);
    ui->btnClearEvents->setEnabled(present);
}

void DialogChannelControl::editsReverted()
{
    if (m_control.known)
        m_controlBoxes.show(m_control.value);
    if (m_eventMask.known)
        m_eventMaskBoxes.show(m_eventMask.value);
}

void DialogChannelControl::on_btnSetMask_clicked()
{
    quint32 clearBits = 0;
    quint32 setBits = 0;
    if (!m_eventMaskBoxes.changes(&clearBits, &setBits))
        return;
    // Bits the operator did not change keep their state on the module (read there).
    emit changeChannelEventMask(m_serialNumber, m_channel, clearBits, setBits);
    clearEdits(m_eventMaskBoxes.editedBoxes());
}

void DialogChannelControl::on_btnClearEvents_clicked()
{
    emit clearChannelEvents(m_serialNumber, m_channel);
}

void DialogChannelControl::on_btnSetControl_clicked()
{
    quint32 clearBits = 0;
    quint32 setBits = 0;
    if (!m_controlBoxes.changes(&clearBits, &setBits))
        return;
    emit changeChannelControl(m_serialNumber, m_channel, clearBits, setBits);
    clearEdits(m_controlBoxes.editedBoxes());
}
