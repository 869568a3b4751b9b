// One module used from two threads at once, as the refresh (GUI thread) and a script do.
// Every operation must be atomic with respect to the other thread, cache update included: run
// under ThreadSanitizer, and check that no thread ever sees another quantity's values (the
// library's block buffers are shared per connection and overwritten by the next call).
#include "CrateFixture.h"
#include "device/ControllerLock.h"

#include "controller/SnmpController.h"
#include "device/SnmpCrate.h"
#include "device/SnmpModule.h"

#include <QNetworkProxyFactory>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class TestSnmpModuleThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // The system proxy lookup of the simulator's port search runs libproxy in a thread of
        // its own, which ThreadSanitizer cannot see into; loopback needs no proxy anyway.
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"))
            .clear();
    }

    // While another thread holds the controller's lock, no module or crate operation may touch
    // the device or a cache. (With the lock taken the worker can never finish early, so the
    // short wait below can only miss a fault, never invent one.)
    void operationsWaitForTheControllerLock()
    {
        CrateFixture crate(QStringLiteral(R"([{"slot": 1, "type": "THE1640p", "serialNumber": 4713001}])"));
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        SnmpModule module(crate.controller(), 1);
        SnmpCrate snmpCrate(crate.controller());
        const std::function<void()> operations[] = {
            [&] { module.channelVoltageNominal(0); },
            [&] { module.channelVoltageNominal(3); },
            [&] { module.setChannelVoltageSet(2, 5.0f); },
            [&] { module.setAllChannelsInhibitAction(BaseModule::IgnoreFailure); },
            [&] { module.connected(); },
            [&] { module.status(); },
            [&] { snmpCrate.powerOn(); },
        };
        for (const auto& operation : operations) {
            std::atomic<bool> done{false};
            std::unique_lock<std::recursive_mutex> held(ControllerLock::of(*crate.controller()));
            std::thread worker([&] {
                operation();
                done = true;
            });
            QTest::qWait(100);
            const bool finishedWhileLocked = done.load();
            held.unlock();
            worker.join();
            QVERIFY(!finishedWhileLocked);
            QVERIFY(done.load());
        }
    }

    void twoThreadsOnOneModule()
    {
        CrateFixture crate(QStringLiteral(R"([{"slot": 3, "type": "THE1640p", "serialNumber": 4713003}])"));
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        SnmpModule module(crate.controller(), 3);
        QCOMPARE(module.channelNumber(), 16);
        module.setVoltageUnit(QStringLiteral("V"));
        module.setCurrentUnit(QStringLiteral("mA"));

        // Before the first read of channel 0 the caches hold zeros by design: fill them once.
        QCOMPARE(module.channelVoltageNominal(0), 4000.0f);

        constexpr int rounds = 150;
        std::atomic<int> wrongNominals{0};
        std::atomic<int> wrongSetValues{0};

        // Refresh: every quantity for every channel, in ascending channel order.
        auto refresh = [&] {
            for (int round = 0; round < rounds; ++round) {
                for (int channel = 0; channel < module.channelNumber(); ++channel) {
                    module.channelStatus(channel);
                    module.channelControl(channel);
                    module.channelVoltageMeasure(channel);
                    module.channelCurrentMeasure(channel);
                    module.channelCurrentSet(channel);
                    module.channelDelayedTripTime(channel);
                    if (module.channelVoltageNominal(channel) != 4000.0f)
                        ++wrongNominals;
                    module.channelVoltageSet(channel);
                }
                module.status();
                module.connected();
            }
        };
        // Script: writes, and reads values the refresh keeps in its caches (channels above 0
        // answer from the cache without a library call, so only the module's lock orders them
        // against the refresh's cache updates).
        auto script = [&] {
            for (int round = 0; round < rounds; ++round) {
                for (int channel = 1; channel < module.channelNumber(); ++channel) {
                    if (module.channelVoltageNominal(channel) != 4000.0f && module.connected())
                        ++wrongNominals;
                    module.channelStatus(channel);
                    module.channelCurrentSet(channel);
                }
                module.connected();
                module.setChannelVoltageSet(round % 16, 10.0f);
                module.setChannelCurrentSet(1, 0.5f);
                module.setChannelInhibitAction(2, BaseModule::RampDownChannel);
                if (module.channelCurrentNominal(0) != 2.0f)
                    ++wrongNominals;
                if (module.channelVoltageSet(0) > 4000.0f)
                    ++wrongSetValues;
                module.channelInhibitAction(0);
            }
        };

        std::thread guiLike(refresh);
        std::thread scriptLike(script);
        guiLike.join();
        scriptLike.join();

        QCOMPARE(wrongNominals.load(), 0);
        QCOMPARE(wrongSetValues.load(), 0);
        QVERIFY(module.connected());
        module.channelInhibitAction(0); // channel 0 refreshes the behaviour cache
        QCOMPARE(module.channelInhibitAction(2), BaseModule::RampDownChannel);
    }
};

QTEST_GUILESS_MAIN(TestSnmpModuleThreads)
#include "tst_snmpmodulethreads.moc"
