#include "device/ThreadCall.h"

#include <QCoreApplication>
#include <QEvent>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {
void handedOver(void* event)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#else
    Q_UNUSED(event);
#endif
}

void takenOver(void* event)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#else
    Q_UNUSED(event);
#endif
}

class CallEvent : public QEvent
{
public:
    explicit CallEvent(std::function<void()> call)
        : QEvent(type())
        , m_call(std::move(call))
    {
    }
    static QEvent::Type type()
    {
        static const auto registered = QEvent::Type(QEvent::registerEventType());
        return registered;
    }
    void run() const { m_call(); }

private:
    std::function<void()> m_call;
};
} // namespace

ThreadCall::ThreadCall(QObject* parent)
    : QObject(parent)
{
}

void ThreadCall::post(std::function<void()> call)
{
    if (!call)
        return;
    auto* event = new CallEvent(std::move(call));
    handedOver(event);
    QCoreApplication::postEvent(this, event);
}

ThreadCall::Receiver ThreadCall::receiverKey(QObject* receiver)
{
    if (!receiver)
        return {};
    QMutexLocker locker(&m_receiversMutex);
    const auto known = m_receivers.constFind(receiver);
    if (known != m_receivers.constEnd())
        return {receiver, *known};
    const quint64 token = ++m_lastReceiverToken;
    m_receivers.insert(receiver, token);
    // Direct: the entry goes while the receiver is destroyed, before its address can be reused.
    connect(
        receiver, &QObject::destroyed, this,
        [this, receiver] {
            QMutexLocker locker(&m_receiversMutex);
            m_receivers.remove(receiver);
        },
        Qt::DirectConnection);
    return {receiver, token};
}

bool ThreadCall::lives(const Receiver& key) const
{
    if (!key.object)
        return true;
    QMutexLocker locker(&m_receiversMutex);
    const auto known = m_receivers.constFind(key.object);
    return known != m_receivers.constEnd() && *known == key.token;
}

void ThreadCall::post(const Receiver& receiver, std::function<void()> call)
{
    if (!call)
        return;
    post([this, receiver, call = std::move(call)] {
        if (lives(receiver))
            call();
    });
}

void ThreadCall::customEvent(QEvent* event)
{
    // Before anything of the event is looked at, its type too.
    takenOver(event);
    if (event->type() != CallEvent::type()) {
        QObject::customEvent(event);
        return;
    }
    static_cast<CallEvent*>(event)->run();
}
