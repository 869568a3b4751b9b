#pragma once

#include <QObject>

#include <functional>

class QEvent;

// Carries calls into the thread this object lives in. Each call travels in a posted event that
// is made in the calling thread and run and destroyed in this object's thread: unlike a queued
// functor, the calling thread never touches what it handed over again. The hand-over is also
// told to ThreadSanitizer, which cannot see the locks of Qt's own event queue.
class ThreadCall : public QObject
{
public:
    explicit ThreadCall(QObject* parent = nullptr);

    // Runs `call` later in this object's thread; callable from any thread. A call still waiting
    // when this object is destroyed is dropped.
    void post(std::function<void()> call);

protected:
    void customEvent(QEvent* event) override;
};
