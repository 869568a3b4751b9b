#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>

class BaseModule;
class DeviceSession;

// A procedure on one module (factory reset, base address programming, ...) as a job: start()
// returns at once, progress() and the final finished() arrive as signals, error() and
// errorText() say why it failed, and kill() cancels it. Whoever started it only listens.
//
// The job fixes its module when it is made: every step goes to that module object, whichever
// module the window shows meanwhile, and the job ends with ModuleGone as soon as the session no
// longer lists it. Each step is one command of the session (DeviceSession::submitCommand): it
// runs on the poller's thread with the module, so the GUI thread never waits for the bus, and
// other commands (an emergency off first of all) pass between two steps. Waits between steps are
// timers of the job's thread, never sleeps.
//
// Lives in the session's thread (the GUI thread). finished() is emitted exactly once per start();
// after it (or after kill()) nothing more of the job reaches the module: a step already handed
// to the poller still runs there, its outcome is dropped.
class ServiceJob : public QObject
{
    Q_OBJECT
public:
    enum class State { NotStarted, Running, Finished };
    enum Error {
        NoError = 0,
        // kill() was called.
        Cancelled,
        // The module left the session's list; nothing more was sent to it.
        ModuleGone,
        // At least one write was refused; the procedure went on as far as it could
        // (refused() named each one).
        Refused,
        // The module never reached a state the procedure waits for; errorText() says which.
        GaveUp,
    };
    Q_ENUM(Error)

    // A refused write of one step, as refused() reports it.
    struct Refusal
    {
        int channel = -1; // -1: a module-wide write
        QString what;
        QString reason;
    };

    // The module's writes made within one step on the device side: check() keeps the refusals,
    // which reach refused() in the job's thread after the step.
    class StepWrites
    {
    public:
        explicit StepWrites(BaseModule& module)
            : m_module(module)
        {
        }
        // `ok` as returned by a write of the module; false records the module's last error.
        bool check(bool ok, int channel, const QString& what);
        const QVector<Refusal>& refusals() const { return m_refusals; }

    private:
        BaseModule& m_module;
        QVector<Refusal> m_refusals;
    };

    // `source` names the job's writes in the write journal ("factory reset", ...).
    ServiceJob(DeviceSession* session, BaseModule* module, const QString& source, QObject* parent = nullptr);
    ~ServiceJob() override;

    // Begins the procedure and returns at once; does nothing unless the job was not started yet.
    void start();
    // Cancels a running job: no further step is sent, finished() follows at once with Cancelled.
    void kill();

    State state() const { return m_state; }
    bool isRunning() const { return m_state == State::Running; }
    int error() const { return m_error; }
    QString errorText() const { return m_errorText; }
    // The module the job acts on (null once it was deleted).
    BaseModule* module() const;

signals:
    void progress(int done, int total, const QString& step);
    // A write the module refused (`channel` -1: module-wide).
    void refused(int channel, const QString& what, const QString& reason);
    // A remark for the operator that is no failure.
    void message(const QString& text);
    void finished(ServiceJob* job);

protected:
    // What runs in the job's thread after a step; it decides what comes next.
    using Continuation = std::function<void()>;
    // One step on the device side (poller thread): only the module and `writes` may be touched
    // there, nothing of the job. Returns what to do next in the job's thread (never empty).
    using Step = std::function<Continuation(BaseModule& module, StepWrites& writes)>;
    using Condition = std::function<bool(BaseModule& module)>;

    // The first step of the procedure (called by start()).
    virtual void begin() = 0;

    void runStep(Step step);
    // `next` after `ms` milliseconds, unless the job ended meanwhile.
    void after(int ms, Continuation next);
    // Checks `condition` on the module up to `reads` times, `waitMs` apart, then `reached` or
    // `missed`. `what` names the check in the debug log.
    void pollUntil(
        const QString& what, int reads, int waitMs, Condition condition, Continuation reached, Continuation missed);
    void setProgress(int done, int total, const QString& step);
    // Ends the job (once); finished() follows.
    void finish(int error = NoError, const QString& text = QString());

private:
    void stepDone(const QVector<Refusal>& refusals, const Continuation& next);
    void endWithModuleGone();

    QPointer<DeviceSession> m_session;
    QPointer<BaseModule> m_module;
    QString m_source;
    State m_state = State::NotStarted;
    int m_error = NoError;
    QString m_errorText;
    QTimer m_wait;
    Continuation m_afterWait;
};
