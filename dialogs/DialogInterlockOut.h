#pragma once

#include "dialogs/BitBoxes.h"
#include "dialogs/common/ToolWindow.h"

namespace Ui {
class DialogInterlockOut;
}

// The interlock output of the current module: status, cause of the last trigger, trigger count,
// the channels asserting it now and those that ever triggered; writes the interlock-out control
// word. Updates of another module are ignored. The words show their age (ToolWindow): stale,
// their boxes are unknown and the control word cannot be set; Set sends the words as the module
// has them with only the bits the operator changed.
class DialogInterlockOut : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogInterlockOut(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogInterlockOut() override;

signals:
    // Clear `clearBits`, then set `setBits` of the interlock-out control word the module has now.
    void changeInterlockControl(int serialNumber, quint32 clearBits, quint32 setBits);

public slots:
    void updateInterlockStatus(int serialNumber, quint32 status);
    void updateInterlockControl(int serialNumber, quint32 control);
    void updateInterlockCount(int serialNumber, quint32 count);
    void updateInterlockLastTrigger(int serialNumber, quint32 lastTrigger);
    void updateInterlockChannelActualActive(int serialNumber, quint32 channelActive);
    void updateInterlockChannelEverTriggered(int serialNumber, quint32 channelTriggered);

private slots:
    void on_btnSetInterlockControl_clicked();

protected:
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;
    void editsReverted() override;

private:
    struct Word
    {
        bool known = false;
        quint16 value = 0;
    };
    // True when `value` belongs to the shown module (and stores it).
    bool accept(int serialNumber, Word& word, quint32 value);

    QList<QWidget*> displays() const;

    Ui::DialogInterlockOut* ui;
    bool m_available = true;
    BitBoxes m_statusBoxes, m_lastTriggerBoxes, m_controlBoxes, m_activeBoxes, m_triggeredBoxes;
    int m_serialNumber = 0;
    Word m_status, m_control, m_count, m_lastTrigger, m_active, m_triggered;
};
