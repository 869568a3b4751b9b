#pragma once

#include "app/ToolWindow.h"
#include "dialogs/BitBoxes.h"

#include <QString>

namespace Ui {
class DialogChannelControl;
}

// Status, event status, event mask and control word of the current channel, bit by bit; writes
// the event mask and the control word and clears the channel's events through its signals.
// Follows the main window's current channel; updates for another module or channel are ignored.
class DialogChannelControl : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogChannelControl(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogChannelControl() override;

    int serialNumber() const { return m_serialNumber; }
    int channel() const { return m_channel; }

signals:
    void setChannelControl(int serialNumber, int channel, quint32 control);
    void clearChannelEvents(int serialNumber, int channel);
    void setChannelEventMask(int serialNumber, int channel, quint32 eventMask);
    // Declared for the main window's connection; this window does not send them.
    void clearModuleEventChannelStatus(int serialNumber);
    void setModuleEventChannelMask(int serialNumber, quint32 mask);
    void setChannelVoltageNominal(int channel, float value);
    void setChannelCurrentNominal(int channel, float value);

public slots:
    void updateChannelControl(int serialNumber, int channel, quint32 control);
    void updateChannelStatus(int serialNumber, int channel, quint32 status);
    void updateChannelEventStatus(int serialNumber, int channel, quint32 eventStatus);
    void updateChannelEventMask(int serialNumber, int channel, quint32 eventMask);
    void updateChannelVoltageNominal(int serialNumber, int channel, float vnominal, QString unit);
    void updateChannelCurrentNominal(int serialNumber, int channel, float inominal, QString unit);
    void updateChannelVoltageHardwareNominal(int serialNumber, int channel, float vmax, QString unit);
    void updateChannelCurrentHardwareNominal(int serialNumber, int channel, float imax, QString unit);
    void updateModuleControl(int serialNumber, quint32 control);
    void updateModuleStatus(int serialNumber, quint32 status);
    void updateModuleFirmwareName(int serialNumber, QString firmwareName);
    void currentChannelChanged(int serialNumber, int channel);

private slots:
    void on_btnSetMask_clicked();
    void on_btnClearEvents_clicked();
    void on_btnSetControl_clicked();

protected:
    void moduleChanged(BaseModule* module) override;

private:
    // A word as last shown; `known` false until the first update for the shown channel.
    struct Word
    {
        bool known = false;
        quint32 value = 0;
    };
    bool isShown(int serialNumber, int channel) const;
    // Stores and draws `value` unless it equals what is shown; its group comes alive with it.
    void update(Word& word, quint32 value, const BitBoxes& boxes, QWidget* group);
    // After a change of channel: the groups are greyed until the new channel's words arrive, so
    // no box shows another channel's bit as this one's.
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
    quint32 m_moduleControl = 0;
    quint32 m_moduleStatus = 0;
    // Kept for the channel shown; not displayed.
    float m_voltageNominal = 0, m_currentNominal = 0, m_voltageHardwareNominal = 0, m_currentHardwareNominal = 0;
    QString m_voltageUnit, m_currentUnit;
};
