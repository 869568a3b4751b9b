// One module used from two threads at once, as the refresh (GUI thread) and a script do.
// Every operation must be atomic with respect to the other thread, cache update included: run
// under ThreadSanitizer, and check that no thread ever sees another quantity's values (the
// library's block buffers are shared per connection and overwritten by the next call).
#include "CrateFixture.h"

#include "controller/SnmpController.h"
#include "device/SnmpModule.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <thread>

class TestSnmpModuleThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution")).clear();
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
        // Script: writes and reads its own values back within one operation each.
        auto script = [&] {
            for (int round = 0; round < rounds; ++round) {
                module.setChannelVoltageSet(round % 16, 10.0f);
                module.setChannelCurrentSet(1, 0.5f);
                module.setChannelInhibitAction(2, BaseModule::RampDownChannel);
                if (module.channelCurrentNominal(0) != 2.0f)
                    ++wrongNominals;
                if (module.channelVoltageSet(0) > 4000.0f)
                    ++wrongSetValues;
                module.channelInhibitAction(0);
                module.setVoltageUnit(QStringLiteral("V"));
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
