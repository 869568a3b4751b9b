#pragma once

#include <QHash>
#include <QMutex>
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

    // A receiver of results as another thread carries it: its address and a token that a later
    // object at the same address does not get. Only this object's thread asks whether it lives,
    // so no guarded pointer to it is copied or destroyed in the carrying thread.
    struct Receiver
    {
        const QObject* object = nullptr;
        quint64 token = 0;
    };
    // `receiver` may be null: nobody to ask, the result is always delivered.
    Receiver receiverKey(QObject* receiver);
    // Runs `call` later in this object's thread if `receiver` still lives then; callable from
    // any thread.
    void post(const Receiver& receiver, std::function<void()> call);

protected:
    void customEvent(QEvent* event) override;

private:
    bool lives(const Receiver& key) const;

    mutable QMutex m_receiversMutex;
    QHash<const QObject*, quint64> m_receivers; // receivers that still live
    quint64 m_lastReceiverToken = 0;
};
