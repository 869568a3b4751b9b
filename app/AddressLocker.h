#pragma once

#include <QObject>
#include <QString>

class QSettings;

// Records in a per-user settings file ("addresslock") which crate address is in use by which
// running instance of the program, so that two instances of one user do not talk to the same
// crate unnoticed. One key per address (the address text exactly as given), the value the
// holder's process id. Lockers are short-lived; the state lives only in the file.
//
// An entry whose process no longer runs (a crashed or killed instance) counts as free, so a
// crash does not leave the user a warning on every later start. A process id that the system
// has reused for some other running process still counts as held: the user then confirms the
// take-over once in the conflict dialog.
class AddressLocker : public QObject
{
    Q_OBJECT

public:
    explicit AddressLocker(QObject* parent = nullptr);
    ~AddressLocker() override;

    // True when no running process holds the address.
    bool isFree(const QString& address) const;
    bool isLockedByUs(const QString& address) const;
    // Records this process as the holder, whoever held it before. Always true: the settings
    // layer reports no write errors.
    bool lock(const QString& address);
    // lock() when isFree(), else false.
    bool tryLock(const QString& address);
    // Removes the entry only when this process holds it.
    bool unlock(const QString& address);
    void removeAllLocks();

    // The process id recorded for the address, or -1 when there is none (or it does not convert).
    qint64 holder(const QString& address) const;
    // True when a process with that id runs on this machine (of any user).
    static bool isProcessRunning(qint64 pid);

private:
    QString m_applicationName;
    QString m_organisationName;
    QSettings* m_settings;
    qint64 m_processId = -1;
};
