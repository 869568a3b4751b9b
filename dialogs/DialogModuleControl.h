#pragma once

#include "dialogs/BitBoxes.h"
#include "dialogs/common/ToolWindow.h"

#include <QHash>

namespace Ui {
class DialogModuleControl;
}

// Status, event status, event mask and control word of the current module bit by bit, its
// event channel and event group words and its restart time; writes masks, control word and
// restart time and clears events through its signals. The words come from the snapshots of
// the window's module.
// Each word shows its age (ToolWindow): stale, its boxes are unknown and its buttons off. What
// the operator changed stays until it is sent or reverted; Set Control and the masks send only
// the bits the operator changed (changeModuleControl for the control word).
class DialogModuleControl : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogModuleControl(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogModuleControl() override;

    // Enables the event channel boxes of the module's channels, in blocks of four.
    void setChannelCount(int channels);

signals:
    void clearModuleEvents();
    // Clear `clearBits`, then set `setBits` of the module's control word as the module has it.
    void changeModuleControl(quint32 clearBits, quint32 setBits);
    // Clear `clearBits`, then set `setBits` of the event mask the module has now.
    void changeModuleEventMask(quint32 clearBits, quint32 setBits);
    void setRestartTime(quint32 restartTime);
    void clearModuleEventChannelStatus();
    void setModuleEventChannelMask(quint32 mask);
    void clearModuleEventGroupStatus();
    void setModuleEventGroupMask(quint32 mask);

private slots:
    void on_btnSetEGM_clicked();
    void on_btnSelectEGM_clicked();
    void on_btnClearEGS_clicked();
    void on_btnSetECM_clicked();
    void on_btnClearECS_clicked();
    void on_btnSelectECM_clicked();
    void on_btnSetRestartTime_clicked();
    void on_btnSetControl_clicked();
    void on_btnSetMask_clicked();
    void on_btnClearEvents_clicked();

protected:
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;
    void editsReverted() override;
    void showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs) override;

private:
    struct Word
    {
        bool known = false;
        quint32 value = 0;
    };
    // Stores and draws `value` (boxes the operator edited keep their ticks).
    static void update(Word& word, quint32 value, const BitBoxes& boxes);
    // The mask to send: `word` as last read with the operator's changes; false without changes.
    static bool changedMask(const BitBoxes& boxes, const Word& word, quint32* mask);
    void showRestartTime();
    void setAvailable(QWidget* group, const QString& title, bool available);
    void toggleSelectAll(bool& selectAll, const BitBoxes& boxes, QWidget* button);
    void trackBoxes(const BitBoxes& boxes);

    Ui::DialogModuleControl* ui;
    BitBoxes m_statusBoxes, m_eventStatusBoxes, m_eventMaskBoxes, m_controlBoxes;
    BitBoxes m_eventChannelStatusBoxes, m_eventChannelMaskBoxes, m_eventGroupStatusBoxes, m_eventGroupMaskBoxes;

    Word m_control, m_status, m_eventStatus, m_eventMask, m_restartTime;
    Word m_eventChannelStatus, m_eventChannelMask, m_eventGroupStatus, m_eventGroupMask;
    // What the next press of each "Select All" button does: tick (true) or untick.
    bool m_selectAllChannels = true;
    bool m_selectAllGroups = true;
    int m_channelBoxes = 0;            // event channel boxes of channels the module has
    QHash<QWidget*, bool> m_available; // groups of words the module reads
};
