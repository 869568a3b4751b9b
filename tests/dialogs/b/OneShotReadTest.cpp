// One-shot reads of the session: run on the poller's thread, delivered in the GUI thread, and
// not delivered to a receiver that is gone.
#include "device/DeviceSession.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include <QThread>
#include <QtTest>

#include <atomic>

class OneShotReadTest : public QObject
{
    Q_OBJECT

private slots:
    void deliversOnlyToLivingReceivers()
    {
        DeviceSession session(
            std::make_unique<MemoryControllerFactory>([] { return QVector<MemoryModule*>{new MemoryModule(4, 20, 5)}; }));
        QVERIFY(session.connectTo(QStringLiteral("memory")));
        std::atomic<bool> readInGuiThread{false};
        int delivered = 0;
        bool deliveredInGuiThread = true;
        auto gone = std::make_unique<QObject>();
        QObject kept;
        for (QObject* receiver : {gone.get(), &kept}) {
            session.readCurrentModuleOnce(receiver, [&](BaseModule& module) -> DeviceSession::ModuleReadResult {
                readInGuiThread = readInGuiThread || QThread::currentThread() == qApp->thread();
                const int serialNumber = module.serialNumber();
                return [&, serialNumber] {
                    deliveredInGuiThread = deliveredInGuiThread && QThread::currentThread() == qApp->thread();
                    delivered += serialNumber;
                };
            });
        }
        gone.reset(); // before its result arrives
        QTRY_COMPARE(delivered, 5);
        QTest::qWait(100);
        QCOMPARE(delivered, 5);
        QVERIFY(!readInGuiThread);
        QVERIFY(deliveredInGuiThread);
    }
};

QTEST_GUILESS_MAIN(OneShotReadTest)
#include "OneShotReadTest.moc"
