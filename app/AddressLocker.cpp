#include "AddressLocker.h"

#include "controller/ApplicationIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>

#include <cerrno>
#include <csignal>
#include <limits>
#include <sys/types.h>

AddressLocker::AddressLocker(QObject* parent)
    : QObject(parent)
    , m_applicationName(QString::fromLatin1(ApplicationIdentity::addressLockApplicationName))
    , m_organisationName(QString::fromLatin1(ApplicationIdentity::organisationName))
    , m_settings(new QSettings(QSettings::IniFormat, QSettings::UserScope, m_organisationName, m_applicationName))
    , m_processId(QCoreApplication::applicationPid())
{
}

AddressLocker::~AddressLocker()
{
    delete m_settings;
}

qint64 AddressLocker::holder(const QString& address) const
{
    // Another instance may have written the file since this locker read it.
    m_settings->sync();
    const QVariant value = m_settings->value(address);
    if (!value.isValid())
        return -1;
    bool ok = false;
    const qulonglong pid = value.toString().toULongLong(&ok);
    if (!ok || pid > qulonglong(std::numeric_limits<qint64>::max()))
        return -1;
    return qint64(pid);
}

bool AddressLocker::isProcessRunning(qint64 pid)
{
    if (pid <= 0 || pid > qint64(std::numeric_limits<pid_t>::max()))
        return false;
    // Signal 0 checks existence only; EPERM means it exists but belongs to someone else.
    if (::kill(pid_t(pid), 0) == 0)
        return true;
    return errno == EPERM;
}

bool AddressLocker::isFree(const QString& address) const
{
    const qint64 pid = holder(address);
    return pid < 0 || !isProcessRunning(pid);
}

bool AddressLocker::isLockedByUs(const QString& address) const
{
    return holder(address) == m_processId;
}

bool AddressLocker::lock(const QString& address)
{
    m_settings->setValue(address, m_processId);
    m_settings->sync();
    return true;
}

bool AddressLocker::tryLock(const QString& address)
{
    // Two instances started at the same moment must not both see the address free: the
    // check and the write happen under a lock file beside the settings file.
    const QString fileName = m_settings->fileName();
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QLockFile guard(fileName + QStringLiteral(".guard"));
    guard.lock();
    if (!isFree(address))
        return false;
    return lock(address);
}

bool AddressLocker::unlock(const QString& address)
{
    if (!isLockedByUs(address))
        return false;
    m_settings->remove(address);
    m_settings->sync();
    return true;
}

void AddressLocker::removeAllLocks()
{
    m_settings->clear();
    m_settings->sync();
}
