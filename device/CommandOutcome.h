#pragma once

#include "device/BaseModule.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// What a command to one module came to, in the words the operator reads. The builders run where
// the command runs (the device side, with the module it was given) and use only that module;
// the window shows the result when it is back. Every failed channel is named with its reason.
class CommandOutcome
{
    Q_DECLARE_TR_FUNCTIONS(CommandOutcome)
public:
    QStringList failures; // one text per failed write (or group of them), shown joined
    QString information;  // asked as a message box (a read-back that never matched)

    // One failed write of a several-channel command.
    struct Failure
    {
        int channel;
        QString reason;
    };
    using ChannelWrite = std::function<bool(BaseModule& module, int channel)>;

    // One write (`ok` its result); `channel` -1 names the module. Empty when `ok`.
    static CommandOutcome ofWrite(BaseModule& module, bool ok, int channel, const QString& what);
    // `write` for each of `channels` in turn.
    static QStringList ofChannels(
        BaseModule& module, const QList<int>& channels, const ChannelWrite& write, const QString& what);
    // A switch command for `channels` as one operation of the module (BaseModule::switchChannels).
    static QStringList ofSwitch(
        BaseModule& module, const QList<int>& channels, BaseModule::SwitchAction action, const QString& what);
    // One reason per channel (empty: taken); a channel without a reason was not confirmed.
    static QStringList ofReasons(
        BaseModule& module, const QList<int>& channels, const QStringList& reasons, const QString& what);
    static QStringList ofFailures(BaseModule& module, const QString& what, const QList<Failure>& failures);

    // "Channel 5: switch on refused by the crate (wrongValue)", or for several channels
    // "Switch on failed for channels 5, 35: no answer: check ..." (channels grouped by reason, in
    // the order the reasons first occurred). A negative channel names the module's address.
    static QString failuresText(BaseModule& module, const QString& what, const QList<Failure>& failures);
    // "<subject>: <what> refused by the crate (wrongValue)" or "...: <what> failed: no answer: ...".
    static QString failureText(const QString& subject, const QString& what, const QString& reason);
    // "Switch on" from "switch on": the command's name at the start of a message.
    static QString capitalised(const QString& text);
    // A number as the operator typed it (up to 7 significant digits).
    static QString numberText(double value);
    // "set voltage 100 V for all channels", in the module's display units.
    static QString allChannelsValueText(BaseModule& module, bool voltage, double value);
};
