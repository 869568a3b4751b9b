#include "DialogInterlockOut.h"

#include "ui_DialogInterlockOut.h"

#include "device/BaseModule.h"

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
    ui->txtCount->setText(QStringLiteral("0"));
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
    if (!module)
        return;
    m_serialNumber = module->serialNumber();
    const bool available = module->reports(BaseModule::Quantity::InterlockOut);
    m_available = available;
    showAvailability(ui->grpInterlockStatus, tr("InterlockOut Status"), available);
    showAvailability(ui->grpInterlockLastTrigger, tr("Interlock Last Trigger"), available);
    showAvailability(ui->grpInterlockControl, tr("InterlockOut Control"), available);
    showAvailability(ui->grpChannelActualActive, tr("Module Interlock Channel Actual Active"), available);
    showAvailability(ui->grpChannelEverTriggered, tr("Module Interlock Channel Ever Triggered"), available);
    // Greyed until this module's words arrive.
    for (QWidget* widget : displays())
        widget->setEnabled(false);
    if (!available)
        ui->txtCount->setText(QStringLiteral("---"));
}

QList<QWidget*> DialogInterlockOut::displays() const
{
    return {ui->grpInterlockStatus, ui->grpInterlockLastTrigger, ui->grpInterlockControl, ui->grpChannelActualActive,
        ui->grpChannelEverTriggered, ui->txtCount, ui->btnSetInterlockControl};
}

bool DialogInterlockOut::changed(int serialNumber, Word& word, quint32 value)
{
    const quint16 low = quint16(value & 0xFFFF);
    if (serialNumber != m_serialNumber || (word.known && word.value == low))
        return false;
    word = {true, low};
    for (QWidget* widget : displays())
        widget->setEnabled(m_available);
    return true;
}

void DialogInterlockOut::updateInterlockStatus(int serialNumber, quint32 status)
{
    if (changed(serialNumber, m_status, status))
        m_statusBoxes.show(m_status.value);
}

void DialogInterlockOut::updateInterlockControl(int serialNumber, quint32 control)
{
    if (changed(serialNumber, m_control, control))
        m_controlBoxes.show(m_control.value);
}

void DialogInterlockOut::updateInterlockCount(int serialNumber, quint32 count)
{
    if (changed(serialNumber, m_count, count))
        ui->txtCount->setText(QString::number(m_count.value));
}

void DialogInterlockOut::updateInterlockLastTrigger(int serialNumber, quint32 lastTrigger)
{
    if (changed(serialNumber, m_lastTrigger, lastTrigger))
        m_lastTriggerBoxes.show(m_lastTrigger.value);
}

void DialogInterlockOut::updateInterlockChannelActualActive(int serialNumber, quint32 channelActive)
{
    if (changed(serialNumber, m_active, channelActive))
        m_activeBoxes.show(m_active.value);
}

void DialogInterlockOut::updateInterlockChannelEverTriggered(int serialNumber, quint32 channelTriggered)
{
    if (changed(serialNumber, m_triggered, channelTriggered))
        m_triggeredBoxes.show(m_triggered.value);
}

void DialogInterlockOut::on_btnSetInterlockControl_clicked()
{
    // Read fresh: the reserved bits go back as the module has them now.
    quint32 control = 0;
    if (readFresh(
            this, module(), [](BaseModule* m) { return m->GetModuleIlkOutControl(); }, &control,
            tr("Interlock out control word")))
        emit setInterlockControl(m_serialNumber, m_controlBoxes.applyTo(control) & 0xFFFF);
}
