#pragma once

#include "device/CommandOutcome.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

class BaseModule;
class DeviceSession;
class ServiceJob;

// Sends the operator's commands through the session and brings their outcomes back, so that the
// window only says "sending..." and shows what came back. A command's work runs on the device
// side with the module it was given (DeviceSession::submitCommand) and may use only that module
// and the CommandOutcome builders; its outcome arrives in this object's thread. A module that
// went away before its command's turn gets nothing, and the outcome says so.
//
// Keeps what is in flight: the number of commands and jobs not yet back (tests and the window's
// close wait for it), and per module key the channels a command is being sent to, so the table
// can show them pending until the outcome is back (pendingChanged()). The journal names the
// sender of each write as the source current when the command was given (WriteSource).
//
// Lives in the session's thread (the GUI thread); not thread-safe.
class CommandSender : public QObject
{
    Q_OBJECT
public:
    using Work = std::function<CommandOutcome(BaseModule& module)>;
    using Done = std::function<void(const CommandOutcome& outcome)>;
    enum class Urgency { Normal, EmergencyOff };

    // `keyOf` names a module for the pending channels (CommandTarget::moduleKey).
    CommandSender(DeviceSession* session, std::function<QString(BaseModule*)> keyOf, QObject* parent = nullptr);

    // Sends `work` to `module` (one of the session's modules); `done` gets the outcome. `what`
    // names the command in "the module went away". `pending`: the channels it writes.
    void send(
        BaseModule* module, const QString& what, Work work, Urgency urgency, Done done, const QList<int>& pending = {});
    // `work` for each of `modules`; `done` once, with the failures of all in the order the
    // modules were given (the first information given). With `writesChannels` every channel of
    // the modules counts as pending meanwhile.
    void sendToModules(const QList<BaseModule*>& modules, const QString& what, const Work& work, Urgency urgency, Done done,
        bool writesChannels = false);
    // Starts `job` and counts it in flight until it finished; `done` then gets its refusals as
    // failures, a give-up as information and a module that went away as a failure prefixed with
    // `what`. The job is deleted after it finished (it may have any parent).
    void runJob(ServiceJob* job, const QString& what, Done done);

    int inFlight() const { return m_inFlight; }
    // The channels of the module named `key` that await a command.
    QSet<int> pendingChannels(const QString& key) const;

signals:
    void pendingChanged();

private:
    void markPending(const QString& key, const QList<int>& channels, int delta);

    QPointer<DeviceSession> m_session;
    std::function<QString(BaseModule*)> m_keyOf;
    int m_inFlight = 0;
    // Per module key, the channels commands are being sent to and how many commands each awaits.
    QHash<QString, QHash<int, int>> m_pending;
};
