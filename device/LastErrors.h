#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

// Why the latest failed operation of one device object failed, kept for each calling thread: a
// script thread's failure never shows as the GUI thread's reason, nor the other way round.
// Locked inside; callable from any thread.
class LastErrors
{
public:
    // The calling thread's reason; empty after its latest operation succeeded.
    QString reason() const;
    // Record the outcome of the calling thread's operation; each returns that operation's result.
    bool succeed();
    bool fail(const QString& reason);

private:
    mutable QMutex m_mutex;
    QHash<Qt::HANDLE, QString> m_reasons;
};
