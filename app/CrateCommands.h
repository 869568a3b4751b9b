#pragma once

#include <QObject>
#include <QString>

#include <functional>

class BaseController;
class BaseCrate;
class DeviceSession;
class QTimer;
class QWidget;
class UserDialogs;

// The commands to the crate and its controller: main switch, fan speed and the crate's network
// address (the crate window and "Set Crate Address..."), and any other crate-wide write the
// window sends. Each goes out on the device side (the session's queue) and is shown pending
// meanwhile; a refusal comes back red with its reason. A switch-off counts only once the crate
// reports its main switch off. What the window does next (rediscovery, releasing the modules,
// moving its address lock) follows from the signals. A child of the window; Qt Widgets only for
// the address prompt.
class CrateCommands : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        // The dialogs of the window now (tests replace them).
        std::function<UserDialogs*()> dialogs;
        // True while the crate answered within the freshness time.
        std::function<bool()> crateAnswering;
        // The address the window connects to (offered in the address prompt).
        std::function<QString()> crateAddress;
        // After a command: the current module is read at once.
        std::function<void()> refreshNow;
    };
    // `window` is the parent of the address prompt.
    CrateCommands(DeviceSession* session, Hooks hooks, QWidget* window);

    // Commands sent to the device side whose outcome has not come back yet.
    int inFlight() const { return m_inFlight; }

    // The crate's main switch and fan speed (first crate).
    void setPowerOn(bool on);
    void setFanSpeed(int speed);
    // "Set Crate Address...": asks for a new static address (0.0.0.0: DHCP) and sends it.
    void promptCrateAddress();

    // A command to the crate or its controller: `write` runs on the device side and returns null
    // when the crate took it, else the reason, shown in red; `taken` runs here after a command the
    // crate took. A command that `needsCrate` is refused without a crate (`write` then always gets
    // one). The journal names the source current here.
    using Write = std::function<QString(BaseController& controller, BaseCrate* crate)>;
    void submit(const QString& what, Write write, std::function<void()> taken = {}, bool needsCrate = true);

    // Sends a new crate address between its two journal lines, on the device side; null when the
    // crate took it, else why not.
    static QString sendCrateAddress(
        BaseController& controller, BaseCrate* crate, const QString& crateAddress, const QString& address);

    // Rediscovery after the crate was switched on (15 s); how long a switch-off may take until the
    // crate reports it (10 s). Tests shorten them.
    void setRediscoveryDelayAfterPowerOnMs(int delayMs) { m_rediscoveryDelayAfterPowerOnMs = delayMs; }
    void setOffConfirmMs(int timeMs) { m_offConfirmMs = timeMs; }

signals:
    void inFlightChanged(int count);
    // "Crate: switch off: sending..." while the command is out; ended when it is back.
    void commandPending(const QString& text);
    void commandEnded(const QString& pendingText);
    // A command not sent or not taken, or a switch-off the crate never reported (red).
    void refused(const QString& text);
    // The line about the crate's state meanwhile ("Waiting ..."); empty when it ended.
    void crateStateText(const QString& text);
    // The crate took a switch-on: rediscover after `delayMs`.
    void rediscoveryWanted(int delayMs);
    // The crate reports its main switch off after a switch-off: its modules are gone.
    void crateSwitchedOff();
    // The crate took a new address; it answers there from now on.
    void crateAddressChanged(const QString& address);
    // The address prompt opens (true) and closes (false).
    void addressPromptOpen(bool open);

private:
    void powerTaken(bool on);
    // After a switch-off was taken: the modules are released once the crate reports its main
    // switch off, or the operator is told after the confirmation time and they are kept.
    void checkCrateOff();
    void setInFlight(int count);

    DeviceSession* m_session;
    Hooks m_hooks;
    QWidget* m_window;
    int m_inFlight = 0;
    int m_rediscoveryDelayAfterPowerOnMs = 15000;
    int m_offConfirmMs = 10000;
    qint64 m_offSentAtMs = -1;
    QObject* m_offWatch = nullptr; // holds the crate read while a switch-off is confirmed
    QTimer* m_offTimer = nullptr;
};
