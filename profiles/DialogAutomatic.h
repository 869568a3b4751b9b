#pragma once

#include "dialogs/common/ToolWindow.h"

#include <QString>

namespace Ui {
class DialogAutomatic;
}

// Parameters and log of the automatic voltage stepping; the main window runs the timer and the
// steps. Limits and increment are volts for every module, whatever unit it shows.
class DialogAutomatic : public ToolWindow
{
    Q_OBJECT
public:
    explicit DialogAutomatic(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogAutomatic() override;

    double upperLimitVolts() const;
    double lowerLimitVolts() const;
    double incrementVolts() const;
    // 0 selected channel, 1 selected module, 2 whole system, 3 the first four modules.
    int scope() const;
    bool running() const;
    // Sets the running state and the button without asking the main window (it refused a start).
    void setRunning(bool running);

signals:
    void automaticTimerEnabled(bool enabled);
    void automaticTimerIntervalChanged(int intervalMs);

public slots:
    // Appends `message` as a new paragraph of the log.
    void log(QString message);
    void on_btnStartStop_clicked();
    void on_sbInterval_valueChanged(int seconds);

protected:
    void changeEvent(QEvent* event) override;

private:
    void showRunning();

    Ui::DialogAutomatic* ui;
    bool m_running = false;
};
