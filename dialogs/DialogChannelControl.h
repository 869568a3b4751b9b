#pragma once

#include "dialogs/BitBoxes.h"
#include "dialogs/common/ToolWindow.h"

#include <QString>

namespace Ui {
class DialogChannelControl;
}

// Status, event status, event mask and control word of the current channel, bit by bit; writes
// the event mask and the control word and clears the channel's events through its signals.
// Follows the main window's current channel; the words come from the snapshots of the window's
// module (measurement modes only on a measurement module).
// Each word shows its age (ToolWindow): stale, its boxes are unknown and its Set button is off.
// Set Control sends only the bits the operator changed (changeChannelControl), so whatever else
// changed on the module meanwhile stays.
class DialogChannelControl : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogChannelControl(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogChannelControl() override;

    int serialNumber() const { return m_serialNumber; }
    int channel() const { return m_channel; }
    // The main window's current channel (-1: none, shown as channel 0).
    void showChannel(int channel);

signals:
    // Clear `clearBits`, then set `setBits` of the channel's control word as the module has it.
    void changeChannelControl(int channel, quint32 clearBits, quint32 setBits);
    void clearChannelEvents(int channel);
    // Clear `clearBits`, then set `setBits` of the event mask the channel has now.
    void changeChannelEventMask(int channel, quint32 clearBits, quint32 setBits);

private slots:
    void on_btnSetMask_clicked();
    void on_btnClearEvents_clicked();
    void on_btnSetControl_clicked();

protected:
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;
    void editsReverted() override;
    void showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs) override;

private:
    // A word as last shown; `known` false until the first update for the shown channel.
    struct Word
    {
        bool known = false;
        quint32 value = 0;
    };
    // "<serial>: Channel <n> Status / Control"
    void showTitle();
    // Stores and draws `value`.
    void update(Word& word, quint32 value, const BitBoxes& boxes);
    // After a change of channel: the words are unknown until the new channel's arrive, so no box
    // shows another channel's bit as this one's.
    void forgetWords();
    bool m_masksAvailable = true;

    Ui::DialogChannelControl* ui;
    BitBoxes m_statusBoxes;
    BitBoxes m_eventStatusBoxes;
    BitBoxes m_eventMaskBoxes;
    BitBoxes m_controlBoxes;

    int m_serialNumber = 0;
    int m_channel = -1;
    Word m_control;
    Word m_status;
    Word m_eventStatus;
    Word m_eventMask;
};
