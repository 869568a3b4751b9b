#include "DialogModuleControl.h"

#include "ui_DialogModuleControl.h"

#include "device/BaseModule.h"

#include <QCheckBox>
#include <QPushButton>

namespace {
constexpr int channelsPerEnableBlock = 4;
} // namespace

DialogModuleControl::DialogModuleControl(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogModuleControl)
{
    ui->setupUi(this);
    m_statusBoxes = BitBoxes(ui->grpStatus);
    m_eventStatusBoxes = BitBoxes(ui->grpEventStatus);
    m_eventMaskBoxes = BitBoxes(ui->grpEventMask);
    m_controlBoxes = BitBoxes(ui->grpControl);
    m_eventChannelStatusBoxes = BitBoxes(ui->grpEventChannelStatus);
    m_eventChannelMaskBoxes = BitBoxes(ui->grpEventChannelMask);
    m_eventGroupStatusBoxes = BitBoxes(ui->grpEventGroupStatus);
    m_eventGroupMaskBoxes = BitBoxes(ui->grpEventGroupMask);
    for (QWidget* display : {static_cast<QWidget*>(ui->grpStatus), static_cast<QWidget*>(ui->grpEventStatus),
             static_cast<QWidget*>(ui->grpEventChannelStatus), static_cast<QWidget*>(ui->grpEventGroupStatus)})
        makeDisplayOnly(display);
    setChannelCount(0);
    setNeeds(Poller::ModuleControlWords);
    moduleChanged(module());
}

DialogModuleControl::~DialogModuleControl()
{
    delete ui;
}

void DialogModuleControl::setChannelCount(int channels)
{
    // Whole blocks of four only: a module with 6 channels enables 0-3.
    m_channelBoxes = qBound(0, channels / channelsPerEnableBlock * channelsPerEnableBlock, 32);
    for (const BitBoxes* group : {&m_eventChannelStatusBoxes, &m_eventChannelMaskBoxes}) {
        for (QCheckBox* box : group->boxes())
            box->setEnabled(box->property("bit").toInt() < m_channelBoxes);
    }
}

void DialogModuleControl::setAvailable(QWidget* group, const QString& title, bool available)
{
    m_available.insert(group, available);
    showAvailability(group, title, available);
}

void DialogModuleControl::moduleChanged(BaseModule* module)
{
    // Words of the previous module are no reading of this one.
    m_control = m_status = m_eventStatus = m_eventMask = m_restartTime = Word();
    m_eventChannelStatus = m_eventChannelMask = m_eventGroupStatus = m_eventGroupMask = Word();
    using Quantity = BaseModule::Quantity;
    const auto reports = [module](Quantity quantity) { return !module || module->reports(quantity); };
    const bool control = reports(Quantity::ModuleControl);
    const bool mask = reports(Quantity::ModuleEventMask);
    const bool channels = reports(Quantity::EventChannelWords);
    const bool groups = reports(Quantity::EventGroupWords);
    setAvailable(ui->grpStatus, tr("Status"), true);
    setAvailable(ui->grpEventStatus, tr("Event Status"), true);
    setAvailable(ui->grpControl, tr("Control"), control);
    ui->btnSetControl->setEnabled(control);
    setAvailable(ui->grpEventMask, tr("Event Mask"), mask);
    ui->btnSetMask->setEnabled(mask);
    setAvailable(ui->grpRestartTime, tr("RestartTime"), reports(Quantity::RestartTime));
    setAvailable(ui->grpEventChannelStatus, tr("Module Event Channel Status"), channels);
    setAvailable(ui->grpEventChannelMask, tr("Module Event Channel Mask"), channels);
    for (QPushButton* button : {ui->btnClearECS, ui->btnSelectECM, ui->btnSetECM})
        button->setEnabled(channels);
    setAvailable(ui->grpEventGroupStatus, tr("EventGroupStatus"), groups);
    setAvailable(ui->grpEventGroupMask, tr("EventGroupMask"), groups);
    for (QPushButton* button : {ui->btnClearEGS, ui->btnSelectEGM, ui->btnSetEGM})
        button->setEnabled(groups);
    // Greyed until this module's words arrive.
    for (auto it = m_available.cbegin(); it != m_available.cend(); ++it)
        it.key()->setEnabled(false);
    if (!module)
        return;
    m_serialNumber = module->serialNumber();
    setChannelCount(module->channelNumber());
}

void DialogModuleControl::update(int serialNumber, Word& word, quint32 value, const BitBoxes& boxes, QWidget* group)
{
    if (serialNumber != m_serialNumber || (word.known && word.value == value))
        return;
    word = {true, value};
    boxes.show(value);
    group->setEnabled(m_available.value(group, true));
}

void DialogModuleControl::updateModuleControl(int serialNumber, quint32 control)
{
    update(serialNumber, m_control, control & 0xFFFF, m_controlBoxes, ui->grpControl);
}

