#pragma once

#include <QDialog>

#include <memory>

class PendingValues;

namespace Ui {
class DialogSetCurrent;
}

// "Set Current Trip": the set current of one channel (or of all channels, channel -1) with the
// delayed trip: whether the channel goes off when it reaches that current, after how many
// milliseconds, with or without ramp. Run modally by the main window.
class DialogSetCurrent : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSetCurrent(QWidget* parent = nullptr);
    ~DialogSetCurrent() override;

    // Whether the module offers the delayed trip; when not, its controls stay disabled.
    void setAvailable(bool available);
    // -1: all channels.
    void setChannel(int channel);
    void setMaximum(double maximum);
    // The smallest nominal current of the module's channels, for the all-channels note.
    void setSmallestNominal(double smallest);
    void setValue(double value);
    void setUnit(const QString& unit);
    void setDecimals(int decimals);
    void setDelayedTrip(bool enabled);
    // True checks "with ramp", false "without ramp".
    void setRampDown(bool rampDown);
    void setDelay(int delayMs);

    // Until the values the dialog starts from were answered: "---", fields and OK disabled, and
    // `text` at the top (red when `failed`). setValuesAnswered() after the values were set.
    void setValuesPending(const QString& text, bool failed = false);
    void setValuesAnswered();
    bool valuesAnswered() const;
    double value() const;
    int delay() const;
    // 0 without delayed trip, 1 ramp down, 2 switch off without ramp.
    int action() const;

private slots:
    void on_chkDelayedTrip_stateChanged(int arg1);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updatePrompt();

    Ui::DialogSetCurrent* ui;
    std::unique_ptr<PendingValues> pending;
    bool available = true;
    int channel = 0;
    double smallestNominal = 0.0;
    QString unit;
};
