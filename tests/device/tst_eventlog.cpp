// The event log against the simulated crate: a trip with its values, kept in the archive across
// a new session and found by a filter; a silent crate is "not connected", never a trip; the
// archive's settings (password file) and a database that cannot be opened.
#include "CrateFixture.h"
#include "common/ArchiveAnswers.h"

#include "device/Archive.h"
#include "device/ArchiveSettings.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"
#include "device/SnmpControllerFactory.h"
#include "device/StatusWordBits.h"
#include "device/SteadyClock.h"
#include "device/TrendRecorder.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {
const QString oneModule = QStringLiteral(R"([
    {"slot": 2, "type": "THE1640p", "channels": 4, "serialNumber": 5120, "rampSpeed": 5,
     "load": [10e6, 10e6, 10e6, 10e6], "supervisionBehavior": [128, 128, 128, 128]}])");

ArchiveSettings sqliteIn(const QTemporaryDir& folder)
{
    ArchiveSettings settings;
    settings.database = folder.filePath(QStringLiteral("archive.sqlite"));
    settings.station = QStringLiteral("station-a");
    return settings;
}

QVector<ArchiveEvent> kindsOf(const QSignalSpy& spy, const QString& kind)
{
    QVector<ArchiveEvent> found;
    for (const QList<QVariant>& arguments : spy) {
        const ArchiveEvent event = arguments.at(0).value<ArchiveEvent>();
        if (event.kind == kind)
            found.append(event);
    }
    return found;
}

} // namespace

class TestEventLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qRegisterMetaType<ArchiveEvent>();
    }

    void tripIsLoggedWithValuesKeptAndFound()
    {
        CrateFixture crate(oneModule);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        QTemporaryDir folder;
        QString moduleKey;
        const qint64 startUtcMs = QDateTime::currentMSecsSinceEpoch();
        {
            Archive archive(sqliteIn(folder));
            archive.start();
            DeviceSession session(std::make_unique<SnmpControllerFactory>());
            TrendRecorder trends(&session);
            trends.setArchive(&archive);
            EventLog log(&session, &trends, &archive);
            QSignalSpy events(&log, &EventLog::eventRecorded);
            QVERIFY(session.connectTo(crate.simulator().address()));
            QCOMPARE(kindsOf(events, EventKind::connected).size(), 1);
            QCOMPARE(kindsOf(events, EventKind::moduleFound).size(), 1);
            BaseModule* module = session.modules().first();
            QVERIFY(module->setChannelVoltageSet(3, 500.0f));
            QVERIFY(module->setChannelOn(3));
            QTRY_VERIFY_WITH_TIMEOUT(!kindsOf(events, EventKind::rampEnded).isEmpty(), 8000);
            QVERIFY(crate.simulator().command(QStringLiteral("load 2 3 0")));
            QTRY_VERIFY_WITH_TIMEOUT(!kindsOf(events, EventKind::currentTrip).isEmpty(), 5000);
            const ArchiveEvent trip = kindsOf(events, EventKind::currentTrip).first();
            QCOMPARE(trip.channel, 3);
            QCOMPARE(trip.address, QStringLiteral("Slot 2"));
            QCOMPARE(trip.serialNumber, 5120);
            QVERIFY2(std::fabs(trip.voltageSet - 500.0f) < 0.5f, qPrintable(QString::number(trip.voltageSet)));
            QVERIFY(!std::isnan(trip.currentMeasured));
            QVERIFY2(trip.detail.startsWith(QStringLiteral("read before: ")), qPrintable(trip.detail));
            QVERIFY(trip.atUtcMs >= startUtcMs && trip.atUtcMs <= QDateTime::currentMSecsSinceEpoch());
            // Only channel 3 tripped; the tool tip's source knows it.
            QCOMPARE(kindsOf(events, EventKind::currentTrip).size(), 1);
            QCOMPARE(log.latestChannelEvent(0, 3).kind, EventKind::currentTrip);
            QVERIFY(log.latestChannelEvent(0, 2).kind.isEmpty());
            moduleKey = trends.archiveKey(0);
            session.release();
            QCOMPARE(kindsOf(events, EventKind::disconnected).size(), 1);
        }
        // A new program on the same database: the trip is there, with its values, and the
        // filter "trips of channel 3 in the last 24 h" finds it and nothing else.
        Archive archive(sqliteIn(folder));
        archive.start();
        EventFilter filter;
        filter.fromUtcMs = QDateTime::currentMSecsSinceEpoch() - 24 * 3600 * 1000;
        filter.channel = 3;
        filter.kinds = EventKind::trips();
        const QVector<ArchiveEvent> trips = ArchiveAnswers::events(archive, filter, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(trips.size(), 1);
        QCOMPARE(trips.first().kind, EventKind::currentTrip);
        QCOMPARE(trips.first().station, QStringLiteral("station-a"));
        QVERIFY(std::fabs(trips.first().voltageSet - 500.0f) < 0.5f);
        filter.channel = 2;
        QVERIFY(ArchiveAnswers::events(archive, filter).isEmpty());
        // Newest first over all kinds: the disconnection ends the first run.
        const QVector<ArchiveEvent> all = ArchiveAnswers::events(archive, EventFilter());
        QVERIFY(all.size() >= 5);
        QCOMPARE(all.first().kind, EventKind::disconnected);
        QCOMPARE(all.last().kind, EventKind::connected);

        // The measurements were archived too: channel 3's curve has the 500 V it ran at.
        QVERIFY(moduleKey.contains(QStringLiteral("|Slot 2|5120")));
        const std::vector<ChannelHistory::Point> curve =
            ArchiveAnswers::curve(archive, moduleKey, 3, startUtcMs, QDateTime::currentMSecsSinceEpoch(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(curve.size() >= 3, qPrintable(QString::number(curve.size())));
        QVERIFY(std::any_of(curve.begin(), curve.end(), [](const auto& p) { return std::fabs(p.voltageMean - 500) < 2; }));
    }

    // A crate that stops answering: every module "not connected" and the crate too, no channel
    // event; back again it answers without a trip.
    void silentCrateIsNotConnectedNeverATrip()
    {
        CrateFixture crate(oneModule);
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        DeviceSession session(std::make_unique<SnmpControllerFactory>());
        EventLog log(&session, nullptr, nullptr);
        QSignalSpy events(&log, &EventLog::eventRecorded);
        QVERIFY(session.connectTo(crate.simulator().address()));
        BaseModule* module = session.modules().first();
        QVERIFY(module->setChannelVoltageSet(1, 200.0f));
        QVERIFY(module->setChannelOn(1));
        QTest::qWait(600);
        QVERIFY(crate.simulator().command(QStringLiteral("silent on")));
        // The freshness time passes on the readings' clock once the answers on their way are in.
        QTest::qWait(300);
        SteadyClock::advanceMs(ModuleSnapshot::freshForMs);
        QTRY_VERIFY_WITH_TIMEOUT(!kindsOf(events, EventKind::moduleNotConnected).isEmpty(), 8000);
        QTRY_VERIFY_WITH_TIMEOUT(!kindsOf(events, EventKind::crateNotConnected).isEmpty(), 5000);
        QVERIFY(crate.simulator().command(QStringLiteral("silent off")));
        QTRY_VERIFY_WITH_TIMEOUT(!kindsOf(events, EventKind::moduleAnswers).isEmpty(), 8000);
        QTest::qWait(500);
        for (const QString& kind : EventKind::channelConditions())
            QVERIFY2(kindsOf(events, kind).isEmpty(), qPrintable(kind));
        QCOMPARE(kindsOf(events, EventKind::moduleNotConnected).size(), 1);
    }

    void settingsAndUnusableDatabases()
    {
        QTemporaryDir folder;
        QSettings ini(folder.filePath(QStringLiteral("program.ini")), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Archive/Driver"), QStringLiteral("QPSQL"));
        ini.setValue(QStringLiteral("Archive/Host"), QStringLiteral("db.lab"));
        const QString passwordFile = folder.filePath(QStringLiteral("password"));
        QFile file(passwordFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("s3cret\n");
        file.close();
        ini.setValue(QStringLiteral("Archive/PasswordFile"), passwordFile);
        ArchiveSettings settings;
        QString error;
        // Readable by others: refused with the reason, nothing to open.
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
        qunsetenv("TESMAR_ARCHIVE_PASSWORD");
        QVERIFY(!ArchiveSettings::load(ini, &settings, &error));
        QVERIFY2(error.contains(QStringLiteral("chmod 600")), qPrintable(error));
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY2(ArchiveSettings::load(ini, &settings, &error), qPrintable(error));
        QCOMPARE(settings.password, QStringLiteral("s3cret"));
        QCOMPARE(settings.host, QStringLiteral("db.lab"));
        QCOMPARE(settings.retentionDays, 30);
        qputenv("TESMAR_ARCHIVE_PASSWORD", "from-environment");
        QVERIFY(ArchiveSettings::load(ini, &settings, &error));
        QCOMPARE(settings.password, QStringLiteral("from-environment"));
        qunsetenv("TESMAR_ARCHIVE_PASSWORD");
        ini.setValue(QStringLiteral("Archive/Driver"), QStringLiteral("QMYSQL"));
        QVERIFY(!ArchiveSettings::load(ini, &settings, &error));

        // A file that is no database: a lasting problem, events are kept for later, nothing crashes.
        const QString corrupt = folder.filePath(QStringLiteral("corrupt.sqlite"));
        QFile garbage(corrupt);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(8192, 'x'));
        garbage.close();
        ArchiveSettings broken;
        broken.database = corrupt;
        broken.station = QStringLiteral("s");
        Archive archive(broken);
        QSignalSpy state(&archive, &Archive::stateChanged);
        archive.start();
        QTRY_VERIFY_WITH_TIMEOUT(!archive.isWorking(), 5000);
        QVERIFY2(archive.problem().contains(corrupt), qPrintable(archive.problem()));
        ArchiveEvent event;
        event.kind = EventKind::scriptStarted;
        archive.addEvent(event);
        QTest::qWait(1500);
        QCOMPARE(archive.pendingCount(), 1);
        QString queryError;
        QVERIFY(ArchiveAnswers::events(archive, EventFilter(), &queryError).isEmpty());
        QVERIFY(!queryError.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
