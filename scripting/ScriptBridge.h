#pragma once

#include "device/ChannelReading.h"

#include <QJSValue>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class BaseModule;
class QJSEngine;
class ScriptRunner;

// What the script's "mod" and "script" forward to. The JavaScript objects hold it in closures
// only, so a script reaches nothing but the functions they offer. Lives for one run and is used
// on the script's thread only.
class ScriptBridge : public QObject
{
    Q_OBJECT
public:
    // How "mod" answers a read: from which checked read of the module it comes.
    enum class ReadKind {
        Local,           // no device access (identity, units, formatting, connected())
        ChannelTable,    // BaseModule::readChannels(), or the poller's snapshot of it
        ChannelSettings, // BaseModule::readChannelSettings()
        ModuleControl,   // BaseModule::readControl()
        ModuleValues,    // BaseModule::readModuleValues()
        ModuleWords,     // ToolWindowReading groups: read whole, valid only when answered
        ChannelEventWords,
        ChannelBounds,
        InterlockOut,
        Unchecked, // the module's read cannot tell a failure from a value: not offered
    };

    ScriptBridge(ScriptRunner* runner, BaseModule* module);

    // Names of the operations "mod" offers, sorted.
    static QStringList moduleOperations();

    // "mod.name(arguments...)": checks the arguments, then reads (checkedRead) or calls the
    // module operation; throws into the script's engine what it refuses.
    Q_INVOKABLE QJSValue call(const QString& name, const QJSValue& arguments);
    Q_INVOKABLE void delay(int milliSeconds);
    Q_INVOKABLE void print(const QString& message);

private:
    // Throws and answers true once the run is to end.
    bool stopped(QJSEngine* engine);

    // Notes that the module answered the script now.
    void answered();

    // A number fit for a parameter of `type` named `name`; otherwise false with `problem`.
    bool checkArgument(const QJSValue& value, int type, const QByteArray& name, QString* problem) const;

    // At most maxWritesPerSecond writes: each waits for its turn, stopping the wait on a stop.
    bool waitForWriteTurn(QJSEngine* engine);

    // Records the channels a write the module took switched on.
    void noteSwitchedOn(const QString& name, const QVariant* values, int count);

    // One channel's table values, no older than one poller tick.
    bool channelReading(int channel, ChannelReading* reading, QString* reason);

    // A read through the checked read of its kind; throws "mod.name(...): reason" when it failed.
    QJSValue checkedRead(QJSEngine* engine, ReadKind kind, const QString& name, const QString& callText, int channel,
        const QVariant& firstArgument);

    ScriptRunner* m_runner;
    BaseModule* m_module;
    const int m_channelCount;
    qint64 m_lastWriteAtMs = -1;
    qint64 m_nextWriteAtMs = 0;
    // The script's own latest block read of the channels.
    QVector<ChannelReading> m_channels;
    qint64 m_channelsReadAtMs = -1;
    QString m_channelsError;
    QString m_channelsVoltageUnit;
    QString m_channelsCurrentUnit;
};
