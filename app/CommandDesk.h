#pragma once

#include "device/BaseModule.h"
#include "device/CommandOutcome.h"
#include "device/CommandTarget.h"
#include "service/CommandSender.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class ChannelSelection;
class DeviceSession;
class QStatusBar;
class QWidget;
class ServiceJob;
class UserDialogs;
struct ChannelSettings;
struct ModuleSnapshot;
struct NominalRange;

// Where every command of the operator goes through: it finds the command's target (exactly the
// module the window shows and the channels the operator chose on it, or a red refusal), sends the
// work to the device side (CommandSender), says "sending..." in the status bar meanwhile and shows
// the outcome when it is back. Refusals are red and journaled; a failed or stale read is never
// offered as a value. The tool windows' writes arrive here as slots; they all act on the module
// the window shows.
//
// A child of the main window, living in the GUI thread; nothing here waits for the network.
class CommandDesk : public QObject
{
    Q_OBJECT
public:
    // What the desk asks the window; called in the GUI thread only.
    struct WindowHooks
    {
        // The message boxes and input dialogs (tests swap them).
        std::function<UserDialogs*()> dialogs;
        // The address the session's controller connected to (part of every module key).
        std::function<QString()> controllerAddress;
        // True while something of module `index` was answered within the freshness time.
        std::function<bool(int index, qint64 nowMs)> moduleAnswering;
        // After a command's outcome: the poller reads the shown module at once.
        std::function<void()> refreshCurrentModuleNow;
    };

    // `selection` is the window's record of the operator's choice; `window` parents the message
    // boxes and dialogs and owns the desk. Both outlive it.
    CommandDesk(DeviceSession* session, const ChannelSelection* selection, QStatusBar* statusBar, WindowHooks hooks,
        QWidget* window);

    QWidget* window() const { return m_window; }
    UserDialogs* dialogs() const;
    DeviceSession* session() const { return m_session; }

    // ---- Targets ----
    // The target of a command named `what` (CommandTarget::resolve) from the shown module and the
    // operator's choice; a refusal is shown in red. `removesVoltage` (Off, Emergency Off) still
    // sends to a module that does not answer: such a command is tried rather than refused.
    CommandTarget commandTarget(CommandTarget::Scope scope, const QString& what, bool removesVoltage = false);
    bool commandModule(QPointer<BaseModule>& module, const QString& what, bool removesVoltage = false);
    bool commandChannels(
        QPointer<BaseModule>& module, QList<int>& channels, const QString& what, bool removesVoltage = false);
    // The one chosen channel a single-channel dialog acts on; -1 (refused with a red message)
    // without a module, without a channel or with several chosen.
    int singleChannelTarget(QPointer<BaseModule>& module, const QString& what);
    // The name of `module` that survives a rediscovery: controller address and module address.
    QString moduleKey(BaseModule* module) const;
    // True while `module` is one of the session's modules (not released during a prompt).
    bool isHeld(const QPointer<BaseModule>& module) const;
    // Every channel of the module, whatever its number (the quint32 masks reach only 0..31).
    static QList<int> allChannelsOf(BaseModule* module);

    // ---- What the commands start from ----
    // The latest snapshot of the session's module `index`; null without one.
    std::shared_ptr<const ModuleSnapshot> snapshotOf(int index) const;
    // The shown module's latest channel read while it is fresh and in the units shown now; null
    // otherwise: a prompt or dialog then offers nothing rather than a stale or failed read.
    std::shared_ptr<const ModuleSnapshot> freshChannelRead(BaseModule* module) const;
    // Reads `channel`'s settings for a dialog off the GUI thread: `fill` gets them, `failed` the
    // reason when they were not answered; neither runs once `dialog` is gone.
    void readChannelSettingsFor(QObject* dialog, const QPointer<BaseModule>& module, int channel,
        std::function<void(const ChannelSettings&)> fill, std::function<void(const QString&)> failed);
    // The red line of a dialog whose channel could not be read.
    static QString unreadText(int channel, const QString& reason);
    // What a prompt for several channels adds when some of them allow less than `range.largest`.
    static QString someChannelsNote(const NominalRange& range, const QString& unit);

