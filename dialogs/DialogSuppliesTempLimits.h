#pragma once

#include "dialogs/common/ToolWindow.h"

namespace Ui {
class DialogSuppliesTempLimits;
}

class QLCDNumber;

// "Supplies, Temperature and Limits": the current module's supply voltages, temperatures and
// hardware limits as seven-segment displays, from the snapshots of its module. While it is shown the session reads them
// often enough to stay fresh; each display shows its age (ToolWindow): grey when ageing, "---" when stale, as does one whose
// quantity the module cannot report over its controller (the -12 V supply of an SNMP module).
class DialogSuppliesTempLimits : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogSuppliesTempLimits(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogSuppliesTempLimits() override;

protected:
    void changeEvent(QEvent* event) override;
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;
    void showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs) override;

private:
    void display(QLCDNumber* display, float value);
    QList<QLCDNumber*> supplyDisplays() const;
    QList<QLCDNumber*> temperatureDisplays() const;
    // "---" or grey by the age of the values behind `displays`.
    static void showFreshness(const QList<QLCDNumber*>& displays, Freshness freshness);

    Ui::DialogSuppliesTempLimits* ui;
    // False when the module's controller has no -12 V supply reading (it answers a constant).
    bool supplyN12Available = true;
};
