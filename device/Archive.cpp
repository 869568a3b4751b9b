#include "device/Archive.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

#include <chrono>
#include <ctime>

namespace {
qint64 threadCpuNowMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
} // namespace

Archive::Archive(const ArchiveSettings& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_calls(new ThreadCall(this))
{
}

Archive::~Archive()
{
    stop();
}

void Archive::start()
{
    std::unique_lock<std::mutex> locker(m_mutex);
    if (m_thread)
        return;
    m_stopping = false;
    m_threadEnded.store(false, std::memory_order_relaxed);
    m_thread.reset(QThread::create([this] {
        run();
        m_threadEnded.store(true, std::memory_order_release);
    }));
    m_thread->setObjectName(QStringLiteral("Archive"));
    m_thread->start(QThread::LowPriority);
}

void Archive::stop()
{
    std::unique_ptr<QThread> thread;
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        thread.swap(m_thread);
        m_stopping = true;
        m_wake.notify_all();
    }
    if (!thread)
        return;
    thread->wait();
    m_threadEnded.load(std::memory_order_acquire);
}

void Archive::addEvent(const ArchiveEvent& event)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    if (m_events.size() >= maxPendingEvents) {
        m_events.removeFirst();
        ++m_dropped;
    }
    m_events.append(event);
    if (m_events.last().station.isEmpty())
        m_events.last().station = m_settings.station;
}

void Archive::addReading(ArchiveReading reading)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    if (m_readings.size() >= maxPendingReadings) {
        m_readings.removeFirst();
        ++m_dropped;
    }
    m_readings.append(std::move(reading));
}

bool Archive::isWorking() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return m_working;
}

QString Archive::problem() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return m_problem;
}

int Archive::pendingCount() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return int(m_events.size() + m_readings.size()) + m_inFlight;
}

qint64 Archive::droppedCount() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return m_dropped;
}

void Archive::post(Task task)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    m_tasks.append(std::move(task));
    m_wake.notify_all();
}

void Archive::findEvents(const EventFilter& filter, QObject* receiver, EventsResult result)
{
    const ThreadCall::Receiver key = m_calls->receiverKey(receiver);
    post([this, filter, key, result = std::move(result)](ArchiveStore& store) {
        QVector<ArchiveEvent> events;
        QString error;
        if (!store.isOpen())
            error = problem();
        else
            store.events(filter, &events, &error);
        // The archive outlives its thread (the destructor stops it), and a posted call dies with it.
        m_calls->post(key, [result, events = std::move(events), error] { result(events, error); });
    });
}

void Archive::findCurve(
    const QString& module, int channel, qint64 fromUtcMs, qint64 toUtcMs, QObject* receiver, CurveResult result)
{
    const ThreadCall::Receiver key = m_calls->receiverKey(receiver);
    post([this, module, channel, fromUtcMs, toUtcMs, key, result = std::move(result)](ArchiveStore& store) {
        std::vector<ChannelHistory::Point> points;
        QString error;
        if (!store.isOpen())
            error = problem();
        else
            store.curve(module, channel, fromUtcMs, toUtcMs, &points, &error);
        m_calls->post(key, [result, points = std::move(points), error] { result(points, error); });
    });
}

void Archive::setState(bool working, const QString& message)
{
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        if (m_working == working && m_problem == message)
            return;
        m_working = working;
        m_problem = working ? QString() : message;
    }
    if (!working)
        qWarning("%s", qPrintable(message));
    emit stateChanged(working, message);
}

void Archive::run()
{
    ArchiveStore store(m_settings);
    QElapsedTimer sinceOpenTry;
    QElapsedTimer sinceMaintenance;
    bool triedOpen = false;
    bool last = false;
    const qint64 cpuAtStart = threadCpuNowMs();
    while (!last) {
        QVector<ArchiveEvent> events;
        QVector<ArchiveReading> readings;
        QVector<Task> tasks;
        {
            std::unique_lock<std::mutex> locker(m_mutex);
            if (!m_stopping && m_tasks.isEmpty())
                m_wake.wait_for(locker, std::chrono::milliseconds(batchMs));
            last = m_stopping;
            events.swap(m_events);
            readings.swap(m_readings);
            tasks.swap(m_tasks);
            m_inFlight = int(events.size() + readings.size());
        }
        QString error;
        if (!store.isOpen() && (!triedOpen || last || sinceOpenTry.elapsed() >= retryMs)) {
            triedOpen = true;
            sinceOpenTry.start();
            if (store.open(&error)) {
                sinceMaintenance.invalidate();
                setState(true, QStringLiteral("Archive %1 works again").arg(m_settings.description()));
            } else {
                setState(false, error);
            }
        }
        bool written = false;
        if (store.isOpen() && (!events.isEmpty() || !readings.isEmpty())) {
            written = store.write(events, readings, &error);
            if (written) {
                setState(true, QStringLiteral("Archive %1 works again").arg(m_settings.description()));
            } else {
                setState(false, error);
                // A broken connection is opened anew on the next retry.
                store.close();
                sinceOpenTry.start();
            }
        }
        if (!written && (!events.isEmpty() || !readings.isEmpty())) {
            // Kept for the next try, in order before what came meanwhile, within the bounds.
            std::unique_lock<std::mutex> locker(m_mutex);
            events += m_events;
            readings += m_readings;
            m_events.swap(events);
            m_readings.swap(readings);
            while (m_events.size() > maxPendingEvents) {
                m_events.removeFirst();
                ++m_dropped;
            }
            while (m_readings.size() > maxPendingReadings) {
                m_readings.removeFirst();
                ++m_dropped;
            }
        }
        {
            std::unique_lock<std::mutex> locker(m_mutex);
            m_inFlight = 0;
        }
        for (const Task& task : std::as_const(tasks))
            task(store);
        if (store.isOpen() && !last && (!sinceMaintenance.isValid() || sinceMaintenance.elapsed() >= maintenanceMs)) {
            sinceMaintenance.start();
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (!store.fold(now, &error) || !store.prune(now, &error))
                qWarning("%s", qPrintable(error));
        }
        m_threadCpuMs.store(threadCpuNowMs() - cpuAtStart, std::memory_order_relaxed);
    }
}
