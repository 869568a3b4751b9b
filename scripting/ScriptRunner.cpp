#include "scripting/ScriptRunner.h"

#include "device/BaseModule.h"
#include "device/WriteJournal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QJSEngine>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QThread>
#include <QVariant>
#include <QVector>

#include <algorithm>

namespace {

// Texts keep the translation context the console has always used.
QString translated(const char* text)
{
    return QCoreApplication::translate("ScriptThread", text);
}

// Enumerations that are not meta-types: slots with them are not offered to scripts.
bool isHiddenType(const QByteArray& typeName)
{
    const QByteArray bare = typeName.mid(typeName.lastIndexOf(':') + 1);
    return bare == "OutputSupervisionAction" || bare == "CurrentMeasurementRange" || bare == "ModuleConnectionState";
}

bool usesHiddenType(const QMetaMethod& method)
{
    if (isHiddenType(method.typeName()))
        return true;
    const QList<QByteArray> types = method.parameterTypes();
    return std::any_of(types.begin(), types.end(), isHiddenType);
}

// The most arguments a module operation takes (setFlexGroup); the call below passes that many.
constexpr int maxArguments = 3;

// The module operations by name; a name with default arguments has one entry per argument count.
using OperationTable = QHash<QString, QVector<QMetaMethod>>;

const OperationTable& operationTable()
{
    static const OperationTable table = [] {
        OperationTable operations;
        const QMetaObject& meta = BaseModule::staticMetaObject;
        for (int index = meta.methodOffset(); index < meta.methodCount(); ++index) {
            const QMetaMethod method = meta.method(index);
            if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Public
                && method.parameterCount() <= maxArguments && !usesHiddenType(method))
                operations[QString::fromLatin1(method.name())].append(method);
        }
        return operations;
    }();
    return table;
}

// Operations that write to the device answer false when the device did not take the write; the
// module's reads that answer a bool (connected(), killEnable(), ...) have none of these prefixes.
bool isWrite(const QMetaMethod& method)
{
    if (method.returnMetaType().id() != QMetaType::Bool)
        return false;
    static const char* const writePrefixes[] = {"set", "Set", "clear", "do", "send", "program"};
    const QByteArray name = method.name();
    return std::any_of(
        std::begin(writePrefixes), std::end(writePrefixes), [&name](const char* prefix) { return name.startsWith(prefix); });
}

QString argumentText(const QJSValue& value)
{
    return value.isString() ? QLatin1Char('"') + value.toString() + QLatin1Char('"') : value.toString();
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

// What the script's "mod" and "script" forward to. The JavaScript objects hold it in closures
// only, so a script reaches nothing but the functions they offer.
class ScriptBridge : public QObject
{
    Q_OBJECT
public:
    ScriptBridge(ScriptRunner* runner, BaseModule* module)
        : m_runner(runner)
        , m_module(module)
    {
    }

    Q_INVOKABLE QJSValue call(const QString& name, const QJSValue& arguments)
    {
        QJSEngine* engine = qjsEngine(this);
        // After a stop or release the module is not called again, whatever the script catches (a
        // call already past this check ends normally: the module object outlives the run).
        if (m_runner->stopRequested()) {
            engine->throwError(
                m_runner->moduleReleased() ? QStringLiteral("module released") : QStringLiteral("script stopped"));
            return {};
        }
        const QVector<QMetaMethod> overloads = operationTable().value(name);
        const int count = arguments.property(QStringLiteral("length")).toInt();
        const auto method = std::find_if(overloads.begin(), overloads.end(),
            [count](const QMetaMethod& candidate) { return candidate.parameterCount() == count; });
        if (method == overloads.end()) {
            QStringList counts;
            for (const QMetaMethod& candidate : overloads)
                counts.append(QString::number(candidate.parameterCount()));
            engine->throwError(QJSValue::TypeError,
                QStringLiteral("mod.%1 takes %2 argument(s), not %3")
                    .arg(name, counts.join(QStringLiteral(" or ")))
                    .arg(count));
            return {};
        }

        const QList<QByteArray> types = method->parameterTypes();
        QVariant values[maxArguments];
        QGenericArgument passed[maxArguments];
        for (int index = 0; index < count; ++index) {
            values[index] = arguments.property(quint32(index)).toVariant();
            if (!values[index].convert(method->parameterMetaType(index))) {
                engine->throwError(QJSValue::TypeError,
                    QStringLiteral("mod.%1: argument %2 is not a valid %3")
                        .arg(name)
                        .arg(index + 1)
                        .arg(QString::fromLatin1(types.at(index))));
                return {};
            }
            passed[index] = QGenericArgument(types.at(index).constData(), values[index].constData());
        }
        QVariant result;
        QGenericReturnArgument returned;
        if (method->returnMetaType().id() != QMetaType::Void) {
            result = QVariant(method->returnMetaType());
            returned = QGenericReturnArgument(method->typeName(), result.data());
        }
        // In this thread: the module serialises its operations on its controller.
        method->invoke(m_module, Qt::DirectConnection, returned, passed[0], passed[1], passed[2]);

        if (isWrite(*method) && !result.toBool()) {
            QStringList texts;
            for (int index = 0; index < count; ++index)
                texts.append(argumentText(arguments.property(quint32(index))));
            QString reason = m_module->lastError();
            if (reason.isEmpty())
                reason = QStringLiteral("no reason given");
            m_runner->print(QStringLiteral("%1(%2) refused: %3").arg(name, texts.join(QStringLiteral(", ")), reason));
        }
        return result.isValid() ? engine->toScriptValue(result) : QJSValue();
    }

    Q_INVOKABLE void delay(int milliSeconds)
    {
        if (!m_runner->delay(milliSeconds))
            qjsEngine(this)->throwError(QStringLiteral("script stopped"));
    }

    Q_INVOKABLE void print(const QString& message) { m_runner->print(message); }

private:
    ScriptRunner* m_runner;
    BaseModule* m_module;
};

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
    QStringList names = operationTable().keys();
    names.sort();
    return names;
}

ScriptRunner::Outcome ScriptRunner::run(const QString& script, BaseModule* module)
{
    // Also on a main thread (the windowless runner), a script's writes are the script's.
    const WriteSource source("script");
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
    // statement runs.
    const QJSValue compiled =
        engine.globalObject().property(QStringLiteral("Function")).callAsConstructor({QJSValue(script)});
    if (!stopRequested() && compiled.isError()) {
        outcome = Outcome::SyntaxError;
        last = translated("Error: Script has syntax errors!");
    } else {
        QStringList stackTrace; // not empty after an uncaught throw, whatever was thrown
        const QJSValue result = stopRequested() ? QJSValue() : engine.evaluate(script, QString(), 1, &stackTrace);
        if (moduleReleased()) {
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

bool ScriptRunner::delay(int milliSeconds)
{
    const QDeadlineTimer deadline(qMax(0, milliSeconds));
    while (!stopRequested()) {
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

#include "ScriptRunner.moc"
