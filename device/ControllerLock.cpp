#include "device/ControllerLock.h"

#include "controller/BaseController.h"

#include <QDebug>
#include <QThread>

std::atomic<QThread*> ControllerLock::s_watched{nullptr};
std::atomic<int> ControllerLock::s_takenOnWatched{0};

std::recursive_mutex& ControllerLock::of(const BaseController& controller)
{
    QThread* const watched = s_watched.load(std::memory_order_relaxed);
    if (watched && QThread::currentThread() == watched) {
        // Once per run in the log is enough to find it; the count tells how often.
        if (s_takenOnWatched.fetch_add(1, std::memory_order_relaxed) == 0)
            qWarning("A device operation waits on the watched (GUI) thread");
    }
    return controller.mutex();
}

void ControllerLock::watch(QThread* thread)
{
    s_takenOnWatched.store(0, std::memory_order_relaxed);
    s_watched.store(thread, std::memory_order_relaxed);
}

int ControllerLock::takenOnWatchedThread()
{
    return s_takenOnWatched.load(std::memory_order_relaxed);
}
