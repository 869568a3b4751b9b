#include "device/LastErrors.h"

#include <QThread>

QString LastErrors::reason() const
{
    QMutexLocker locker(&m_mutex);
    return m_reasons.value(QThread::currentThreadId());
}

bool LastErrors::succeed()
{
    QMutexLocker locker(&m_mutex);
    m_reasons.remove(QThread::currentThreadId());
    return true;
}

bool LastErrors::fail(const QString& reason)
{
    QMutexLocker locker(&m_mutex);
    m_reasons.insert(QThread::currentThreadId(), reason);
    return false;
}