void DialogModuleControl::updateModuleStatus(int serialNumber, quint32 status)
{
    update(serialNumber, m_status, status & 0xFFFF, m_statusBoxes, ui->grpStatus);
}

void DialogModuleControl::updateModuleEventStatus(int serialNumber, quint32 eventStatus)
{
    update(serialNumber, m_eventStatus, eventStatus & 0xFFFF, m_eventStatusBoxes, ui->grpEventStatus);
}

void DialogModuleControl::updateModuleEventMask(int serialNumber, quint32 eventMask)
{
    update(serialNumber, m_eventMask, eventMask & 0xFFFF, m_eventMaskBoxes, ui->grpEventMask);
}

void DialogModuleControl::updateModuleRestartTime(int serialNumber, quint32 restartTime)
{
    if (serialNumber != m_serialNumber || (m_restartTime.known && m_restartTime.value == restartTime))
        return;
    m_restartTime = {true, restartTime};
    ui->grpRestartTime->setEnabled(m_available.value(ui->grpRestartTime, true));
    ui->spbRestartTime->setValue(int(qMin<quint32>(restartTime, quint32(ui->spbRestartTime->maximum()))));
}

void DialogModuleControl::updateModuleEventChannelStatus(int serialNumber, quint32 status)
{
    update(serialNumber, m_eventChannelStatus, status, m_eventChannelStatusBoxes, ui->grpEventChannelStatus);
}

void DialogModuleControl::updateModuleEventChannelMask(int serialNumber, quint32 mask)
{
    update(serialNumber, m_eventChannelMask, mask, m_eventChannelMaskBoxes, ui->grpEventChannelMask);
}

void DialogModuleControl::updateModuleEventGroupStatus(int serialNumber, quint32 status)
{
    update(serialNumber, m_eventGroupStatus, status, m_eventGroupStatusBoxes, ui->grpEventGroupStatus);
}

void DialogModuleControl::updateModuleEventGroupMask(int serialNumber, quint32 mask)
{
    update(serialNumber, m_eventGroupMask, mask, m_eventGroupMaskBoxes, ui->grpEventGroupMask);
}

void DialogModuleControl::toggleSelectAll(bool& selectAll, const BitBoxes& boxes, QWidget* button)
{
    // Boxes of channels the module does not have stay as they are.
    const bool channels = &boxes == &m_eventChannelMaskBoxes;
    for (QCheckBox* box : boxes.boxes()) {
        if (!channels || box->property("bit").toInt() < m_channelBoxes)
            box->setChecked(selectAll);
    }
    selectAll = !selectAll;
    static_cast<QPushButton*>(button)->setText(selectAll ? tr("Select All") : tr("Unselect All"));
}

void DialogModuleControl::on_btnSelectECM_clicked()
{
    toggleSelectAll(m_selectAllChannels, m_eventChannelMaskBoxes, ui->btnSelectECM);
}

void DialogModuleControl::on_btnSelectEGM_clicked()
{
    toggleSelectAll(m_selectAllGroups, m_eventGroupMaskBoxes, ui->btnSelectEGM);
}

void DialogModuleControl::on_btnSetECM_clicked()
{
    emit setModuleEventChannelMask(m_serialNumber, m_eventChannelMaskBoxes.applyTo(0));
}

void DialogModuleControl::on_btnSetEGM_clicked()
{
    emit setModuleEventGroupMask(m_serialNumber, m_eventGroupMaskBoxes.applyTo(0));
}

void DialogModuleControl::on_btnClearECS_clicked()
{
    emit clearModuleEventChannelStatus(m_serialNumber);
}

void DialogModuleControl::on_btnClearEGS_clicked()
{
    emit clearModuleEventGroupStatus(m_serialNumber);
}

void DialogModuleControl::on_btnClearEvents_clicked()
{
    emit clearModuleEvents(m_serialNumber);
}

void DialogModuleControl::on_btnSetRestartTime_clicked()
{
    emit setRestartTime(m_serialNumber, quint32(ui->spbRestartTime->value()));
}

void DialogModuleControl::on_btnSetControl_clicked()
{
    // Read fresh: bits this window does not show keep their state on the module.
    quint32 control = 0;
    if (readFresh(
            this, module(), [](BaseModule* m) { return m->control(); }, &control, tr("Module control word")))
        emit setModuleControl(m_serialNumber, m_controlBoxes.applyTo(control) & 0xFFFF);
}

void DialogModuleControl::on_btnSetMask_clicked()
{
    quint32 mask = 0;
    if (readFresh(
            this, module(), [](BaseModule* m) { return m->eventMask(); }, &mask, tr("Module event mask")))
        emit setModuleEventMask(m_serialNumber, m_eventMaskBoxes.applyTo(mask) & 0xFFFF);
}
