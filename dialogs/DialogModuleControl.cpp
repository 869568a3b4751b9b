#include "DialogModuleControl.h"

#include "ui_DialogModuleControl.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"

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
    for (const BitBoxes* editable : {&m_eventMaskBoxes, &m_controlBoxes, &m_eventChannelMaskBoxes, &m_eventGroupMaskBoxes})
        trackBoxes(*editable);
    trackEdits(ui->spbRestartTime);
    // One below the smallest restart time: "---" while the module's is not known.
    ui->spbRestartTime->setMinimum(-1);
    ui->spbRestartTime->setSpecialValueText(QStringLiteral("---"));
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

void DialogModuleControl::trackBoxes(const BitBoxes& boxes)
{
    for (QCheckBox* box : boxes.boxes())
        trackEdits(box);
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
    const auto reports = [module](Quantity quantity) { return module && module->reports(quantity); };
    setAvailable(ui->grpStatus, tr("Status"), module != nullptr);
    setAvailable(ui->grpEventStatus, tr("Event Status"), module != nullptr);
    setAvailable(ui->grpControl, tr("Control"), reports(Quantity::ModuleControl));
    setAvailable(ui->grpEventMask, tr("Event Mask"), reports(Quantity::ModuleEventMask));
    setAvailable(ui->grpRestartTime, tr("RestartTime"), reports(Quantity::RestartTime));
    const bool channels = reports(Quantity::EventChannelWords);
    setAvailable(ui->grpEventChannelStatus, tr("Module Event Channel Status"), channels);
    setAvailable(ui->grpEventChannelMask, tr("Module Event Channel Mask"), channels);
    const bool groups = reports(Quantity::EventGroupWords);
    setAvailable(ui->grpEventGroupStatus, tr("EventGroupStatus"), groups);
    setAvailable(ui->grpEventGroupMask, tr("EventGroupMask"), groups);
    for (const BitBoxes* boxes : {&m_statusBoxes, &m_eventStatusBoxes, &m_eventMaskBoxes, &m_controlBoxes,
             &m_eventChannelStatusBoxes, &m_eventChannelMaskBoxes, &m_eventGroupStatusBoxes, &m_eventGroupMaskBoxes})
        boxes->showUnknown();
    // Unknown until this module's words arrive.
    for (auto it = m_available.cbegin(); it != m_available.cend(); ++it)
        it.key()->setEnabled(false);
    for (QPushButton* button : {ui->btnSetControl, ui->btnSetMask, ui->btnClearEvents, ui->btnSetRestartTime})
        button->setEnabled(false);
    if (!module)
        return;
    m_serialNumber = module->serialNumber();
    setChannelCount(module->channelNumber());
}

void DialogModuleControl::showFreshness(qint64 nowMs)
{
    const std::shared_ptr<const ModuleSnapshot> snapshot = moduleSnapshot();
    // Status words come with the module values, the other words with the tool-window reads.
    const Freshness status =
        snapshot && snapshot->values.statusValid ? FreshnessRules::of(snapshot->statusReadAtMs, nowMs) : Freshness::Stale;
    const Freshness words =
        snapshot ? snapshot->windowValuesFreshness(snapshot->windowValues.moduleWordsValid, nowMs) : Freshness::Stale;
    const auto show = [this](Word& word, const BitBoxes& boxes, QWidget* group, Freshness freshness) {
        if (!word.known)
            freshness = Freshness::Stale;
        if (!showWordFreshness(boxes, group, freshness, m_available.value(group, false)))
            word = Word(); // the next reading draws every box again
        return group->isEnabled();
    };
    show(m_status, m_statusBoxes, ui->grpStatus, status);
    show(m_eventStatus, m_eventStatusBoxes, ui->grpEventStatus, status);
    ui->btnSetControl->setEnabled(show(m_control, m_controlBoxes, ui->grpControl, words));
    ui->btnSetMask->setEnabled(show(m_eventMask, m_eventMaskBoxes, ui->grpEventMask, words));
    show(m_eventChannelStatus, m_eventChannelStatusBoxes, ui->grpEventChannelStatus, words);
    show(m_eventChannelMask, m_eventChannelMaskBoxes, ui->grpEventChannelMask, words);
    show(m_eventGroupStatus, m_eventGroupStatusBoxes, ui->grpEventGroupStatus, words);
    show(m_eventGroupMask, m_eventGroupMaskBoxes, ui->grpEventGroupMask, words);
    ui->btnClearEvents->setEnabled(module() != nullptr);

    const Freshness restart = m_restartTime.known ? words : Freshness::Stale;
    const bool restartKnown = restart != Freshness::Stale && m_available.value(ui->grpRestartTime, false);
    if (!restartKnown) {
        m_restartTime = Word();
        if (!isEdited(ui->spbRestartTime)) {
            const Drawing drawing(this);
            ui->spbRestartTime->setValue(ui->spbRestartTime->minimum()); // shows "---"
        }
    }
    ui->grpRestartTime->setEnabled(restartKnown);
    showAgeing(ui->grpRestartTime, restart == Freshness::Ageing);
}

