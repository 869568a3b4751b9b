#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class BaseModule;
class QJSEngine;
struct ModuleSnapshot;

// Runs user scripts (ECMAScript) against one module: a fresh JavaScript engine per run with two
// global objects. Shared by the script console's thread and the windowless tesmar-script runner;
// Qt Core and Qml only.
//
// "mod" offers every public slot of BaseModule by name with the same arguments, except those
// that take or return the supervision action, measurement range or connection state
// enumerations. A write the module refuses (a "set...", "clear...", "do..." operation answering
// false) prints "name(arguments) refused: reason" with the module's lastError() and answers false
// to the script, which goes on. "script" offers delay(milliSeconds) and print(message).
//
// Numbers are checked before anything is sent: a channel must be a whole number from 0 to
// channelNumber() - 1, other integers whole and within their type, values finite; otherwise the
// call throws a RangeError. Reads answer what the device answered: channel values come from a
// read of the module no older than one poller tick (the poller's snapshot when it is that young
// and was read after the script's latest write, else one block read of all channels), module
// values from a read made for the call; a read that was not answered throws an Error
// "mod.name(arguments): reason", which the script may catch. Reads that cannot tell a failure
// from a value are not offered. Writes are paced: at most maxWritesPerSecond per run.
//
// Every line (printed, refused write, and the run's last line: its result or why it ended) goes
// out through message(), emitted on the thread that runs the script.
//
// Threads: run() blocks the calling thread for the whole script and calls the module from it (the
// module serialises its operations on its controller). stop() and releaseModule() may be called
// from any thread: the script ends at once, also inside a delay (which sleeps in short slices),
// and never reaches the module again.
class ScriptRunner : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Finished,          // ran to its end: "Script exited with result ..."
        SyntaxError,       // nothing of it ran
        UncaughtException, // a value thrown and not caught
        Stopped,           // stop()
        ModuleReleased,    // releaseModule()
        ModuleLost,        // the watch reported the module gone (no answer, crate off)
    };

    // The pause between two checks for a stop inside delay().
    static constexpr int delaySliceMs = 20;
    // Writes a script may send per second; a loop of writes waits for its turn.
    static constexpr int maxWritesPerSecond = 50;

    // The poller's latest snapshot of the script's module (null when there is none). Called on
    // the script's thread; must be thread-safe.
    using SnapshotSource = std::function<std::shared_ptr<const ModuleSnapshot>()>;
    // Why the script must stop now (the module stopped answering, the crate went off), or an
    // empty text, given the latest moment the module answered the script itself (or the run's
    // start). Asked on the script's thread before each module call and during delays.
    using Watch = std::function<QString(qint64 scriptAnswerAtMs)>;

    explicit ScriptRunner(QObject* parent = nullptr);
    ~ScriptRunner() override;

    // Reads a script file as UTF-8. On failure `error` gets "Error: Can not find script file %1!"
    // or "Error: Can not open script file %1!" and `script` is left as it was.
    static bool readScriptFile(const QString& fileName, QString* script, QString* error);
    // Names of the operations "mod" offers, sorted.
    static QStringList moduleOperations();

    // Runs `script` against `module` (which the caller keeps alive for the run) on the calling
    // thread and returns how it ended, after emitting the last line.
    Outcome run(const QString& script, BaseModule* module);
    // For the next runs. Set them only while no script runs.
    void setSnapshotSource(SnapshotSource source) { m_snapshots = std::move(source); }
    void setWatch(Watch watch) { m_watch = std::move(watch); }
    // A watch on the poller's snapshots: the module's latest answer (or what the script itself got
    // answered, or the run's start) older than ModuleSnapshot::freshForMs stops the script.
    static Watch answerWatch(SnapshotSource source);
    // Channels the latest run switched on (setChannelOn, setSelectedChannelsOn, a channel control
    // word with the on bit) with a write the module took, ascending.
    QList<int> channelsSwitchedOn() const;
    // Forgets a stop or release requested for an earlier run. Call it before the next run is
    // started, never while one runs.
    void reset();
    // Ends the running script: "Script stopped by the operator.". Callable from any thread; a
    // request made before the run starts (and after reset()) stops it at its first statement.
    void stop();
    // The module is about to go away: the running script ends without calling it again, with a
    // line containing "module released". Callable from any thread.
    void releaseModule();

    // Sleeps the calling thread for `milliSeconds`; false when the run was stopped meanwhile
    // (it then returns within one slice).
    bool delay(int milliSeconds);
    // Emits `line` as one output line.
    void print(const QString& line);
    // True once stop() or releaseModule() was called for this run.
    bool stopRequested() const;
    bool moduleReleased() const;

signals:
    void message(const QString& line);

private:
    friend class ScriptBridge;
    enum StopReason { NotStopped = 0, StoppedByOperator, StoppedByRelease, StoppedByWatch };
    void requestStop(StopReason reason);
    Outcome evaluate(QJSEngine& engine, QObject& bridge, const QString& script);
    // Asks the watch; true (and the run stopping) when it names a reason.
    bool watchStops();

    SnapshotSource m_snapshots;
    Watch m_watch;
    QString m_lostReason; // set on the script's thread before StoppedByWatch
    std::atomic<qint64> m_lastAnswerAtMs{-1};
    mutable QMutex m_switchedMutex;
    QList<int> m_switchedOn;

    std::atomic<int> m_stopReason{NotStopped};
    QMutex m_engineMutex;
    QJSEngine* m_engine = nullptr; // the engine of the run in progress, under m_engineMutex
};
