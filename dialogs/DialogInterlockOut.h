#pragma once

#include "dialogs/BitBoxes.h"
#include "dialogs/common/ToolWindow.h"

namespace Ui {
class DialogInterlockOut;
}

// The interlock output of the current module: status, cause of the last trigger, trigger count,
// the channels asserting it now and those that ever triggered; writes the interlock-out control
// word, all taken from the snapshots of the window's module. The words show their age (ToolWindow): stale,
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
    void changeInterlockControl(quint32 clearBits, quint32 setBits);

private slots:
    void on_btnSetInterlockControl_clicked();

protected:
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;
    void editsReverted() override;
    void showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs) override;

private:
    struct Word
    {
        bool known = false;
        quint16 value = 0;
    };
    QList<QWidget*> displays() const;

    Ui::DialogInterlockOut* ui;
    bool m_available = true;
    BitBoxes m_statusBoxes, m_lastTriggerBoxes, m_controlBoxes, m_activeBoxes, m_triggeredBoxes;
    Word m_status, m_control, m_count, m_lastTrigger, m_active, m_triggered;
};
