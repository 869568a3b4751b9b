#pragma once

#include "app/ToolWindow.h"

#include <QString>

namespace Ui {
class DialogChannelBounds;
}

// Voltage and current bounds (interlock limits) of the current channel, symmetric or asymmetric.
// Follows the main window's current channel; updates for another module or channel are ignored.
// Only the operator's click on an asymmetric-bounds box writes the control word (read fresh from
// the module first); the bound values are written together with "Set Bounds".
class DialogChannelBounds : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogChannelBounds(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogChannelBounds() override;

    // Units and decimals of the current module for the spin boxes.
    void prepare(const QString& voltageUnit, int voltagePrecision, const QString& currentUnit, int currentPrecision);
    int serialNumber() const { return m_serialNumber; }
    int channel() const { return m_channel; }

signals:
    void setChannelControl(int serialNumber, int channel, quint32 control);
    void setChannelBounds(int channel, bool avbnd, float voltageIlkMax, float voltageIlkMin, bool acbnd, float currentIlkMax,
        float currentIlkMin);

public slots:
    void currentChannelChanged(int serialNumber, int channel);
    void updateChannelVoltageNominal(int serialNumber, int channel, float vnominal, QString unit);
    void updateChannelCurrentNominal(int serialNumber, int channel, float inominal, QString unit);
    void updateChannelControl(int serialNumber, int channel, quint32 control);
    void updateChannelVoltageInterlockMinSet(int serialNumber, int channel, float value, QString unit);
    void updateChannelVoltageInterlockMaxSet(int serialNumber, int channel, float value, QString unit);
    void updateChannelCurrentInterlockMinSet(int serialNumber, int channel, float value, QString unit);
    void updateChannelCurrentInterlockMaxSet(int serialNumber, int channel, float value, QString unit);

private slots:
    void on_btnSetBounds_clicked();
    void on_chkACBND_stateChanged(int state);
    void on_chkAVBND_stateChanged(int state);

protected:
    void moduleChanged(BaseModule* module) override;

private:
    bool isShown(int serialNumber, int channel) const;
    void relabel();
    void showAsymmetry();
    // The operator ticked or unticked an asymmetric-bounds box: `bit` of the control word.
    void writeAsymmetry(quint32 bit, bool on);

    Ui::DialogChannelBounds* ui;
    int m_serialNumber = 0;
    int m_channel = -1;
    QString m_voltageUnit;
    QString m_currentUnit;
    // Until the shown channel's control word and bounds arrived, the groups are greyed: no box
    // shows (or "Set Bounds" writes) another channel's values as this one's.
    void enableGroups();
    bool m_available = true;
    bool m_boundsKnown = false;
    bool m_controlKnown = false;
    quint32 m_control = 0;
    // True while an update sets the boxes: that is no operator's click.
    bool m_updating = false;
};
