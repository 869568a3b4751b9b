#pragma once

#include "device/BaseCrate.h"
#include "dialogs/common/ToolWindow.h"

namespace Ui {
class DialogCrate;
}

class QLineEdit;
class UserDialogs;

// "Crates": the known crates by serial number (ascending), the values of the selected one from
// the crate snapshots the poller publishes while the window is shown, its main power switch
// and, in the configuration service mode, its fan speed. The values show their age (ToolWindow):
// grey when ageing, "---" when stale. The power button and the fan prompt act only on fresh
// values: the button is off while the power state is unknown and its label follows the fresh
// state; switching a crate off asks first (every channel loses its high voltage at once).
class DialogCrate : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogCrate(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogCrate() override;

    static constexpr int lowestFanSpeedRpm = 1200; // 1 to 1199 rpm are refused
    static constexpr int highestFanSpeedRpm = 3200;

    void clearCrates();
    // The configuration service mode offers the fan speed.
    void setFanSpeedEnabled(bool enabled);
    // The power-off question, the fan-speed prompt and its refusal go through `dialogs` (not
    // owned; null: real dialogs).
    void setUserDialogs(UserDialogs* dialogs);
    // Draws a crate read that was answered and is not stale; its crate is listed.
    void showCrateSnapshot(const CrateSnapshot& snapshot, qint64 nowMs) override;

signals:
    // For the crate the session reads (the only one a connection has).
    void setPowerOn(bool setOn);
    void setFanSpeed(int fanSpeed);

private slots:
    void on_btnPowerOn_clicked();
    void on_setFanSpeed_clicked();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void showFreshness(qint64 nowMs) override;

private:
    // Lists the crate (ascending, inserted where it belongs) and says whether it is the selected
    // one, whose values are shown.
    bool acceptCrate(int serialNumber);
    // Serial number of the selected crate; false without a selected row.
    bool selectedCrate(int* serialNumber) const;
    // "---" for a quantity the crate cannot report.
    void showNumber(QLineEdit* field, BaseCrate::Quantity quantity, double value);
    // A supply that is up while the crate reports its power off is shown on red.
    void showSupply(QLineEdit* field, BaseCrate::Quantity quantity, float value, float upAboveV);
    bool reported(BaseCrate::Quantity quantity) const;
    void showUnknown();
    // Grey while ageing, unknown when stale.
    void showAge(Freshness freshness);
    QList<QLineEdit*> fields() const;
    void updatePowerButton();
    UserDialogs* dialogs();

    Ui::DialogCrate* ui;
    // Latest reported power state and fan speed of the selected crate; unknown (false) while
    // the values are stale or belong to another crate.
    bool powerKnown = false;
    bool powerOn = false;
    bool fanSpeedKnown = false;
    int fanSpeed = 0;
    bool fanSpeedOffered = false; // the configuration service mode
    UserDialogs* userDialogs = nullptr;
};
