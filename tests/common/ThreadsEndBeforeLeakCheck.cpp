// Linked into every test of an AddressSanitizer build (see tests/CMakeLists.txt).
//
// The leak check runs from an exit handler, and it can catch a thread in its very last steps.
// Qt's per-thread data of a QThread (QtTest's watchdog thread is one) is given back by the ending
// thread itself, in its thread-specific-data destructor, which runs after QThread::wait() has
// already returned. A check that meets the thread in between finds that data held by nobody and
// reports it as leaked, now and then, under load.
//
// This object's destructor runs at exit before the leak check (exit handlers run in reverse order
// of registration, and the sanitizer registers its handler before any of ours). It waits until the
// number of the process's threads stops falling. A thread still at work is not waited for: once
// the count has been steady for a moment, the check runs and sees everything as it is.
#include <dirent.h>

#include <chrono>
#include <thread>

namespace {

int threadCount()
{
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return 1;
    int count = 0;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(tasks);
    return count;
}

struct ThreadsEndBeforeLeakCheck
{
    ThreadsEndBeforeLeakCheck() = default;
    ThreadsEndBeforeLeakCheck(const ThreadsEndBeforeLeakCheck&) = delete;
    ThreadsEndBeforeLeakCheck& operator=(const ThreadsEndBeforeLeakCheck&) = delete;
    ~ThreadsEndBeforeLeakCheck()
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        const auto steadyFor = std::chrono::milliseconds(100);
        int count = threadCount();
        auto steadySince = Clock::now();
        while (count > 1 && Clock::now() < deadline && Clock::now() - steadySince < steadyFor) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const int now = threadCount();
            if (now != count) {
                count = now;
                steadySince = Clock::now();
            }
        }
    }
};

const ThreadsEndBeforeLeakCheck waitForEndingThreads;

} // namespace
