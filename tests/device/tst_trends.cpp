// Channel histories and current alarms: folding into 10 s points, the 24 h bound and gaps on
// simulated time; the alarm rules read by read; limits in the settings; the export of a
// module's measurements; and the recorder fed by a session's poller against the simulated crate.
#include "CrateFixture.h"

#include "device/BaseModule.h"
#include "device/ChannelHistory.h"
#include "device/CurrentAlarms.h"
#include "device/DeviceSession.h"
#include "device/MeasurementExport.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpControllerFactory.h"
#include "device/TrendRecorder.h"
#include "device/WriteJournal.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {
constexpr qint64 startMs = 1000 * 1000; // a multiple of the 10 s period
const float notRead = std::numeric_limits<float>::quiet_NaN();

QSettings alarmSettings()
{
    return {QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("alarms")};
}
} // namespace

class TestTrends : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { alarmSettings().clear(); }

    void foldingKeepsMinimumMaximumAndMean()
    {
        // Two hours at 5 reads a second: in each 10 s period the voltage of channel 0 runs
        // 0..49 V; channel 1 is read only every other time, and not at all from 1800 s to 1810 s.
        ChannelHistory history(2);
        for (int k = 0; k < 2 * 3600 * 5; ++k) {
            const float step = float(k % 50);
            const qint64 atMs = startMs + qint64(k) * 200;
            const bool channel1Read = k % 2 == 0 && (atMs < startMs + 1800000 || atMs >= startMs + 1810000);
            const float voltages[] = {step, channel1Read ? step : notRead};
            const float currents[] = {step * 1e-6f, channel1Read ? 2 * step * 1e-6f : notRead};
            history.append(atMs, voltages, currents);
        }
        const qint64 newestMs = startMs + (2 * 3600 * 5 - 1) * 200;
        QCOMPARE(history.newestMs(), newestMs);

        const std::vector<ChannelHistory::Point> folded = history.points(0, startMs + 600000, startMs + 600000);
        QCOMPARE(folded.size(), size_t(1));
        QCOMPARE(folded.front().atMs, startMs + 600000);
        QCOMPARE(folded.front().durationMs, ChannelHistory::foldedPeriodMs);
        QCOMPARE(folded.front().voltageMin, 0.0f);
        QCOMPARE(folded.front().voltageMax, 49.0f);
        QCOMPARE(folded.front().voltageMean, 24.5f);
        QVERIFY(qAbs(folded.front().currentMean - 24.5e-6f) < 1e-10f);
        QCOMPARE(folded.front().currentMax, 49e-6f);
        // Unread values are no zeros: the other channel's mean is of what was read ...
        const ChannelHistory::Point other = history.points(1, startMs + 600000, startMs + 600000).front();
        QCOMPARE(other.voltageMin, 0.0f);
        QCOMPARE(other.voltageMax, 48.0f);
        QCOMPARE(other.voltageMean, 24.0f);
        // ... and a period without a read of it is a gap.
        QVERIFY(history.points(1, startMs + 1800000, startMs + 1800000).front().isGap());
        QVERIFY(!history.points(0, startMs + 1800000, startMs + 1800000).front().isGap());

        // The last hour at full rate, every read as it came.
        const std::vector<ChannelHistory::Point> recent = history.points(0, newestMs - 1000, newestMs);
        QCOMPARE(recent.size(), size_t(6));
        QCOMPARE(recent.back().atMs, newestMs);
        QCOMPARE(recent.back().durationMs, qint64(0));
        QCOMPARE(recent.back().voltageMean, float((2 * 3600 * 5 - 1) % 50));
        QCOMPARE(history.fullRateCount(), 3600 * 5 + 1);
        QVERIFY(history.foldedCount() <= 361);
    }

    void historyIsBoundedAndShowsGaps()
    {
        constexpr int channels = 48;
        ChannelHistory history(channels);
        std::vector<float> values(channels, 1.0f);
        // 25 hours at one read a second, with the module silent for 5 s once.
        qint64 atMs = startMs;
        for (int k = 0; k < 25 * 3600; ++k) {
            atMs = startMs + qint64(k) * 1000 + (k > 100 ? 5000 : 0);
            history.append(atMs, values.data(), values.data());
        }
        QVERIFY(history.oldestMs() >= atMs - ChannelHistory::keptForMs - ChannelHistory::foldedPeriodMs);
        QVERIFY(history.foldedCount() <= int(ChannelHistory::keptForMs / ChannelHistory::foldedPeriodMs) + 1);
        QCOMPARE(history.fullRateCount(), 3601);
        QVERIFY2(history.memoryBytes() < 20 * 1024 * 1024, qPrintable(QString::number(history.memoryBytes())));
        // A late read is no read.
        history.append(atMs - 1, values.data(), values.data());
        QCOMPARE(history.newestMs(), atMs);

        // Reads faster than ten a second are folded early: the bound holds anyway.
        for (int k = 1; k <= ChannelHistory::maxFullRateSamples + 500; ++k)
            history.append(atMs + k * 10, values.data(), values.data());
        QCOMPARE(history.fullRateCount(), ChannelHistory::maxFullRateSamples);

        // A silent stretch of the module is a gap between two reads at full rate ...
        ChannelHistory recent(1);
        for (qint64 t : {0, 200, 400, 3400, 3600}) {
            const float value = float(t) / 100;
            recent.append(startMs + t, &value, &value);
        }
        const std::vector<ChannelHistory::Point> points = recent.points(0, startMs, startMs + 4000);
        QCOMPARE(points.size(), size_t(6));
        QVERIFY(points.at(3).isGap());
        QCOMPARE(points.at(3).atMs, startMs + 400);
        // ... also when reduced to two columns for drawing, each with its minimum, maximum and mean.
        const std::vector<ChannelHistory::Point> columns = recent.envelope(0, startMs, startMs + 4000, 2);
        QCOMPARE(columns.size(), size_t(3));
        QCOMPARE((std::vector<float>{columns[0].voltageMin, columns[0].voltageMax, columns[0].currentMean}),
            (std::vector<float>{0, 4, 2}));
        QVERIFY(columns[1].isGap());
        QCOMPARE((std::vector<float>{columns[2].voltageMin, columns[2].voltageMax, columns[2].currentMean}),
            (std::vector<float>{34, 36, 35}));
        QCOMPARE(columns[2].atMs, startMs + 3400);
    }

    void alarmRules_data()
    {
        // Limit 1 mA. `reads`: time in ms and current in mA per read ("nan": not reached);
        // `expected`: A for an alarm after that read, - for none; `acknowledgeAfter`: the read
        // after which the operator acknowledges (-1: never).
        QTest::addColumn<qint64>("holdMs");
        QTest::addColumn<QString>("reads");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("acknowledgeAfter");
        QTest::newRow("fires only after the hold time") << qint64(1000) << "0:2 200:2 400:2 800:2 1000:2 1200:2"
                                                        << "----AA" << -1;
        QTest::newRow("a read at or below the limit restarts it") << qint64(1000) << "0:2 600:1 800:2 1600:2 1800:2"
                                                                  << "----A" << -1;
        QTest::newRow("a read that failed restarts it") << qint64(1000) << "0:2 400:nan 800:2 1600:2 1800:2"
                                                        << "----A" << -1;
        QTest::newRow("not read for a while restarts it") << qint64(1000) << "0:2 500:2 3000:2 3900:2 4000:2"
                                                          << "----A" << -1;
        QTest::newRow("stays when the current falls") << qint64(0) << "0:2 200:0.5 400:0"
                                                      << "AAA" << -1;
        QTest::newRow("exactly the limit is not above") << qint64(0) << "0:1 200:1"
                                                        << "--" << -1;
        QTest::newRow("acknowledged, fires again after a return") << qint64(0) << "0:2 200:2 400:0.5 600:2"
                                                                  << "A--A" << 0;
        QTest::newRow("no limit, no alarm") << qint64(-1) << "0:5 5000:5"
                                            << "--" << -1;
    }

    void alarmRules()
    {
        QFETCH(qint64, holdMs);
        QFETCH(QString, reads);
        QFETCH(QString, expected);
        QFETCH(int, acknowledgeAfter);
        CurrentAlarms alarms(2);
        // Channel 1 reads the same but has no limit.
        alarms.setLimits({holdMs < 0 ? CurrentLimit() : CurrentLimit{1e-3, holdMs}});
        QString got;
        const QStringList list = reads.split(QLatin1Char(' '));
        for (int k = 0; k < list.size(); ++k) {
            const QStringList read = list.at(k).split(QLatin1Char(':'));
            const float milliamperes = read.at(1) == QLatin1String("nan") ? notRead : read.at(1).toFloat();
            const float currents[] = {milliamperes * 1e-3f, milliamperes * 1e-3f};
            const bool before = alarms.alarm(0);
            const bool fired = alarms.update(startMs + read.at(0).toLongLong(), currents);
            QCOMPARE(fired, !before && alarms.alarm(0));
            got += alarms.alarm(0) ? QLatin1Char('A') : QLatin1Char('-');
            QVERIFY(!alarms.alarm(1));
            if (k == acknowledgeAfter) {
                QVERIFY(alarms.acknowledge(0));
                QVERIFY(!alarms.acknowledge(0));
            }
        }
        QCOMPARE(got, expected);
    }

    void limitsInSettings_data()
    {
        QTest::addColumn<QVariant>("limit");
        QTest::addColumn<QVariant>("hold");
        QTest::addColumn<bool>("isSet");
        QTest::newRow("stored") << QVariant(2.5e-6) << QVariant(3000) << true;
        QTest::newRow("no hold time") << QVariant(2.5e-6) << QVariant() << true;
        QTest::newRow("text") << QVariant("lots") << QVariant(3000) << false;
        QTest::newRow("negative") << QVariant(-1e-3) << QVariant(0) << false;
        QTest::newRow("infinite") << QVariant("inf") << QVariant(0) << false;
        QTest::newRow("bad hold time") << QVariant(1e-3) << QVariant("soon") << false;
    }

    void limitsInSettings()
    {
        QFETCH(QVariant, limit);
        QFETCH(QVariant, hold);
        QFETCH(bool, isSet);
        {
            QSettings settings = alarmSettings();
            settings.setValue("4711/channel2/currentLimitAmperes", limit);
            if (hold.isValid())
                settings.setValue("4711/channel2/holdTimeMs", hold);
        }
        const QVector<CurrentLimit> limits = CurrentLimitSettings::load(4711, 4);
        QCOMPARE(limits.size(), 4);
        QCOMPARE(limits.at(2).isSet(), isSet);
        QVERIFY(!limits.at(1).isSet());
        QVERIFY(!CurrentLimitSettings::load(4712, 4).at(2).isSet()); // another serial number
        if (isSet) {
            QCOMPARE(limits.at(2).limitA, limit.toDouble());
            QCOMPARE(limits.at(2).holdMs, hold.toLongLong());
        }
        // Written back and removed through the same keys.
        QVERIFY(CurrentLimitSettings::save(4711, 3, CurrentLimit{1e-3, 1500}));
        QCOMPARE(CurrentLimitSettings::load(4711, 4).at(3), (CurrentLimit{1e-3, 1500}));
        QVERIFY(CurrentLimitSettings::save(4711, 3, CurrentLimit()));
        QVERIFY(!CurrentLimitSettings::load(4711, 4).at(3).isSet());
    }

    // Two modules that both report serial number 0, one with a channel on a low load: each keeps
    // its own history, the alarm fires on the loaded one only, and both survive a rediscovery.
    // The export names the module and its units, gives UTC times, the set values and status in
    // force at each read, and leaves empty what was not read.
    void exportOfMeasurements()
    {
        ChannelHistory history(2);
        ChannelStateLog states(2);
        const float voltages[] = {100.0f, 200.0f};
        const float currents[] = {1e-6f, notRead};
        history.append(startMs, voltages, currents);
        states.append(startMs, 0, 100.0f, 5e-6f, 0x0009);
        // The set value changes; the second channel is not read here.
        const float later[] = {150.0f, notRead};
        history.append(startMs + 500, later, currents);
        states.append(startMs + 500, 0, 150.0f, 5e-6f, 0x0009);
        // A stretch without reads, then one more.
        history.append(startMs + 10000, voltages, currents);
        states.append(startMs + 10000, 0, 150.0f, 5e-6f, 0x0009); // unchanged: no new entry
        QCOMPARE(states.at(0, startMs + 499).voltageSetV, 100.0f);
        QCOMPARE(states.at(0, startMs + 10000).atMs, startMs + 500);
        QVERIFY(!states.at(1, startMs).isKnown());

        const ModuleIdentity module{
            QStringLiteral("127.0.0.1:1161"), QStringLiteral("Slot 3"), QStringLiteral("E08F2"), 4711004, 2};
        const qint64 wallOffsetMs = QDateTime(QDate(2026, 12, 7), QTime(20, 0), Qt::UTC).toMSecsSinceEpoch() - startMs;
        const QStringList lines =
            QString::fromUtf8(MeasurementExport::csv(module, history, states, startMs, startMs + 20000, wallOffsetMs))
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.mid(1, 4),
            (QStringList{"# crate,127.0.0.1:1161", "# slot,Slot 3", "# serial number,4711004", "# channels,2"}));
        QVERIFY(lines.at(5).startsWith(QStringLiteral("# units,time ISO 8601 UTC; voltage V; current A")));
        QCOMPARE(lines.at(6), QStringLiteral("# from,2026-12-07T20:00:00.000Z"));
        QCOMPARE(lines.at(8),
            QStringLiteral("time,channel,period,voltage set,voltage measured,voltage min,voltage max,current set,"
                           "current measured,current min,current max,status"));
        QCOMPARE(lines.mid(9),
            (QStringList{
                "2026-12-07T20:00:00.000Z,0,0,100,100,100,100,5e-06,1e-06,1e-06,1e-06,0x0009",
                "2026-12-07T20:00:00.500Z,0,0,150,150,150,150,5e-06,1e-06,1e-06,1e-06,0x0009",
                // The gap: nothing read, nothing given.
                "2026-12-07T20:00:00.500Z,0,0,,,,,,,,,",
                "2026-12-07T20:00:10.000Z,0,0,150,100,100,100,5e-06,1e-06,1e-06,1e-06,0x0009",
                // Channel 1: its voltage read, its current and set values never.
                "2026-12-07T20:00:00.000Z,1,0,,200,200,200,,,,,",
                "2026-12-07T20:00:00.500Z,1,0,,,,,,,,,",
                "2026-12-07T20:00:00.500Z,1,0,,,,,,,,,",
                "2026-12-07T20:00:10.000Z,1,0,,200,200,200,,,,,",
            }));
        QCOMPARE(MeasurementExport::defaultFileName(module, QDateTime(QDate(2026, 12, 7), QTime(21, 5), Qt::UTC)),
            QStringLiteral("measurements-slot-3-4711004-2026-12-07-2105.csv"));

        // A file that cannot be written: the full path and why.
        QTemporaryDir folder;
        QString error;
        QVERIFY(MeasurementExport::write(folder.filePath(QStringLiteral("a.csv")), "x\n", &error));
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("taken.csv")));
        QVERIFY(!MeasurementExport::write(folder.filePath(QStringLiteral("taken.csv")), "x\n", &error));
        QVERIFY2(error.startsWith(folder.filePath(QStringLiteral("taken.csv")) + QStringLiteral(" cannot be written: "))
                && error.size() > folder.filePath(QStringLiteral("taken.csv")).size() + 21,
            qPrintable(error));
    }

    void recorderFollowsThePoller()
    {
        CrateFixture crate(QStringLiteral(R"([
            {"slot": 1, "type": "THE1640p", "channels": 4, "serialNumber": 0, "rampSpeed": 50,
             "load": [1e6, 10e6, 10e6, 10e6]},
            {"slot": 4, "type": "THE1640p", "channels": 4, "serialNumber": 0, "rampSpeed": 50}])"));
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        QVERIFY(CurrentLimitSettings::save(0, 0, CurrentLimit{0.5e-3, 600}));
        DeviceSession session(std::make_unique<SnmpControllerFactory>());
        TrendRecorder recorder(&session);
        QVERIFY(session.connectTo(crate.simulator().address()));
        QObject overview;
        session.setNeeds(&overview, Poller::AllModulesChannels);
        QVERIFY(!(recorder.identity(0) == recorder.identity(1)));
        QCOMPARE(recorder.identity(1).address, QStringLiteral("Slot 4"));
        for (BaseModule* module : session.modules()) {
            QVERIFY(module->setChannelVoltageSet(0, 1000.0f));
            QVERIFY(module->setChannelOn(0));
        }
        QSignalSpy alarmsChanged(&recorder, &TrendRecorder::alarmsChanged);
        QSignalSpy fired(&recorder, &TrendRecorder::alarmFired);
        QSignalSpy acknowledged(&recorder, &TrendRecorder::alarmAcknowledged);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.alarms(0)->alarm(0), 5000);
        QVERIFY(alarmsChanged.count() > 0);
        QCOMPARE(fired.count(), 1);
        QCOMPARE(fired.at(0).at(0).value<ModuleIdentity>().address, QStringLiteral("Slot 1"));
        QCOMPARE(fired.at(0).at(1).toInt(), 0);
        QTest::qWait(1000); // the other module is read as long: it stays without alarm
        QVERIFY(!recorder.alarms(1)->anyAlarm());
        QCOMPARE(recorder.activeAlarms().size(), 1);
        QCOMPARE(recorder.activeAlarms().first().module.address, QStringLiteral("Slot 1"));
        QVERIFY(qAbs(recorder.alarms(0)->channel(0).firedAtA - 1e-3f) < 0.05e-3f);

        // Histories in volts and amperes, separate per module.
        const qint64 now = ModuleSnapshot::nowMs();
        const ChannelHistory::Point loaded = recorder.history(0)->points(0, now - 300, now).back();
        const ChannelHistory::Point light = recorder.history(1)->points(0, now - 300, now).back();
        QVERIFY2(qAbs(loaded.voltageMean - 1000.0f) < 5.0f, qPrintable(QString::number(loaded.voltageMean)));
        QVERIFY(qAbs(loaded.currentMean - 1e-3f) < 0.05e-3f);
        QVERIFY(qAbs(light.currentMean - 1e-4f) < 0.05e-4f);

        // A new connection finds the same modules with their history and their alarm.
        const int reads = recorder.history(0)->fullRateCount();
        QVERIFY(session.connectTo(crate.simulator().address()));
        QCOMPARE(recorder.history(0)->fullRateCount(), reads);
        QVERIFY(recorder.alarms(0)->alarm(0));
        QCOMPARE(recorder.acknowledge(0, {0, 1}), 1);
        QVERIFY(recorder.activeAlarms().isEmpty());
        QCOMPARE(acknowledged.count(), 1);
        QCOMPARE(acknowledged.at(0).at(1).toInt(), 0);

        // The set values and status of each read, as the export gives them.
        const qint64 exportNow = ModuleSnapshot::nowMs();
        const QStringList rows =
            QString::fromUtf8(MeasurementExport::csv(recorder.identity(0), *recorder.history(0), *recorder.states(0),
                                  exportNow - 1000, exportNow, QDateTime::currentMSecsSinceEpoch() - exportNow))
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                .filter(QRegularExpression(QStringLiteral("^\\d{4}-.*Z,0,0,1000,")));
        QVERIFY2(!rows.isEmpty(), "no read of channel 0 with its voltage set");
        // Still above the limit: no new alarm until the current returned below it.
        QTest::qWait(1000);
        QVERIFY(!recorder.alarms(0)->alarm(0));

        // Limits are kept per serial number: both modules take a new one.
        recorder.setCurrentLimit(1, 0, CurrentLimit{0.05e-3, 0});
        QCOMPARE(recorder.alarms(0)->limit(0), (CurrentLimit{0.05e-3, 0}));
        // The change is journaled with the module's place.
        JournalLine line;
        QVERIFY(JournalLine::parse(WriteJournal::instance().latestLines(1).value(0), &line));
        QCOMPARE(QStringList({line.crateAddress, line.slot, line.channel, line.quantity, line.value, line.result}),
            (QStringList{JournalWrite::snmpCrateAddress(crate.simulator().address()), "4", "0", "current alarm limit",
                "5e-05 A for 0 s", "ok"}));
        QCOMPARE(CurrentLimitSettings::load(0, 4).at(0), (CurrentLimit{0.05e-3, 0}));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.activeAlarms().size() == 2, 3000);
    }
};

QTEST_GUILESS_MAIN(TestTrends)
#include "tst_trends.moc"
