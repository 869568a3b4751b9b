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
    // Status and control come with the channel reads.
    setNeeds(Poller::CurrentModuleChannels | Poller::ChannelEventWords | Poller::ChannelHardwareNominals);
    moduleChanged(module());
}

DialogChannelControl::~DialogChannelControl()
{
    delete ui;
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

void DialogChannelControl::showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs)
{
    BaseModule* shown = module();
    if (!shown || m_channel < 0)
        return;
    // Control and status come with the channel reads: only a read of this channel that is not
    // stale, in the units shown now.
    if (snapshot.connected(nowMs) && snapshot.voltageUnit == shown->voltageUnit(0)
        && snapshot.currentUnit == shown->currentUnit(0)
        && snapshot.channelFreshness(m_channel, nowMs) != Freshness::Stale) {
        const ChannelReading& reading = snapshot.channels.at(m_channel);
        update(m_control, reading.control, m_controlBoxes);
        update(m_status, reading.status, m_statusBoxes);
    }
    const ToolWindowReading& values = snapshot.windowValues;
    if (windowValuesCurrent(snapshot, nowMs) && values.channelEventWordsValid
        && m_channel < values.channelEventStatus.size()) {
        update(m_eventStatus, values.channelEventStatus.at(m_channel), m_eventStatusBoxes);
        if (m_masksAvailable && m_channel < values.channelEventMask.size())
            update(m_eventMask, values.channelEventMask.at(m_channel), m_eventMaskBoxes);
    }
    showFreshness(nowMs);
}

void DialogChannelControl::showChannel(int channel)
{
    channel = qMax(0, channel); // no row in the table: channel 0, as the table's commands take it
    if (channel != m_channel) {
        // Ticks meant for the channel shown before.
        clearEdits();
        forgetWords();
    }
    m_channel = channel;
    showTitle();
    showLatestSnapshot();
}

void DialogChannelControl::showTitle()
{
    if (m_channel >= 0)
        setWindowTitle(tr("%1: Channel %2 Status / Control").arg(m_serialNumber).arg(m_channel));
}

void DialogChannelControl::moduleChanged(BaseModule* module)
{
    m_masksAvailable = module && module->reports(BaseModule::Quantity::ChannelEventMask);
    const bool present = module != nullptr;
    showAvailability(ui->grpStatus, tr("Status"), present);
    showAvailability(ui->grpEventStatus, tr("Event Status"), present);
    showAvailability(ui->grpControl, tr("Control"), present);
    showAvailability(ui->grpEventMask, tr("Event Mask"), m_masksAvailable);
    // Only measurement channels switch their measurement modes.
    const bool measurement = module && module->firmwareName() == QLatin1String(ModuleTypes::measurement);
    ui->setExternalMeasurementOn->setEnabled(measurement);
    ui->setRippleMeasurementOn->setEnabled(measurement);
    if (module) {
        m_serialNumber = module->serialNumber();
        showTitle();
    }
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
    emit changeChannelEventMask(m_channel, clearBits, setBits);
    clearEdits(m_eventMaskBoxes.editedBoxes());
}

void DialogChannelControl::on_btnClearEvents_clicked()
{
    emit clearChannelEvents(m_channel);
}

void DialogChannelControl::on_btnSetControl_clicked()
{
    quint32 clearBits = 0;
    quint32 setBits = 0;
    if (!m_controlBoxes.changes(&clearBits, &setBits))
        return;
    emit changeChannelControl(m_channel, clearBits, setBits);
    clearEdits(m_controlBoxes.editedBoxes());
}
