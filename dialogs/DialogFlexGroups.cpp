#include "DialogFlexGroups.h"
#include "ui_DialogFlexGroups.h"

#include "controller/ApplicationIdentity.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTimer>

namespace {

enum GroupKind : quint32 { SetGroup = 0, StatusGroup = 1, MonitoringGroup = 2, TimeoutGroup = 3 };

constexpr quint32 kindShift = 14;
constexpr quint32 kindMask = 0x3u << kindShift;
constexpr quint32 codeShift = 4; // copy code, status or monitored bit
constexpr quint32 codeMask = 0xFu << codeShift;
constexpr quint32 flagBit = 0x1u << 8; // "permanent" (set group), MOD0 (monitoring group)
constexpr quint32 actionShift = 12;
constexpr quint32 actionMask = 0x3u << actionShift;
constexpr quint32 narrowMasterMask = 0xFu; // bits 0-3
constexpr quint32 wideMasterShift = 16;    // bits 16-20
constexpr quint32 wideMasterMask = 0x1Fu << wideMasterShift;
constexpr quint32 narrowTimeoutMask = 0xFFFu; // bits 0-11
constexpr quint32 wideTimeoutShift = 16;      // bits 16-31
constexpr quint32 wideTimeoutMask = 0xFFFFu << wideTimeoutShift;
constexpr int narrowHighestMaster = 15;
constexpr int wideHighestMaster = 31;
constexpr int narrowHighestTimeoutMs = 4095;
constexpr int wideHighestTimeoutMs = 65535;

// Codes in bits 4-7 that the module does not define show the first choice of their tab.
constexpr int defaultCopyCode = 1;  // "Copy Vset"
constexpr int defaultStatusBit = 3; // "Check IsON" / "Monitor IsON"

void checkButton(QButtonGroup* group, int id, int fallbackId)
{
    QAbstractButton* button = group->button(id);
    if (!button)
        button = group->button(fallbackId);
    button->setChecked(true);
}

quint32 field(quint32 word, quint32 mask, quint32 shift)
{
    return (word & mask) >> shift;
}

quint32 withField(quint32 word, quint32 mask, quint32 shift, quint32 value)
{
    return (word & ~mask) | ((value << shift) & mask);
}

} // namespace

