#pragma once

#include "dialogs/common/ToolWindow.h"

#include <optional>

namespace Ui {
class DialogFlexGroups;
}

class QButtonGroup;
class QCheckBox;
class QTimer;

// "Variable Groups": one of the current module's 32 variable channel groups (member channels
// and a type word: set, status, monitoring or timeout group), read by the window itself on the
// poller's thread every pollIntervalMs while it is shown, and the writing or erasing of a group definition. The group shows
// its age (ToolWindow): grey when ageing; stale, the members are unknown and nothing can be set
// or erased. Once the operator changed anything of the group, the answers no longer redraw it
// until it is set, erased, another group is chosen or Escape reverts it.
//
// Type word: bits 14-15 the kind. Set group: master channel in bits 0-3 (bits 16-20 for device
// class 29), what is copied in bits 4-7, "permanent" in bit 8. Status and monitoring groups: the
// channel status bit in bits 4-7; monitoring also MOD0 in bit 8 and the action in bits 12-13.
// Timeout group: the time in ms in bits 0-11 (bits 16-31 for device class 29), the action in
// bits 12-13. Bits the shown kind does not define go back as they were received.
class DialogFlexGroups : public ToolWindow
{
    Q_OBJECT
public:
    static constexpr int groupCount = 32;
    static constexpr int memberCount = 32;
    // The device class with the wide layout (5-bit master channel, 16-bit timeout).
    static constexpr int wideLayoutDeviceClass = 29;
    // Often enough for the shown group to stay younger than the ageing time.
    static constexpr int pollIntervalMs = 400;

    explicit DialogFlexGroups(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogFlexGroups() override;

    void setDeviceClass(int deviceClass);
    // Enables the member check boxes the module has (in blocks) and limits the master channel.
    void setChannelCount(int channels);

    // The answer for group `groupNumber` of the window's module: drawn when it is the shown group
    // and differs from the previous answer, unless the operator changed the group.
    void showGroup(int groupNumber, quint32 member, quint32 type);

signals:
    void setFlexGroup(int num, quint32 member, quint32 type);

private slots:
    void on_spbGroupNumber_valueChanged(int num);
    void on_btnSet_clicked();
    void on_btnErase_clicked();
    void on_btnMemberSelection_clicked();
    void on_btnHelp_clicked();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;
    void editsReverted() override;

private:
    bool wideLayout() const;
    // Draw the next data received even when it equals what was received before.
    void forgetReceived();
    void checkDefaults();
    void requestShownGroup();
    void showType(quint32 type);
    void showReceived();
    quint32 composeType(bool* ok) const;
    void updateMasterChannelMaximum();
    void updateHelpButtonText();

    Ui::DialogFlexGroups* ui;
    QTimer* pollTimer;
    QCheckBox* memberBoxes[memberCount] = {};
    QButtonGroup* copyButtons;
    QButtonGroup* statusButtons;
    QButtonGroup* monitorButtons;
    QButtonGroup* monitorActions;
    QButtonGroup* timeoutActions;

    std::optional<quint32> receivedMember;
    std::optional<quint32> receivedType;
    qint64 receivedAtMs = -1; // ModuleSnapshot::nowMs() of the latest answer for the shown group
    int deviceClass = 0;
    int channelCount = 4;
    bool selectAllNext = true; // "Select &All" selects; after it, the button unselects
};
