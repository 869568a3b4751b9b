#pragma once

#include "app/ToolWindow.h"

#include <QElapsedTimer>

namespace Ui {
class DialogSuppliesTempLimits;
}

class QLCDNumber;
class QTimer;

// "Supplies, Temperature and Limits": the current module's supply voltages, temperatures and
// hardware limits as seven-segment displays. While it is shown the session reads them at the
// module-value cadence; a display that no fresh value reached shows "---", as does one whose
// quantity the module cannot report over its controller (the -12 V supply of an SNMP module).
class DialogSuppliesTempLimits : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogSuppliesTempLimits(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogSuppliesTempLimits() override;

    // Without a value for this long the displays fall back to "---": module values come every
    // 2.2 s, and the main window stops sending them when the module stops answering.
    static constexpr int valuesLostAfterMs = 5000;

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
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moduleChanged(BaseModule* module) override;

private:
    bool isShownModule(int serialNumber) const;
    void showValue(QLCDNumber* display, float value);
    void showUnknown();
    void checkValuesLost();

    Ui::DialogSuppliesTempLimits* ui;
    QTimer* lostTimer;
    QElapsedTimer sinceLastValue;
    // False when the module's controller has no -12 V supply reading (it answers a constant).
    bool supplyN12Available = true;
};