void DialogModuleControl::editsReverted()
{
    const std::pair<const Word*, const BitBoxes*> editable[] = {{&m_control, &m_controlBoxes},
        {&m_eventMask, &m_eventMaskBoxes}, {&m_eventChannelMask, &m_eventChannelMaskBoxes},
        {&m_eventGroupMask, &m_eventGroupMaskBoxes}};
    for (const auto& [word, boxes] : editable) {
        if (word->known)
            boxes->show(word->value);
    }
    showRestartTime();
}

void DialogModuleControl::update(int serialNumber, Word& word, quint32 value, const BitBoxes& boxes)
{
    if (serialNumber != m_serialNumber || !module())
        return;
    word = {true, value};
    boxes.show(value);
}

void DialogModuleControl::updateModuleControl(int serialNumber, quint32 control)
{
    update(serialNumber, m_control, control & 0xFFFF, m_controlBoxes);
}

void DialogModuleControl::updateModuleStatus(int serialNumber, quint32 status)
{
    update(serialNumber, m_status, status & 0xFFFF, m_statusBoxes);
}

void DialogModuleControl::updateModuleEventStatus(int serialNumber, quint32 eventStatus)
{
    update(serialNumber, m_eventStatus, eventStatus & 0xFFFF, m_eventStatusBoxes);
}

void DialogModuleControl::updateModuleEventMask(int serialNumber, quint32 eventMask)
{
    update(serialNumber, m_eventMask, eventMask & 0xFFFF, m_eventMaskBoxes);
}

void DialogModuleControl::updateModuleRestartTime(int serialNumber, quint32 restartTime)
{
    if (serialNumber != m_serialNumber || !module())
        return;
    m_restartTime = {true, restartTime};
    showRestartTime();
}

void DialogModuleControl::showRestartTime()
{
    if (m_restartTime.known)
        showValue(ui->spbRestartTime, int(qMin<quint32>(m_restartTime.value, quint32(ui->spbRestartTime->maximum()))));
}

void DialogModuleControl::updateModuleEventChannelStatus(int serialNumber, quint32 status)
{
    update(serialNumber, m_eventChannelStatus, status, m_eventChannelStatusBoxes);
}

void DialogModuleControl::updateModuleEventChannelMask(int serialNumber, quint32 mask)
{
    update(serialNumber, m_eventChannelMask, mask, m_eventChannelMaskBoxes);
}

void DialogModuleControl::updateModuleEventGroupStatus(int serialNumber, quint32 status)
{
    update(serialNumber, m_eventGroupStatus, status, m_eventGroupStatusBoxes);
}

void DialogModuleControl::updateModuleEventGroupMask(int serialNumber, quint32 mask)
{
    update(serialNumber, m_eventGroupMask, mask, m_eventGroupMaskBoxes);
}

void DialogModuleControl::toggleSelectAll(bool& selectAll, const BitBoxes& boxes, QWidget* button)
{
    // Boxes of channels the module does not have stay as they are.
    const bool channels = &boxes == &m_eventChannelMaskBoxes;
    for (QCheckBox* box : boxes.boxes()) {
        if (!channels || box->property("bit").toInt() < m_channelBoxes) {
            box->setChecked(selectAll);
            setEdited(box, true);
        }
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

bool DialogModuleControl::changedMask(const BitBoxes& boxes, const Word& word, quint32* mask)
{
    quint32 clearBits = 0;
    quint32 setBits = 0;
    if (!word.known || !boxes.changes(&clearBits, &setBits))
        return false;
    *mask = (word.value & ~clearBits) | setBits;
    return true;
}

void DialogModuleControl::on_btnSetECM_clicked()
{
    quint32 mask = 0;
    if (!changedMask(m_eventChannelMaskBoxes, m_eventChannelMask, &mask))
        return;
    emit setModuleEventChannelMask(m_serialNumber, mask);
    clearEdits(m_eventChannelMaskBoxes.editedBoxes());
}

void DialogModuleControl::on_btnSetEGM_clicked()
{
    quint32 mask = 0;
    if (!changedMask(m_eventGroupMaskBoxes, m_eventGroupMask, &mask))
        return;
    emit setModuleEventGroupMask(m_serialNumber, mask);
    clearEdits(m_eventGroupMaskBoxes.editedBoxes());
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
    if (ui->spbRestartTime->value() < 0)
        return;
    emit setRestartTime(m_serialNumber, quint32(ui->spbRestartTime->value()));
    clearEdits({ui->spbRestartTime});
}

void DialogModuleControl::on_btnSetControl_clicked()
{
    quint32 clearBits = 0;
    quint32 setBits = 0;
    if (!m_controlBoxes.changes(&clearBits, &setBits))
        return;
    emit changeModuleControl(m_serialNumber, clearBits, setBits);
    clearEdits(m_controlBoxes.editedBoxes());
}

void DialogModuleControl::on_btnSetMask_clicked()
{
    quint32 clearBits = 0;
    quint32 setBits = 0;
    if (!m_eventMaskBoxes.changes(&clearBits, &setBits))
        return;
    // Bits the operator did not change keep their state on the module (read there).
    emit changeModuleEventMask(m_serialNumber, clearBits, setBits);
    clearEdits(m_eventMaskBoxes.editedBoxes());
}
