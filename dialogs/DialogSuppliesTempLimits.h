#pragma once

#include "dialogs/common/ToolWindow.h"

namespace Ui {
class DialogSuppliesTempLimits;
}

class QLCDNumber;

// "Supplies, Temperature and Limits": the current module's supply voltages, temperatures and
// hardware limits as seven-segment displays. While it is shown the session reads them often
// enough to stay fresh; each display shows its age (ToolWindow): grey when ageing, "---" when
// stale, as does one whose quantity the module cannot report over its controller (the -12 V
// supply of an SNMP module).
class DialogSuppliesTempLimits : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogSuppliesTempLimits(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogSuppliesTempLimits() override;

public slots:
    void updateModuleSupplyP5(int serialNumber, float p5);
    void updateModuleSupplyP12(int serialNumber, float p12);
    void updateModuleSupplyN12(int serialNumber, float n12);
    // Index 1, 2 and 3 go to their own displays, every other index to the first one.
    void updateModuleTemperature(int serialNumber, int index, float temperature);
    void updateModuleVoltageHardwareLimit(int serialNumber, float vlimit);
    void updateModuleCurrentHardwareLimit(int serialNumber, float ilimit);

protected:
    void changeEvent(QEvent* event) override;
    void moduleChanged(BaseModule* module) override;
    void showFreshness(qint64 nowMs) override;

private:
    bool isShownModule(int serialNumber) const;
    void display(QLCDNumber* display, float value);
    QList<QLCDNumber*> supplyDisplays() const;
    QList<QLCDNumber*> temperatureDisplays() const;
    // "---" or grey by the age of the values behind `displays`.
    static void showFreshness(const QList<QLCDNumber*>& displays, Freshness freshness);

    Ui::DialogSuppliesTempLimits* ui;
    // False when the module's controller has no -12 V supply reading (it answers a constant).
    bool supplyN12Available = true;
};
