// The device session against the simulated crate: discovery through the SNMP factory, the
// poller's snapshots on its own thread, freshness on a slow, lossy and silent crate, and the
// lifetime of modules shared with other threads across a release.
#include "CrateFixture.h"

#include "controller/BaseController.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"
#include "device/SnmpModule.h"
#include "device/StatusWordBits.h"
#include "device/SteadyClock.h"

#include <QElapsedTimer>
#include <QNetworkProxyFactory>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cmath>
#include <thread>

namespace {
const QString fourModules = QStringLiteral(R"([{"slot": 0, "type": "THE1640p", "rampSpeed": 10},
    {"slot": 3, "type": "THX0830b"}, {"slot": 5, "type": "THC3210p"}, {"slot": 9, "type": "TMM0800m"}])");

std::unique_ptr<DeviceSession> newSession()
{
    return std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
}

// Waits until the poller published a snapshot of `index` that satisfies `accept`.
template <typename Accept>
std::shared_ptr<const ModuleSnapshot> waitForSnapshot(DeviceSession& session, int index, Accept accept, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const auto snapshot = session.poller()->moduleSnapshot(index);
        if (snapshot && accept(*snapshot))
            return snapshot;
        QTest::qWait(20);
    }
    return nullptr;
}
} // namespace

class TestDeviceSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // See tst_snmpmodulethreads: no system proxy lookup thread that ThreadSanitizer cannot see.
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"))
            .clear();
    }

    void discovery_data()
    {
        QTest::addColumn<QString>("modulesJson");
        QTest::addColumn<QList<int>>("occupiedSlots");
        QTest::newRow("four, gaps and the last slot") << fourModules << QList<int>{0, 3, 5, 9};
        QTest::newRow("empty crate") << QStringLiteral("[]") << QList<int>{};
    }
    void discovery()
    {
        QFETCH(QString, modulesJson);
        QFETCH(QList<int>, occupiedSlots);
        CrateFixture crate(modulesJson);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        auto session = newSession();
        QSignalSpy discovered(session.get(), &DeviceSession::modulesDiscovered);
        QVERIFY(session->connectTo(crate.simulator().address()));
        QCOMPARE(discovered.count(), 1);
        QList<int> found;
        for (BaseModule* module : session->modules())
            found.append(qobject_cast<SnmpModule*>(module)->slot());
        QCOMPARE(found, occupiedSlots);
        QCOMPARE(session->crates().size(), 1);
        QCOMPARE(session->currentModuleIndex(), occupiedSlots.isEmpty() ? -1 : 0);
        QCOMPARE(session->currentModule() != nullptr, !occupiedSlots.isEmpty());

        // A second connection releases the first one with its announcements, then rediscovers.
        QSignalSpy aboutToRelease(session.get(), &DeviceSession::modulesAboutToBeReleased);
        QSignalSpy released(session.get(), &DeviceSession::modulesReleased);
        QVERIFY(session->connectTo(crate.simulator().address()));
        QCOMPARE(aboutToRelease.count(), occupiedSlots.isEmpty() ? 0 : 1);
        QCOMPARE(released.count(), aboutToRelease.count());
        QCOMPARE(discovered.count(), 2);
        QCOMPARE(session->modules().size(), occupiedSlots.size());
    }

    // Connecting without waiting, superseded by a second connection to another crate: only the
    // second one's outcome arrives, with its modules, and the first slow one is dropped unseen.
    void backgroundConnectSuperseded()
    {
        CrateFixture slow(fourModules);
        CrateFixture other(QStringLiteral(R"([{"slot": 1, "type": "THE1640p"}])"));
        QString error;
        QVERIFY2(slow.start(&error), qPrintable(error));
        QVERIFY2(other.start(&error), qPrintable(error));
        QVERIFY(slow.simulator().command(QStringLiteral("delay 150")));
        auto session = newSession();
        QSignalSpy finished(session.get(), &DeviceSession::connectFinished);
        QSignalSpy discovered(session.get(), &DeviceSession::modulesDiscovered);
        session->connectInBackground(slow.simulator().address());
        QVERIFY(session->isConnecting());
        QVERIFY(session->modules().isEmpty());
        session->connectInBackground(other.simulator().address());
        QTRY_VERIFY_WITH_TIMEOUT(!session->isConnecting(), 15000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(discovered.count(), 1);
        QCOMPARE(session->modules().size(), 1);
        QCOMPARE(qobject_cast<SnmpModule*>(session->modules().first())->slot(), 1);
        QCOMPARE(session->modules().first()->thread(), session->thread());
        // A later synchronous connection supersedes one still running, too.
        session->connectInBackground(slow.simulator().address());
        QVERIFY(session->connectTo(other.simulator().address()));
        QCOMPARE(session->modules().size(), 1);
    }

    // Nothing listens: no modules, no poller reads, but the controller stays for the window.
    void connectToNothing()
    {
        auto session = newSession();
        QSignalSpy discovered(session.get(), &DeviceSession::modulesDiscovered);
        QVERIFY(!session->connectTo(QStringLiteral("127.0.0.1:%1").arg(SimulatorProcess::freeUdpPort())));
        QVERIFY(session->controller());
        QVERIFY(session->modules().isEmpty());
        QCOMPARE(discovered.count(), 0);
        session->release();
        QVERIFY(!session->controller());
    }

    // Two channels ramp together while the poller runs; the command comes from this thread as
    // the window's would. Every snapshot shows both rows from one read: equal voltages.
    void snapshotsOfRampingChannels()
    {
        CrateFixture crate(fourModules);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        auto session = newSession();
        QVERIFY(session->connectTo(crate.simulator().address()));
        QObject window;
        session->setNeeds(&window, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);
        BaseModule* module = session->currentModule();
        module->setVoltageUnit(QStringLiteral("V"));
        QVERIFY(module->setChannelVoltageSet(2, 400.0f));
        QVERIFY(module->setChannelVoltageSet(5, 400.0f));
        QVERIFY(module->setSelectedChannelsOn((1u << 2) | (1u << 5)));
        session->poller()->refreshNow(0);

        bool sawRamping = false;
        std::shared_ptr<const ModuleSnapshot> last;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            const auto snapshot = session->poller()->moduleSnapshot(0);
            if (snapshot && snapshot != last && snapshot->channels.size() == 16) {
                last = snapshot;
                const ChannelReading& a = snapshot->channels.at(2);
                const ChannelReading& b = snapshot->channels.at(5);
                QVERIFY(a.complete && b.complete);
                QVERIFY2(std::abs(a.voltageMeasure - b.voltageMeasure) < 10.0f,
                    qPrintable(QStringLiteral("%1 V and %2 V in one snapshot").arg(a.voltageMeasure).arg(b.voltageMeasure)));
                if ((a.status & ChannelStatusBit::ramping) && a.voltageMeasure > 10.0f && a.voltageMeasure < 390.0f)
                    sawRamping = true;
                if (!(a.status & ChannelStatusBit::ramping) && (a.status & ChannelStatusBit::on)
                    && std::abs(a.voltageMeasure - 400.0f) < 4.0f)
                    break;
            }
            QTest::qWait(10);
        }
        QVERIFY(sawRamping);
        QVERIFY(last);
        QCOMPARE(last->voltageUnit, QStringLiteral("V"));
        QVERIFY(std::abs(last->channels.at(2).voltageMeasure - 400.0f) < 4.0f);
        QVERIFY(!(last->channels.at(2).status & ChannelStatusBit::ramping));
        QVERIFY(last->channels.at(2).control & ChannelControlBit::on);
        QVERIFY(!(last->channels.at(3).control & ChannelControlBit::on));
        QVERIFY(last->values.statusValid && last->values.rampSpeedsValid);
        QCOMPARE(last->values.voltageRampSpeed, 10.0f);
    }

    // Each need makes the poller read its part, and nothing is read that nobody needs.
    void readsFollowNeeds_data()
    {
        QTest::addColumn<int>("needs");
        QTest::newRow("table only") << int(Poller::CurrentModuleChannels);
        QTest::newRow("module window") << int(Poller::CurrentModuleChannels | Poller::CurrentModuleValues
            | Poller::ModuleTemperatures | Poller::ModuleSupplies);
        QTest::newRow("overview") << int(Poller::AllModulesChannels);
        QTest::newRow("crate window") << int(Poller::CrateValues);
    }
    void readsFollowNeeds()
    {
        QFETCH(int, needs);
        const Poller::Needs wanted(needs);
        CrateFixture crate(fourModules);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        auto session = newSession();
        {
            QObject window;
            session->setNeeds(&window, wanted);
            QCOMPARE(session->needs(), wanted);
        }
        QCOMPARE(session->needs(), Poller::Needs()); // a destroyed owner needs nothing
        QObject window;
        session->setNeeds(&window, wanted);
        // Ticks of 20 ms: the cadences keep their counts of ticks and come round ten times sooner.
        session->poller()->setTickIntervalMs(20);
        QVERIFY(session->connectTo(crate.simulator().address()));
        session->setCurrentModuleIndex(2);
        // Every cadence comes round at least twice (module values: 11 ticks), then the clock
        // passes the freshness time, so that only what was read again since counts as fresh.
        QTest::qWait(600);
        SteadyClock::advanceMs(ModuleSnapshot::freshForMs + 100);
        QTest::qWait(600);

        const auto current = session->poller()->moduleSnapshot(2);
        const auto other = session->poller()->moduleSnapshot(1);
        const auto crateSnapshot = session->poller()->crateSnapshot();
        QVERIFY(current && other && crateSnapshot);
        const qint64 now = ModuleSnapshot::nowMs();
        QVERIFY(current->connected(now) && other->connected(now));
        QVERIFY(crateSnapshot->answered);
        QVERIFY(crateSnapshot->connectionInfo.startsWith(QStringLiteral("Connected to ")));
        // The new current module is read at once whatever the needs; afterwards only as needed.
        QCOMPARE(current->channels.size(), 32);
        const bool currentChannels = wanted & (Poller::CurrentModuleChannels | Poller::AllModulesChannels);
        QCOMPARE(current->channelsFresh(now), currentChannels);
        QCOMPARE(
            current->values.temperaturesValid, bool(wanted & (Poller::ModuleTemperatures | Poller::AllModulesChannels)));
        QCOMPARE(current->values.suppliesValid, bool(wanted & Poller::ModuleSupplies));
        QCOMPARE(other->channels.size(), wanted & Poller::AllModulesChannels ? 8 : 0);
        QCOMPARE(crateSnapshot->crate.valid, bool(wanted & Poller::CrateValues));
        if (wanted & Poller::CrateValues)
            QCOMPARE(crateSnapshot->crate.serialNumber, CrateFixture::crateSerialNumber);
    }

    // A slow crate: nothing the window calls on the session waits for the network.
    void slowCrateNeverBlocksTheCaller()
    {
        CrateFixture crate(fourModules);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        auto session = newSession();
        QVERIFY(session->connectTo(crate.simulator().address()));
        QObject window;
        session->setNeeds(&window, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);
        QVERIFY(crate.simulator().command(QStringLiteral("delay 150")));
        // A sanity bound far above any local work and below one round trip.
        constexpr qint64 boundMs = 100;
        qint64 longestMs = 0;
        QElapsedTimer total;
        total.start();
        int step = 0;
        while (total.elapsed() < 3000) {
            QElapsedTimer call;
            call.start();
            session->setCurrentModuleIndex(step++ % 4);
            session->poller()->refreshNow(session->currentModuleIndex());
            session->setNeeds(&window, Poller::CurrentModuleChannels | (step % 2 ? Poller::CrateValues : Poller::Need(0)));
            (void)session->poller()->moduleSnapshot(session->currentModuleIndex());
            (void)session->poller()->crateSnapshot();
            longestMs = qMax(longestMs, call.elapsed());
            QTest::qWait(30);
        }
        QVERIFY2(longestMs < boundMs, qPrintable(QStringLiteral("%1 ms").arg(longestMs)));
        // Also the release while the poller waits for an answer.
        QElapsedTimer release;
        release.start();
        session->release();
        QVERIFY2(release.elapsed() < boundMs, qPrintable(QStringLiteral("release %1 ms").arg(release.elapsed())));
    }

    // 30% of the requests lost: the poller reads again on its own, and the module never looks
    // disconnected for more than a moment nor its values stale for long. (A read that loses one
    // of its requests has no complete row, so stale moments do occur.)
    void lossyCrateStaysConnected()
    {
        CrateFixture crate(fourModules);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        auto session = newSession();
        QVERIFY(session->connectTo(crate.simulator().address()));
        QObject window;
        session->setNeeds(&window, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);
        QVERIFY(waitForSnapshot(
            *session, 0, [](const ModuleSnapshot& s) { return !s.channels.isEmpty(); }, 3000));
        QVERIFY(crate.simulator().command(QStringLiteral("drop 30")));
        constexpr int sampleMs = 50;
        int samples = 0;
        int disconnected = 0;
        int stale = 0;
        int disconnectedRun = 0;
        int longestDisconnectedRun = 0;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 6000) {
            QTest::qWait(sampleMs);
            const auto snapshot = session->poller()->moduleSnapshot(0);
            const qint64 now = ModuleSnapshot::nowMs();
            ++samples;
            disconnectedRun = snapshot->connected(now) ? 0 : disconnectedRun + 1;
            disconnected += disconnectedRun > 0;
            longestDisconnectedRun = qMax(longestDisconnectedRun, disconnectedRun);
            stale += !snapshot->channelsFresh(now);
        }
        const QString figures = QStringLiteral("%1 of %2 samples not connected (at most %3 ms), %4 stale")
                                    .arg(disconnected)
                                    .arg(samples)
                                    .arg(longestDisconnectedRun * sampleMs)
                                    .arg(stale);
        QVERIFY2(longestDisconnectedRun * sampleMs < 2000, qPrintable(figures));
        QVERIFY2(disconnected * 5 <= samples && stale * 5 <= samples, qPrintable(figures));
    }

    // A crate that goes silent: nothing counts as an answer from then on, so every module is
    // "Not connected" once the freshness time has passed since the silence (the clock is moved
    // on rather than waited for); connected again soon after the crate answers.
    void silentCrate()
    {
        CrateFixture crate(fourModules);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        auto session = newSession();
        session->poller()->setTickIntervalMs(20);
        QVERIFY(session->connectTo(crate.simulator().address()));
        QObject window;
        session->setNeeds(&window, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);
        QVERIFY(waitForSnapshot(
            *session, 0, [](const ModuleSnapshot& s) { return !s.channels.isEmpty(); }, 3000));
        QTest::qWait(300); // every module probed, the crate read (each every 5 ticks)
        QVERIFY(crate.simulator().command(QStringLiteral("silent on")));
        const qint64 silentAtMs = ModuleSnapshot::nowMs();
        QTest::qWait(400); // answers already on their way arrive; later requests are lost

        for (int index : {0, 1}) {
            const auto last = session->poller()->moduleSnapshot(index);
            QVERIFY(last);
            // Answered until the silence, and nothing counted as an answer since.
            QVERIFY2(last->lastAnswerAtMs > silentAtMs - 500 && last->lastAnswerAtMs <= silentAtMs + 100,
                qPrintable(QStringLiteral("module %1: last answer %2 ms after silence")
                               .arg(index)
                               .arg(last->lastAnswerAtMs - silentAtMs)));
            QVERIFY(last->connected(ModuleSnapshot::nowMs()));
        }
        SteadyClock::advanceMs(ModuleSnapshot::freshForMs);
        for (int index : {0, 1}) {
            const auto gone = session->poller()->moduleSnapshot(index);
            QVERIFY(!gone->connected(ModuleSnapshot::nowMs()));
            QVERIFY(gone->lastAnswerAtMs <= silentAtMs + 100);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!session->poller()->crateSnapshot()->answered, 3000);
        QVERIFY(session->poller()->crateSnapshot()->connectionInfo.isEmpty());

        QVERIFY(crate.simulator().command(QStringLiteral("silent off")));
        // The library probes a silent crate again after its hold-off (about 1.2 s).
        QVERIFY(waitForSnapshot(
            *session, 0, [](const ModuleSnapshot& s) { return s.channelsFresh(ModuleSnapshot::nowMs()); }, 2500));
        QVERIFY(waitForSnapshot(
            *session, 1, [](const ModuleSnapshot& s) { return s.connected(ModuleSnapshot::nowMs()); }, 2500));
        QTRY_VERIFY_WITH_TIMEOUT(session->poller()->crateSnapshot()->answered, 2500);
    }

    // A script thread hammers a shared module and the poller reads while the session releases
    // everything: the module stays valid for its holder, works against the old controller, and
    // is deleted in its own thread once the last holder lets go.
    void releaseWhileSharedModuleIsInUse()
    {
        CrateFixture crate(fourModules);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        auto session = newSession();
        QVERIFY(session->connectTo(crate.simulator().address()));
        QObject window;
        session->setNeeds(&window, Poller::AllModulesChannels | Poller::CurrentModuleValues | Poller::CrateValues);

        std::shared_ptr<BaseModule> shared = session->sharedModule(0);
        QVERIFY(shared);
        QVERIFY(!session->sharedModule(4));
        QPointer<BaseModule> watched(shared.get());
        QPointer<BaseModule> unshared(session->modules().at(1));
        Qt::HANDLE deletedIn = nullptr;
        connect(
            shared.get(), &QObject::destroyed, this, [&deletedIn] { deletedIn = QThread::currentThreadId(); },
            Qt::DirectConnection);

        std::atomic<bool> stop{false};
        std::atomic<int> callsAfterRelease{0};
        std::atomic<bool> released{false};
        std::atomic<bool> failedAfterRelease{false};
        std::thread script([&, module = std::move(shared)]() mutable {
            int step = 0;
            while (!stop) {
                module->setChannelVoltageSet(1, float(step++ % 100));
                const float measured = module->channelVoltageMeasure(1);
                if (released && module->channelNumber() == 16) {
                    callsAfterRelease++;
                    if (!std::isfinite(measured) || !module->connected())
                        failedAfterRelease = true;
                }
            }
            module.reset(); // the last holder, outside the module's thread
        });
        QTest::qWait(600);
        QSignalSpy aboutToRelease(session.get(), &DeviceSession::modulesAboutToBeReleased);
        QSignalSpy releasedSpy(session.get(), &DeviceSession::modulesReleased);
        session->release();
        released = true;
        QCOMPARE(aboutToRelease.count(), 1);
        QCOMPARE(releasedSpy.count(), 1);
        QVERIFY(session->modules().isEmpty() && session->crates().isEmpty() && !session->controller());
        QVERIFY(!session->sharedModule(0));
        QTRY_VERIFY_WITH_TIMEOUT(unshared.isNull(), 3000); // after the poller's read in progress
        QTRY_VERIFY_WITH_TIMEOUT(callsAfterRelease >= 20, 5000);
        QVERIFY(!watched.isNull());
        stop = true;
        script.join();
        QVERIFY(!failedAfterRelease);
        QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), 3000);
        QCOMPARE(deletedIn, QThread::currentThreadId());
        QVERIFY(!session->poller()->moduleSnapshot(0));
    }
};

QTEST_GUILESS_MAIN(TestDeviceSession)
#include "tst_devicesession.moc"