DialogFlexGroups::DialogFlexGroups(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogFlexGroups)
    , pollTimer(new QTimer(this))
    , copyButtons(new QButtonGroup(this))
    , statusButtons(new QButtonGroup(this))
    , monitorButtons(new QButtonGroup(this))
    , monitorActions(new QButtonGroup(this))
    , timeoutActions(new QButtonGroup(this))
{
    ui->setupUi(this);
    ui->txtHelp->hide();

    QCheckBox* const boxes[memberCount] = {ui->chkChannel0, ui->chkChannel1, ui->chkChannel2, ui->chkChannel3,
        ui->chkChannel4, ui->chkChannel5, ui->chkChannel6, ui->chkChannel7, ui->chkChannel8, ui->chkChannel9,
        ui->chkChannel10, ui->chkChannel11, ui->chkChannel12, ui->chkChannel13, ui->chkChannel14, ui->chkChannel15,
        ui->chkChannel16, ui->chkChannel17, ui->chkChannel18, ui->chkChannel19, ui->chkChannel20, ui->chkChannel21,
        ui->chkChannel22, ui->chkChannel23, ui->chkChannel24, ui->chkChannel25, ui->chkChannel26, ui->chkChannel27,
        ui->chkChannel28, ui->chkChannel29, ui->chkChannel30, ui->chkChannel31};
    std::copy(std::begin(boxes), std::end(boxes), std::begin(memberBoxes));

    // Button ids are the codes the module uses.
    for (auto [button, code] : {std::pair{ui->rdoCopy1, 1}, {ui->rdoCopy2, 2}, {ui->rdoCopy4, 4}, {ui->rdoCopy5, 5},
             {ui->rdoCopy6, 6}, {ui->rdoCopy7, 7}, {ui->rdoCopy10, 10}, {ui->rdoCopy11, 11}, {ui->rdoCopy15, 15}})
        copyButtons->addButton(button, code);
    for (auto [button, code] :
        {std::pair{ui->rdoCheck3, 3}, {ui->rdoCheck4, 4}, {ui->rdoCheck6, 6}, {ui->rdoCheck7, 7}, {ui->rdoCheck10, 10},
            {ui->rdoCheck11, 11}, {ui->rdoCheck12, 12}, {ui->rdoCheck13, 13}, {ui->rdoCheck14, 14}, {ui->rdoCheck15, 15}})
        statusButtons->addButton(button, code);
    for (auto [button, code] : {std::pair{ui->rdoMonitor3, 3}, {ui->rdoMonitor4, 4}, {ui->rdoMonitor6, 6},
             {ui->rdoMonitor7, 7}, {ui->rdoMonitor10, 10}, {ui->rdoMonitor11, 11}, {ui->rdoMonitor12, 12},
             {ui->rdoMonitor13, 13}, {ui->rdoMonitor14, 14}, {ui->rdoMonitor15, 15}})
        monitorButtons->addButton(button, code);
    for (auto [button, code] : {std::pair{ui->rdoMonitorAction0, 0}, {ui->rdoMonitorAction1, 1}, {ui->rdoMonitorAction2, 2},
             {ui->rdoMonitorAction3, 3}})
        monitorActions->addButton(button, code);
    for (auto [button, code] : {std::pair{ui->rdoTimeoutAction0, 0}, {ui->rdoTimeoutAction1, 1}, {ui->rdoTimeoutAction2, 2},
             {ui->rdoTimeoutAction3, 3}})
        timeoutActions->addButton(button, code);
    ui->rdoCopy1->setChecked(true);
    checkDefaults();
    // Whatever the operator changes of the group's definition is an edit.
    for (QCheckBox* box : memberBoxes)
        trackEdits(box);
    for (QButtonGroup* buttons : {copyButtons, statusButtons, monitorButtons, monitorActions, timeoutActions}) {
        for (QAbstractButton* button : buttons->buttons())
            trackEdits(button);
    }
    trackEdits(ui->chkPermanent);
    trackEdits(ui->chkMod0);
    trackEdits(ui->spbMasterChannel);
    trackEdits(ui->spbTimeout);
    connect(ui->tabWidget->tabBar(), &QTabBar::tabBarClicked, this, [this] { setEdited(ui->tabWidget, true); });

    pollTimer->setInterval(pollIntervalMs);
    connect(pollTimer, &QTimer::timeout, this, &DialogFlexGroups::requestShownGroup);
    if (BaseModule* shown = module()) {
        setDeviceClass(shown->deviceClass());
        setChannelCount(shown->channelNumber());
    }
}

DialogFlexGroups::~DialogFlexGroups()
{
    delete ui;
}

bool DialogFlexGroups::wideLayout() const
{
    return deviceClass == wideLayoutDeviceClass;
}

void DialogFlexGroups::setDeviceClass(int value)
{
    const Drawing drawing(this);
    deviceClass = value;
    ui->spbTimeout->setMaximum(wideLayout() ? wideHighestTimeoutMs : narrowHighestTimeoutMs);
    updateMasterChannelMaximum();
}

void DialogFlexGroups::setChannelCount(int channels)
{
    channelCount = channels;
    // The module's channels in the blocks its groups are organised in.
    struct Block
    {
        int first, last, enabledAboveChannels;
    };
    for (const Block& block :
        {Block{0, 3, 3}, Block{4, 7, 7}, Block{8, 11, 11}, Block{12, 15, 15}, Block{16, 23, 23}, Block{24, 31, 31}}) {
        for (int channel = block.first; channel <= block.last; ++channel)
            memberBoxes[channel]->setEnabled(channels > block.enabledAboveChannels);
    }
    updateMasterChannelMaximum();
}

void DialogFlexGroups::updateMasterChannelMaximum()
{
    // The narrow layout has 4 bits for the master channel: a higher one would reach the module
    // with its high bits cut off, and the group would copy from another channel.
    const int highest = wideLayout() ? wideHighestMaster : narrowHighestMaster;
    const Drawing drawing(this);
    ui->spbMasterChannel->setMaximum(qBound(0, channelCount - 1, highest));
}

void DialogFlexGroups::forgetReceived()
{
    receivedMember.reset();
    receivedType.reset();
    receivedAtMs = -1;
}

void DialogFlexGroups::checkDefaults()
{
    ui->rdoTimeoutAction0->setChecked(true);
    ui->rdoMonitorAction0->setChecked(true);
    ui->rdoMonitor3->setChecked(true);
    ui->rdoCheck3->setChecked(true);
}

