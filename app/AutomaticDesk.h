#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class AutomaticStepping;
class BaseModule;
class DeviceSession;
class DialogAutomatic;
class QTimer;
class QWidget;
class UserDialogs;

// Automatic voltage stepping as the main window offers it: the automatic window, its timer
// ("automaticTimer", 30 s until the window sets another interval), the steps and the control pass
// some seconds after each step. The requests of steps and passes run on the device side, one at a
// time (AutomaticStepping); nothing here waits for them.
//
// The window hands in through hooks what stays its own: its user dialogs, whether a module is
// still one of the session's, and the channel the operator put the cursor on.
class AutomaticDesk : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        std::function<UserDialogs*()> dialogs;
        std::function<bool(BaseModule* module)> isHeld;
        // The operator's current channel of the shown module, -1 for none.
        std::function<int()> selectedChannel;
    };

    // `window` is the parent of the automatic window and of the message boxes.
    AutomaticDesk(DeviceSession* session, QWidget* window, Hooks hooks, QObject* parent = nullptr);

    // Stops the timer for good (the window is closing).
    void stopTimer();

public slots:
    // "Automatic...": shows the automatic window, created on first use.
    void showWindow();
    // From the automatic window: start or stop the timer (a start of the channel scope without a
    // selected channel is refused with a message), and its interval in ms.
    void setTimerEnabled(bool enabled);
    void setTimerIntervalMs(int intervalMs);
    // One step (the timer's timeout); the control pass some seconds after it.
    void step();
    void controlPass();

signals:
    // One control message for the automatic window's log.
    void autoTimerControlLog(QString message);

private:
    // The stepping, created on first use.
    AutomaticStepping* stepping();
    // The automatic window's parameters and the selection the stepping acts on now.
    void run(bool step);

    DeviceSession* m_session;
    QWidget* m_window;
    Hooks m_hooks;
    QTimer* m_timer;
    AutomaticStepping* m_stepping = nullptr;
    QPointer<DialogAutomatic> m_dialog;
};