    // ---- Sending ----
    // Every command is carried out off the GUI thread (CommandSender): the status bar says
    // "Switch on: sending to 48 channels..." meanwhile and shows the outcome when it is back. A
    // command's work runs on the device thread with the module and returns what went wrong
    // (empty: every write was taken); it may use only the module it gets and the CommandOutcome
    // builders.
    using CommandWork = CommandSender::Work;
    using Urgency = CommandSender::Urgency;
    using ChannelWrite = CommandOutcome::ChannelWrite;
    // Sends `work` to `module` (one of the session's modules). `what` names the command in the
    // pending text, `targets` the number of channels it writes (0: the module). `pending` are the
    // channels the command writes: the table shows them pending until its outcome is back.
    void submitCommand(BaseModule* module, const QString& what, int targets, CommandWork work,
        Urgency urgency = Urgency::Normal, const QList<int>& pending = {});
    // The same without the status bar: `done` gets the outcome.
    void sendCommand(BaseModule* module, const QString& what, CommandWork work, Urgency urgency,
        std::function<void(const CommandOutcome&)> done, const QList<int>& pending = {});
    // One write to the module; `channel` -1 names the module in a failure.
    void submitWrite(BaseModule* module, int channel, const QString& what, std::function<bool(BaseModule& module)> write);
    // One write to the shown module once it is a command target (commandModule); the caller names
    // the source (WriteSource).
    void writeShownModule(const QString& what, std::function<bool(BaseModule& module)> write);
    // A per-channel operation on each of `channels`; every failed channel is named.
    void submitChannels(BaseModule* module, const QList<int>& channels, const ChannelWrite& write, const QString& what,
        Urgency urgency = Urgency::Normal);
    // A switch command for `channels`, all of them in one operation of the module (its writes
    // go out together where the controller can do that).
    void submitChannels(BaseModule* module, const QList<int>& channels, BaseModule::SwitchAction action, const QString& what,
        Urgency urgency = Urgency::Normal);
    // `work` for each of `modules`; the failures of all come back as one message. With
    // `writesChannels` the table shows every channel of the modules pending meanwhile.
    void submitToModules(const QList<BaseModule*>& modules, const QString& what, const CommandWork& work,
        Urgency urgency = Urgency::Normal, bool writesChannels = false);
    // A job started as a command (the bounds write): pending in the status bar and counted in
    // inFlight() until it finished; its refusals, or a give-up as a message box, then. The job is
    // deleted after it finished.
    void runCommandJob(ServiceJob* job, const QString& what);
    // A set value of one channel, in the module's display units.
    void writeChannelValue(BaseModule* module, int channel, bool voltage, float value);

    // Commands sent whose outcome has not come back yet.
    int inFlight() const;
    // The channels of the module named `key` that await a command (pendingChanged()).
    QSet<int> pendingChannels(const QString& key) const;

    // ---- Telling the operator ----
    // Red in the status bar for a while: a command that was not sent or not taken.
    void showCommandMessage(const QString& text);
    // In the normal colour: "nothing was changed, nothing was sent."
    void showNote(const QString& text);
    // The one place that tells the operator about a refused write: red in the status bar for a
    // few seconds, "Channel 3: set voltage 99999 V refused by the crate (wrongValue)"; a negative
    // channel names the module ("Slot 5: ..."). `why` follows "refused". Journaled as well.
    void showRefusal(BaseModule* module, int channel, const QString& what, const QString& why);
    // The failures (CommandOutcome::failuresText()) red in the status bar; nothing for none.
    void showWriteFailures(BaseModule* module, const QString& what, const QList<CommandOutcome::Failure>& failures);
    // "Set voltage: no current reading of Slot 5; nothing was sent."
    void showNoReading(BaseModule* module, const QString& what);

public slots:
    // ---- The tool windows' writes, all on the shown module ----
    void clearChannelEvents(int channel);
    // Clear `clearBits`, then set `setBits` of the control word the module has now (one
    // read-modify-write; nothing is written when the word cannot be read).
    void changeChannelControl(int channel, quint32 clearBits, quint32 setBits);
    // The same for an event mask or the interlock-out control word: read on the device side
    // (a read that was not answered writes nothing), changed, written back.
    void changeChannelEventMask(int channel, quint32 clearBits, quint32 setBits);
    void clearModuleEvents();
    void changeModuleControl(quint32 clearBits, quint32 setBits);
    void changeModuleEventMask(quint32 clearBits, quint32 setBits);
    void setRestartTime(quint32 restartTime);
    void setModuleEventChannelMask(quint32 mask);
    void clearModuleEventChannelStatus();
    void setModuleEventGroupMask(quint32 mask);
    void clearModuleEventGroupStatus();
    void setFlexGroup(int groupNumber, quint32 member, quint32 type);
    void changeInterlockOutControl(quint32 clearBits, quint32 setBits);
    // A nominal value from the channel window: sent only while the latest answered module status
    // shows stop mode, otherwise refused with that reason.
    void setChannelVoltageNominal(int channel, float value);
    void setChannelCurrentNominal(int channel, float value);
    // Writes the asymmetric-bounds bits of the channel's control word, waits (as a job on the
    // device side) until the module reports them, then the bounds. Gives up with a message when
    // the word never reads back.
    void setChannelBounds(int channel, bool asymmetricVoltageBounds, float voltageInterlockMaxSet,
        float voltageInterlockMinSet, bool asymmetricCurrentBounds, float currentInterlockMaxSet,
        float currentInterlockMinSet);

signals:
    // The set of channels awaiting a command changed (pendingChannels()).
    void pendingChanged();

private:
    CommandSender* commandSender();
    void showOutcome(const CommandOutcome& outcome, const QString& pending);
    // ModuleCommands::changeWord on the shown module, from a tool window.
    void submitWordChange(const QString& what, const QString& wordName, int channel, quint32 clearBits, quint32 setBits,
        std::function<quint32(BaseModule&)> read, std::function<bool(BaseModule&, quint32)> write);
    void setChannelNominalFromToolWindow(int channel, bool voltage, float value);

    DeviceSession* m_session;
    const ChannelSelection* m_selection;
    QStatusBar* m_statusBar;
    WindowHooks m_hooks;
    QWidget* m_window;
    // Created on first use, a child of the desk.
    CommandSender* m_commandSender = nullptr;
};