void DialogFlexGroups::requestShownGroup()
{
    const int groupNumber = ui->spbGroupNumber->value();
    const QPointer<BaseModule> asked = module();
    if (!asked || !session() || groupNumber < 0 || groupNumber >= groupCount)
        return;
    // Read on the poller's thread, so the window never waits for the module. A module that did
    // not answer delivers nothing (no zeros); neither does an answer of a module no longer shown.
    const BaseModule* expected = asked.data();
    session()->readCurrentModuleOnce(
        this, [this, asked, expected, groupNumber](BaseModule& read) -> DeviceSession::ModuleReadResult {
            if (&read != expected)
                return {};
            const quint32 member = read.flexGroupMemberList(groupNumber);
            const quint32 type = read.flexGroupType(groupNumber);
            if (!read.connected())
                return {};
            return [this, asked, groupNumber, member, type] {
                if (asked && asked == module())
                    showGroup(groupNumber, member, type);
            };
        });
}

void DialogFlexGroups::on_spbGroupNumber_valueChanged(int)
{
    // Changes were meant for the group shown before.
    clearEdits();
    forgetReceived();
    showFreshness(ModuleSnapshot::nowMs());
    requestShownGroup();
}

void DialogFlexGroups::showGroup(int groupNumber, quint32 member, quint32 type)
{
    if (!module())
        return;
    if (groupNumber < 0 || groupNumber >= groupCount || groupNumber != ui->spbGroupNumber->value())
        return;
    receivedAtMs = ModuleSnapshot::nowMs();
    const bool news = receivedMember != member || receivedType != type;
    receivedMember = member;
    receivedType = type;
    // The same group again redraws nothing, and nothing while the operator changes it.
    if (news && !anyEdited())
        showReceived();
    showFreshness(receivedAtMs);
}

void DialogFlexGroups::showReceived()
{
    if (!receivedMember || !receivedType)
        return;
    for (int channel = 0; channel < memberCount; ++channel)
        memberBoxes[channel]->setChecked(*receivedMember & (1u << channel));
    const Drawing drawing(this);
    showType(*receivedType);
}

void DialogFlexGroups::showFreshness(qint64 nowMs)
{
    const Freshness freshness = module() ? FreshnessRules::of(receivedAtMs, nowMs) : Freshness::Stale;
    const bool known = freshness != Freshness::Stale;
    if (!known && receivedMember) {
        forgetReceived();
        for (QCheckBox* box : memberBoxes) {
            if (!isEdited(box))
                box->setChecked(false);
        }
    }
    for (QWidget* shown : {static_cast<QWidget*>(ui->grpMembers), static_cast<QWidget*>(ui->tabWidget)})
        showAgeing(shown, freshness == Freshness::Ageing);
    ui->btnSet->setEnabled(known);
    ui->btnErase->setEnabled(known);
    ui->grpMembers->setTitle(module() ? tr("Member Channels") : tr("Member Channels (not available)"));
}

void DialogFlexGroups::editsReverted()
{
    showReceived();
}

void DialogFlexGroups::showType(quint32 type)
{
    const int kind = int(field(type, kindMask, kindShift));
    const int code = int(field(type, codeMask, codeShift));
    const int action = int(field(type, actionMask, actionShift));
    ui->tabWidget->setCurrentIndex(kind);
    switch (kind) {
    case SetGroup:
        ui->chkPermanent->setChecked(type & flagBit);
        ui->spbMasterChannel->setValue(
            int(wideLayout() ? field(type, wideMasterMask, wideMasterShift) : field(type, narrowMasterMask, 0)));
        checkButton(copyButtons, code, defaultCopyCode);
        break;
    case StatusGroup:
        checkButton(statusButtons, code, defaultStatusBit);
        break;
    case MonitoringGroup:
        ui->chkMod0->setChecked(type & flagBit);
        checkButton(monitorButtons, code, defaultStatusBit);
        checkButton(monitorActions, action, 0);
        break;
    default:
        ui->spbTimeout->setValue(
            int(wideLayout() ? field(type, wideTimeoutMask, wideTimeoutShift) : field(type, narrowTimeoutMask, 0)));
        checkButton(timeoutActions, action, 0);
        break;
    }
}

