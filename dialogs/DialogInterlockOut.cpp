#include "DialogInterlockOut.h"

#include "ui_DialogInterlockOut.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"

#include <QCheckBox>

DialogInterlockOut::DialogInterlockOut(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogInterlockOut)
{
    ui->setupUi(this);
    m_statusBoxes = BitBoxes(ui->grpInterlockStatus);
    m_lastTriggerBoxes = BitBoxes(ui->grpInterlockLastTrigger);
    m_controlBoxes = BitBoxes(ui->grpInterlockControl);
    m_activeBoxes = BitBoxes(ui->grpChannelActualActive);
    m_triggeredBoxes = BitBoxes(ui->grpChannelEverTriggered);
    for (QWidget* display :
        {static_cast<QWidget*>(ui->grpInterlockStatus), static_cast<QWidget*>(ui->grpInterlockLastTrigger),
            static_cast<QWidget*>(ui->grpChannelActualActive), static_cast<QWidget*>(ui->grpChannelEverTriggered)})
        makeDisplayOnly(display);
    // The reserved control bits are kept as received, never edited.
    const QList<QCheckBox*> controlBoxes = ui->grpInterlockControl->findChildren<QCheckBox*>();
    for (QCheckBox* box : controlBoxes) {
        if (!box->property("bit").isValid())
            box->setEnabled(false);
    }
    for (QCheckBox* box : m_controlBoxes.boxes())
        trackEdits(box);
    ui->txtCount->setText(QStringLiteral("---"));
    setNeeds(Poller::InterlockOut);
    moduleChanged(module());
}

DialogInterlockOut::~DialogInterlockOut()
{
    delete ui;
}

void DialogInterlockOut::moduleChanged(BaseModule* module)
{
    m_status = m_control = m_count = m_lastTrigger = m_active = m_triggered = Word();
    m_available = module && module->reports(BaseModule::Quantity::InterlockOut);
    if (module)
        m_serialNumber = module->serialNumber();
    showAvailability(ui->grpInterlockStatus, tr("InterlockOut Status"), m_available);
    showAvailability(ui->grpInterlockLastTrigger, tr("Interlock Last Trigger"), m_available);
    showAvailability(ui->grpInterlockControl, tr("InterlockOut Control"), m_available);
    showAvailability(ui->grpChannelActualActive, tr("Module Interlock Channel Actual Active"), m_available);
    showAvailability(ui->grpChannelEverTriggered, tr("Module Interlock Channel Ever Triggered"), m_available);
    // Unknown until this module's words arrive.
    showFreshness(ModuleSnapshot::nowMs());
}

QList<QWidget*> DialogInterlockOut::displays() const
{
    return {ui->grpInterlockStatus, ui->grpInterlockLastTrigger, ui->grpInterlockControl, ui->grpChannelActualActive,
        ui->grpChannelEverTriggered, ui->txtCount, ui->btnSetInterlockControl};
}

bool DialogInterlockOut::accept(int serialNumber, Word& word, quint32 value)
{
    if (serialNumber != m_serialNumber || !module())
        return false;
    word = {true, quint16(value & 0xFFFF)};
    return true;
}

void DialogInterlockOut::showFreshness(qint64 nowMs)
{
    // The six words come from one read: they are as old as each other.
    const std::shared_ptr<const ModuleSnapshot> snapshot = moduleSnapshot();
    Freshness freshness = snapshot && m_control.known
        ? snapshot->windowValuesFreshness(snapshot->windowValues.interlockOutValid, nowMs)
        : Freshness::Stale;
    if (!m_available)
        freshness = Freshness::Stale;
    const std::pair<Word*, const BitBoxes*> words[] = {{&m_status, &m_statusBoxes}, {&m_control, &m_controlBoxes},
        {&m_lastTrigger, &m_lastTriggerBoxes}, {&m_active, &m_activeBoxes}, {&m_triggered, &m_triggeredBoxes}};
    if (freshness == Freshness::Stale) {
        for (const auto& [word, boxes] : words) {
            *word = Word();
            boxes->showUnknown();
        }
        m_count = Word();
        ui->txtCount->setText(QStringLiteral("---"));
    }
    for (QWidget* widget : displays()) {
        widget->setEnabled(freshness != Freshness::Stale);
        showAgeing(widget, freshness == Freshness::Ageing);
    }
}

void DialogInterlockOut::editsReverted()
{
    if (m_control.known)
        m_controlBoxes.show(m_control.value);
}

void DialogInterlockOut::updateInterlockStatus(int serialNumber, quint32 status)
{
    if (accept(serialNumber, m_status, status))
        m_statusBoxes.show(m_status.value);
}

void DialogInterlockOut::updateInterlockControl(int serialNumber, quint32 control)
{
    if (accept(serialNumber, m_control, control))
        m_controlBoxes.show(m_control.value);
}

void DialogInterlockOut::updateInterlockCount(int serialNumber, quint32 count)
{
    if (accept(serialNumber, m_count, count))
        ui->txtCount->setText(QString::number(m_count.value));
}

void DialogInterlockOut::updateInterlockLastTrigger(int serialNumber, quint32 lastTrigger)
{
    if (accept(serialNumber, m_lastTrigger, lastTrigger))
        m_lastTriggerBoxes.show(m_lastTrigger.value);
}

void DialogInterlockOut::updateInterlockChannelActualActive(int serialNumber, quint32 channelActive)
{
    if (accept(serialNumber, m_active, channelActive))
        m_activeBoxes.show(m_active.value);
}

void DialogInterlockOut::updateInterlockChannelEverTriggered(int serialNumber, quint32 channelTriggered)
{
    if (accept(serialNumber, m_triggered, channelTriggered))
        m_triggeredBoxes.show(m_triggered.value);
}

void DialogInterlockOut::on_btnSetInterlockControl_clicked()
{
    quint32 clearBits = 0;
    quint32 setBits = 0;
    if (!m_controlBoxes.changes(&clearBits, &setBits))
        return;
    // The reserved bits and the bits the operator did not change go back as the module has them
    // now (read there).
    emit changeInterlockControl(m_serialNumber, clearBits, setBits);
    clearEdits(m_controlBoxes.editedBoxes());
}
