#include "IsolatedSettings.h"

#include "app/AddressLocker.h"
#include "dialogs/common/IpV4InputDialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

namespace {
IsolatedSettings* s_settings = nullptr;

// The id of a process that has run and ended.
qint64 finishedProcessId()
{
    QProcess process;
    process.start(QStringLiteral("/bin/true"), {});
    if (!process.waitForStarted(10000))
        return -1;
    const qint64 pid = process.processId();
    if (!process.waitForFinished(10000))
        return -1;
    return pid > 0 ? pid : -1;
}
} // namespace

class AddressLockerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void lockAndUnlock();
    void fileIsSharedBetweenLockers();
    void heldByRunningProcess();
    void unlockByNonHolderLeavesEntry();
    void staleLockIsFree();
    void garbageEntryIsFree();
    void removeAllLocks();
    void dialogEnablesOkOnlyForCompleteAddress();
    void dialogPrefilledAddress();
};

void AddressLockerTest::init()
{
    AddressLocker().removeAllLocks();
}

void AddressLockerTest::lockAndUnlock()
{
    AddressLocker locker;
    const QString address = QStringLiteral("10.1.2.3");
    QVERIFY(locker.isFree(address));
    QVERIFY(!locker.isLockedByUs(address));
    QVERIFY(locker.tryLock(address));
    QVERIFY(locker.isLockedByUs(address));
    QVERIFY(!locker.isFree(address));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), address).toLongLong(), QCoreApplication::applicationPid());
    // Held by this (running) process: a second claim fails.
    QVERIFY(!locker.tryLock(address));
    QVERIFY(locker.unlock(address));
    QVERIFY(locker.isFree(address));
    QVERIFY(!s_settings->value(QStringLiteral("addresslock"), address).isValid());
    QVERIFY(!locker.unlock(address));
}

void AddressLockerTest::fileIsSharedBetweenLockers()
{
    AddressLocker first;
    AddressLocker second;
    const QString address = QStringLiteral("10.1.2.4");
    QVERIFY(second.isFree(address)); // reads the file before the first locker writes it
    QVERIFY(first.tryLock(address));
    QVERIFY(!second.isFree(address));
    QVERIFY(second.isLockedByUs(address)); // same process
    QVERIFY(second.unlock(address));
    QVERIFY(first.isFree(address));
}

void AddressLockerTest::heldByRunningProcess()
{
    const QString address = QStringLiteral("10.1.2.5");
    const qint64 parent = qint64(::getppid());
    s_settings->setValue(QStringLiteral("addresslock"), address, parent);
    AddressLocker locker;
    QVERIFY(!locker.isFree(address));
    QVERIFY(!locker.isLockedByUs(address));
    QVERIFY(!locker.tryLock(address));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), address).toLongLong(), parent);
    // Forcing takes it over.
    QVERIFY(locker.lock(address));
    QVERIFY(locker.isLockedByUs(address));
}

void AddressLockerTest::unlockByNonHolderLeavesEntry()
{
    const QString address = QStringLiteral("10.1.2.6");
    const qint64 parent = qint64(::getppid());
    s_settings->setValue(QStringLiteral("addresslock"), address, parent);
    AddressLocker locker;
    QVERIFY(!locker.unlock(address));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), address).toLongLong(), parent);

    // Also when the holder is gone: only the holder removes its entry.
    const qint64 gone = finishedProcessId();
    QVERIFY(gone > 0);
    s_settings->setValue(QStringLiteral("addresslock"), address, gone);
    QVERIFY(!locker.unlock(address));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), address).toLongLong(), gone);
}

void AddressLockerTest::staleLockIsFree()
{
    const QString address = QStringLiteral("10.1.2.7");
    const qint64 gone = finishedProcessId();
    QVERIFY(gone > 0);
    QVERIFY(!AddressLocker::isProcessRunning(gone));
    s_settings->setValue(QStringLiteral("addresslock"), address, gone);

    AddressLocker locker;
    QVERIFY(locker.isFree(address));
    QVERIFY(!locker.isLockedByUs(address));
    QVERIFY(locker.tryLock(address));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), address).toLongLong(), QCoreApplication::applicationPid());
}

void AddressLockerTest::garbageEntryIsFree()
{
    AddressLocker locker;
    const QString address = QStringLiteral("10.1.2.8");
    for (const QVariant& value : {QVariant(QStringLiteral("nobody")), QVariant(QStringLiteral("-5")), QVariant(QString())}) {
        s_settings->setValue(QStringLiteral("addresslock"), address, value);
        QVERIFY2(locker.isFree(address), qPrintable(value.toString()));
        QVERIFY(!locker.isLockedByUs(address));
    }
    QVERIFY(locker.tryLock(address));
    QVERIFY(locker.isLockedByUs(address));
}

void AddressLockerTest::removeAllLocks()
{
    AddressLocker locker;
    s_settings->setValue(QStringLiteral("addresslock"), QStringLiteral("10.1.2.9"), qint64(::getppid()));
    QVERIFY(locker.lock(QStringLiteral("10.1.2.10")));
    locker.removeAllLocks();
    QVERIFY(locker.isFree(QStringLiteral("10.1.2.9")));
    QVERIFY(locker.isFree(QStringLiteral("10.1.2.10")));
}

void AddressLockerTest::dialogEnablesOkOnlyForCompleteAddress()
{
    IpV4InputDialog dialog;
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"));
    auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("cancelButton"));
    QVERIFY(edit && ok && cancel);
    QCOMPARE(ok->text(), QStringLiteral("Ok"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QVERIFY(!ok->isEnabled());

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("192.168.1"));
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(edit, QStringLiteral(".25"));
    QVERIFY(ok->isEnabled());
    QCOMPARE(dialog.address(), QStringLiteral("192.168.1.25"));
    // A digit that would make the part 256 is refused: the text stays as it was.
    QTest::keyClicks(edit, QStringLiteral("6"));
    QCOMPARE(dialog.address(), QStringLiteral("192.168.1.25"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(dialog.address(), QStringLiteral("192.168.1."));
    QVERIFY(!ok->isEnabled());

    QTest::keyClicks(edit, QStringLiteral("1"));
    QVERIFY(ok->isEnabled());
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void AddressLockerTest::dialogPrefilledAddress()
{
    IpV4InputDialog dialog;
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("okButton"));
    QVERIFY(ok);
    dialog.setAddress(QStringLiteral("127.0.0.1"));
    QVERIFY(ok->isEnabled());
    dialog.setAddress(QStringLiteral("127.0.0.1")); // same text again
    QVERIFY(ok->isEnabled());
    dialog.setAddress(QStringLiteral("crate.example"));
    QVERIFY(!ok->isEnabled());
    QCOMPARE(dialog.address(), QStringLiteral("crate.example"));
    dialog.setLabelText(QStringLiteral("<b>Where?</b>"));
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("label"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("<b>Where?</b>"));
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QApplication application(argc, argv);
    AddressLockerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AddressLockerTest.moc"