quint32 DialogFlexGroups::composeType(bool* ok) const
{
    *ok = true;
    quint32 type = receivedType.value_or(0);
    switch (ui->tabWidget->currentIndex()) {
    case SetGroup:
        type = withField(type, kindMask, kindShift, SetGroup);
        if (wideLayout())
            type = withField(type, wideMasterMask, wideMasterShift, quint32(ui->spbMasterChannel->value()));
        else
            type = withField(type, narrowMasterMask, 0, quint32(ui->spbMasterChannel->value()));
        type = withField(type, flagBit, 8, ui->chkPermanent->isChecked() ? 1 : 0);
        type = withField(type, codeMask, codeShift, quint32(qMax(0, copyButtons->checkedId())));
        break;
    case StatusGroup:
        type = withField(type, kindMask, kindShift, StatusGroup);
        type = withField(type, codeMask, codeShift, quint32(qMax(0, statusButtons->checkedId())));
        break;
    case MonitoringGroup:
        type = withField(type, kindMask, kindShift, MonitoringGroup);
        type = withField(type, codeMask, codeShift, quint32(qMax(0, monitorButtons->checkedId())));
        type = withField(type, flagBit, 8, ui->chkMod0->isChecked() ? 1 : 0);
        type = withField(type, actionMask, actionShift, quint32(qMax(0, monitorActions->checkedId())));
        break;
    case TimeoutGroup:
        type = withField(type, kindMask, kindShift, TimeoutGroup);
        if (wideLayout())
            type = withField(type, wideTimeoutMask, wideTimeoutShift, quint32(ui->spbTimeout->value()));
        else
            type = withField(type, narrowTimeoutMask, 0, quint32(ui->spbTimeout->value()));
        type = withField(type, actionMask, actionShift, quint32(qMax(0, timeoutActions->checkedId())));
        break;
    default:
        *ok = false;
        break;
    }
    return type;
}

void DialogFlexGroups::on_btnSet_clicked()
{
    quint32 member = 0;
    for (int channel = 0; channel < memberCount; ++channel) {
        if (memberBoxes[channel]->isChecked())
            member |= 1u << channel;
    }
    bool ok = false;
    const quint32 type = composeType(&ok);
    if (!ok) {
        QMessageBox::information(this, QString::fromLatin1(ApplicationIdentity::applicationName),
            tr("Error: Invalid Tab selected (How did you do this?!)!"));
        ui->tabWidget->setCurrentIndex(0);
        return;
    }
    emit setFlexGroup(ui->spbGroupNumber->value(), member, type);
    clearEdits();
}

void DialogFlexGroups::on_btnErase_clicked()
{
    emit setFlexGroup(ui->spbGroupNumber->value(), 0, 0);
    clearEdits();
}

void DialogFlexGroups::on_btnMemberSelection_clicked()
{
    for (QCheckBox* box : memberBoxes) {
        if (box->isEnabled()) {
            box->setChecked(selectAllNext);
            setEdited(box, true);
        }
    }
    ui->btnMemberSelection->setText(selectAllNext ? tr("Unselect &All") : tr("Select &All"));
    selectAllNext = !selectAllNext;
}

void DialogFlexGroups::on_btnHelp_clicked()
{
    ui->txtHelp->setVisible(!ui->txtHelp->isVisible());
    updateHelpButtonText();
}

void DialogFlexGroups::updateHelpButtonText()
{
    ui->btnHelp->setText(ui->txtHelp->isVisible() ? tr("&Help <<") : tr("&Help >>"));
}

void DialogFlexGroups::showEvent(QShowEvent* event)
{
    ToolWindow::showEvent(event);
    forgetReceived();
    ui->tabWidget->setCurrentIndex(0);
    checkDefaults();
    requestShownGroup();
    pollTimer->start();
}

void DialogFlexGroups::hideEvent(QHideEvent* event)
{
    ToolWindow::hideEvent(event);
    pollTimer->stop();
}

void DialogFlexGroups::moduleChanged(BaseModule* module)
{
    forgetReceived();
    if (!module)
        return;
    setDeviceClass(module->deviceClass());
    setChannelCount(module->channelNumber());
    if (isVisible())
        requestShownGroup();
}

void DialogFlexGroups::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        ui->btnMemberSelection->setText(selectAllNext ? tr("Select &All") : tr("Unselect &All"));
        updateHelpButtonText();
    }
    ToolWindow::changeEvent(event);
}
