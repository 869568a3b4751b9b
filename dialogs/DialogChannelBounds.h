#pragma once

#include "dialogs/common/ToolWindow.h"

#include <QString>

namespace Ui {
class DialogChannelBounds;
}

class QDoubleSpinBox;

// Voltage and current bounds (interlock limits) of the current channel, symmetric or asymmetric.
// Follows the main window's current channel; control word, bounds and nominal values come from
// the snapshots of the window's module, in the units shown.
// Only the operator's click on an asymmetric-bounds box writes the control word (that one bit,
// changeChannelControl); the bound values are written together with "Set Bounds". A bound the
// operator typed stays until it is sent or reverted (Escape), whatever the refresh brings. The
// values show their age (ToolWindow): stale, "---" and nothing can be set.
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
    // The main window's current channel (-1: none, shown as channel 0).
    void showChannel(int channel);

signals:
    void changeChannelControl(int channel, quint32 clearBits, quint32 setBits);
    void setChannelBounds(int channel, bool avbnd, float voltageIlkMax, float voltageIlkMin, bool acbnd, float currentIlkMax,
        float currentIlkMin);

private slots:
    void on_btnSetBounds_clicked();
    void on_chkACBND_clicked(bool checked);
    void on_chkAVBND_clicked(bool checked);

protected:
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;
    void editsReverted() override;
    void showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs) override;

private:
    enum Bound { VoltageMax, VoltageMin, CurrentMax, CurrentMin, BoundCount };
    void relabel();
    void showAsymmetry();
    void showBound(Bound bound, float value);
    QDoubleSpinBox* box(Bound bound) const;
    // The operator clicked an asymmetric-bounds box: `bit` of the control word.
    void writeAsymmetry(quint32 bit, bool on);
    // Forgets the shown channel's values: unknown until its next reading.
    void forgetValues();

    Ui::DialogChannelBounds* ui;
    int m_serialNumber = 0;
    int m_channel = -1;
    QString m_voltageUnit;
    QString m_currentUnit;
    bool m_available = true;
    // The shown channel's latest readings; unknown after a change of channel, module or a stale
    // turn, so no box shows (or "Set Bounds" writes) another channel's values as this one's.
    bool m_boundsKnown = false;
    bool m_controlKnown = false;
    quint32 m_control = 0;
    float m_bounds[BoundCount] = {};
};
