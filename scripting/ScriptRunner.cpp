#include "scripting/ScriptRunner.h"

#include "scripting/ScriptBridge.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"
#include "device/WriteJournal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJSEngine>
#include <QMutexLocker>
#include <QThread>
#include <QVariant>

#include <algorithm>

namespace {

// Texts keep the translation context the console has always used.
QString translated(const char* text)
{
    return QCoreApplication::translate("ScriptThread", text);
}

const char* const globalsFactory = R"JS(
(function (bridge, operations) {
    var mod = {};
    operations.forEach(function (name) {
        mod[name] = function () { return bridge.call(name, Array.prototype.slice.call(arguments)); };
    });
    return {
        mod: Object.freeze(mod),
        script: Object.freeze({
            delay: function (milliSeconds) { bridge.delay(milliSeconds); },
            print: function (message) { bridge.print(String(message)); }
        })
    };
})
)JS";

} // namespace

ScriptRunner::ScriptRunner(QObject* parent)
    : QObject(parent)
{
}

ScriptRunner::~ScriptRunner() = default;

bool ScriptRunner::readScriptFile(const QString& fileName, QString* script, QString* error)
{
    QFile file(fileName);
    if (!file.exists()) {
        *error = translated("Error: Can not find script file %1!").arg(fileName);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = translated("Error: Can not open script file %1!").arg(fileName);
        return false;
    }
    *script = QString::fromUtf8(file.readAll());
    return true;
}

QStringList ScriptRunner::moduleOperations()
{
    return ScriptBridge::moduleOperations();
}

ScriptRunner::Outcome ScriptRunner::run(const QString& script, BaseModule* module)
{
    // Also on a main thread (the windowless runner), a script's writes are the script's.
    const WriteSource source("script");
    m_lastAnswerAtMs = ModuleSnapshot::nowMs();
    {
        QMutexLocker lock(&m_switchedMutex);
        m_switchedOn.clear();
    }
    // Declared before the engine, so the engine (and its wrapper of the bridge) goes first.
    ScriptBridge bridge(this, module);
    QJSEngine engine;
    {
        QMutexLocker lock(&m_engineMutex);
        m_engine = &engine;
        if (stopRequested())
            engine.setInterrupted(true);
    }
    const Outcome outcome = evaluate(engine, bridge, script);
    {
        QMutexLocker lock(&m_engineMutex);
        m_engine = nullptr;
    }
    return outcome;
}

ScriptRunner::Outcome ScriptRunner::evaluate(QJSEngine& engine, QObject& bridge, const QString& script)
{
    QJSEngine::setObjectOwnership(&bridge, QJSEngine::CppOwnership);
    const QStringList operations = moduleOperations();
    QJSValue names = engine.newArray(uint(operations.size()));
    for (int index = 0; index < operations.size(); ++index)
        names.setProperty(quint32(index), operations.at(index));
    const QJSValue globals = engine.evaluate(QString::fromLatin1(globalsFactory)).call({engine.newQObject(&bridge), names});
    engine.globalObject().setProperty(QStringLiteral("mod"), globals.property(QStringLiteral("mod")));
    engine.globalObject().setProperty(QStringLiteral("script"), globals.property(QStringLiteral("script")));

    Outcome outcome = Outcome::Finished;
    QString last;
    // The function constructor only compiles its body: a syntax error is found before any
    // statement runs. A function body allows "return", a script does not: the body, once known
    // to be complete on its own, is compiled once more as a script inside a block that never runs.
    const QJSValue compiled =
        engine.globalObject().property(QStringLiteral("Function")).callAsConstructor({QJSValue(script)});
    const bool syntaxError =
        compiled.isError() || engine.evaluate(QStringLiteral("if (false) {\n") + script + QStringLiteral("\n}")).isError();
    if (!stopRequested() && syntaxError) {
        outcome = Outcome::SyntaxError;
        last = translated("Error: Script has syntax errors!");
    } else {
        QStringList stackTrace; // not empty after an uncaught throw, whatever was thrown
        const QJSValue result = stopRequested() ? QJSValue() : engine.evaluate(script, QString(), 1, &stackTrace);
        if (m_stopReason == StoppedByWatch) {
            outcome = Outcome::ModuleLost;
            last = translated("Script stopped: %1").arg(m_lostReason);
        } else if (moduleReleased()) {
            outcome = Outcome::ModuleReleased;
            last = translated("Script stopped: module released (the crate's modules were rediscovered or switched off).");
        } else if (stopRequested()) {
            outcome = Outcome::Stopped;
            last = translated("Script stopped by the operator.");
        } else if (!stackTrace.isEmpty()) {
            outcome = Outcome::UncaughtException;
            last = translated("Error: Script threw an uncaught exception: %1").arg(result.toString());
        } else {
            last = translated("Script exited with result ") + result.toString();
        }
    }
    print(last);
    return outcome;
}

void ScriptRunner::reset()
{
    m_stopReason = NotStopped;
}

void ScriptRunner::stop()
{
    requestStop(StoppedByOperator);
}

void ScriptRunner::releaseModule()
{
    requestStop(StoppedByRelease);
}

void ScriptRunner::requestStop(StopReason reason)
{
    int expected = NotStopped;
    m_stopReason.compare_exchange_strong(expected, reason);
    QMutexLocker lock(&m_engineMutex);
    if (m_engine)
        m_engine->setInterrupted(true);
}

bool ScriptRunner::watchStops()
{
    if (!m_watch || stopRequested())
        return stopRequested();
    const QString reason = m_watch(m_lastAnswerAtMs.load());
    if (reason.isEmpty())
        return false;
    m_lostReason = reason;
    requestStop(StoppedByWatch);
    return true;
}

ScriptRunner::Watch ScriptRunner::answerWatch(SnapshotSource source)
{
    return [source = std::move(source)](qint64 scriptAnswerAtMs) {
        qint64 lastAnswerAtMs = scriptAnswerAtMs;
        if (source) {
            if (const std::shared_ptr<const ModuleSnapshot> snapshot = source())
                lastAnswerAtMs = std::max(lastAnswerAtMs, snapshot->lastAnswerAtMs);
        }
        if (ModuleSnapshot::nowMs() - lastAnswerAtMs <= ModuleSnapshot::freshForMs)
            return QString();
        return translated("the module has not answered for %1 s (crate off or unreachable).")
            .arg(ModuleSnapshot::freshForMs / 1000.0);
    };
}

QList<int> ScriptRunner::channelsSwitchedOn() const
{
    QMutexLocker lock(&m_switchedMutex);
    QList<int> channels = m_switchedOn;
    std::sort(channels.begin(), channels.end());
    return channels;
}

bool ScriptRunner::delay(int milliSeconds)
{
    const QDeadlineTimer deadline(qMax(0, milliSeconds));
    while (!stopRequested() && !watchStops()) {
        const qint64 leftMs = deadline.remainingTime();
        if (leftMs <= 0)
            return true;
        QThread::msleep(ulong(qMin<qint64>(leftMs, delaySliceMs)));
    }
    return false;
}

void ScriptRunner::print(const QString& line)
{
    emit message(line);
}

bool ScriptRunner::stopRequested() const
{
    return m_stopReason != NotStopped;
}

bool ScriptRunner::moduleReleased() const
{
    return m_stopReason == StoppedByRelease;
}
