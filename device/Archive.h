#pragma once

#include "device/ArchiveStore.h"
#include "device/ThreadCall.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// The event log and measurement archive of one program: collects events and reads from any
// thread and writes them in batches on its own thread (once a second), folds and prunes there
// too, and answers queries there, so neither the window nor the poller ever waits for the
// database. A database that cannot be opened or written is reported (stateChanged) and retried
// every retryMs; what arrives meanwhile is kept up to a bound (the oldest reads go first) and
// written when it works again.
//
// Every public function is thread-safe; results are delivered in the thread the Archive lives in.
class Archive : public QObject
{
    Q_OBJECT
public:
    static constexpr int batchMs = 1000;
    static constexpr int retryMs = 2000;
    static constexpr int maintenanceMs = 60 * 1000;
    static constexpr int maxPendingEvents = 100000;
    static constexpr int maxPendingReadings = 60 * 50; // a minute of a full crate

    explicit Archive(const ArchiveSettings& settings, QObject* parent = nullptr);
    ~Archive() override;

    const ArchiveSettings& settings() const { return m_settings; }

    void start();
    // Writes what is pending (one last try) and ends the thread.
    void stop();

    void addEvent(const ArchiveEvent& event);
    void addReading(ArchiveReading reading);

    // Working: the database took the last batch (or nothing needed writing since it opened).
    bool isWorking() const;
    // Why it does not work; empty while it does.
    QString problem() const;
    // Events and reads waiting to be written or being written.
    int pendingCount() const;
    // Events and reads dropped because the database did not take them in time.
    qint64 droppedCount() const;

    using EventsResult = std::function<void(const QVector<ArchiveEvent>& events, const QString& error)>;
    using CurveResult = std::function<void(const std::vector<ChannelHistory::Point>& points, const QString& error)>;
    // Queries run on the archive's thread after the pending batch is written; `result` is called
    // later in this object's thread unless `receiver` was destroyed.
    void findEvents(const EventFilter& filter, QObject* receiver, EventsResult result);
    void findCurve(
        const QString& module, int channel, qint64 fromUtcMs, qint64 toUtcMs, QObject* receiver, CurveResult result);

    // CPU time the archive's thread used, in milliseconds.
    qint64 threadCpuMs() const { return m_threadCpuMs.load(std::memory_order_relaxed); }

signals:
    // The database started or stopped working; `message` says why (red, lasting in the window).
    void stateChanged(bool working, const QString& message);

private:
    using Task = std::function<void(ArchiveStore& store)>;
    void run();
    void post(Task task);
    void setState(bool working, const QString& message);

    const ArchiveSettings m_settings;
    // Standard primitives rather than QMutex/QWaitCondition: the thread sanitizer sees the wait's
    // unlock and relock of a pthread mutex, not those inside Qt's library.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unique_ptr<QThread> m_thread;
    ThreadCall* m_calls; // a child: results reach their receivers in this object's thread
    std::atomic<bool> m_threadEnded{false};
    bool m_stopping = false;
    QVector<ArchiveEvent> m_events;
    QVector<ArchiveReading> m_readings;
    QVector<Task> m_tasks;
    int m_inFlight = 0; // taken for the batch being written
    bool m_working = true;
    QString m_problem;
    qint64 m_dropped = 0;
    std::atomic<qint64> m_threadCpuMs{0};
};
