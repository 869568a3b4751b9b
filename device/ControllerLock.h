#pragma once

#include <atomic>
#include <mutex>

class BaseController;
class QThread;

// The device layer's one way to a controller's lock: modules, crates, factories and the poller
// take it here for the whole of each operation; nothing above the device layer can (the lock is
// not public on BaseController).
//
// A thread can be watched (the window watches its GUI thread, which must never wait for the
// network): every lock taken on it is counted and warned about, so tests and a debugging
// session see at once an operation that still runs there.
//
// Thread safety: callable from any thread.
class ControllerLock
{
public:
    static std::recursive_mutex& of(const BaseController& controller);

    // Watches `thread` (null: none) and starts counting from 0.
    static void watch(QThread* thread);
    // Locks taken on the watched thread since watch().
    static int takenOnWatchedThread();

private:
    static std::atomic<QThread*> s_watched;
    static std::atomic<int> s_takenOnWatched;
};
