// The archive on a real PostgreSQL server started for this test: two stations writing to one
// database are told apart by their host, and a server that stops mid-run is a lasting message
// while the crate stays under control; writing resumes, with what came meanwhile, when it is back.
#include "CrateFixture.h"
#include "common/ArchiveAnswers.h"
#include "common/PostgresServer.h"

#include "device/Archive.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"
#include "device/SnmpControllerFactory.h"
#include "device/TrendRecorder.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <cmath>

namespace {
ArchiveEvent eventOf(const QString& kind, int channel)
{
    ArchiveEvent event;
    event.atUtcMs = QDateTime::currentMSecsSinceEpoch();
    event.crate = QStringLiteral("10.0.0.7");
    event.address = QStringLiteral("Slot 1");
    event.channel = channel;
    event.kind = kind;
    event.currentMeasured = 1.5e-3f;
    return event;
}
} // namespace

class TestArchivePostgres : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (PostgresServer::binaryFolder().isEmpty())
            QSKIP("no PostgreSQL server binaries (initdb, postgres) in /usr/lib/postgresql: install postgresql");
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
    }

    void twoStationsToldApartByHost()
    {
        Archive alpha(m_server.archiveSettings(QStringLiteral("alpha")));
        Archive beta(m_server.archiveSettings(QStringLiteral("beta")));
        alpha.start();
        beta.start();
        const qint64 fromUtcMs = QDateTime::currentMSecsSinceEpoch() - 1000;
        alpha.addEvent(eventOf(EventKind::currentTrip, 35));
        beta.addEvent(eventOf(EventKind::currentTrip, 35));
        beta.addEvent(eventOf(EventKind::externalInhibit, 4));
        // The same module key from both stations, each with its own values.
        const QString module = ArchiveStore::moduleKey(QStringLiteral("10.0.0.7"), QStringLiteral("Slot 1"), 77);
        for (int k = 0; k < 5; ++k) {
            const qint64 at = QDateTime::currentMSecsSinceEpoch() - 500 + k * 100;
            alpha.addReading(ArchiveReading{module, at, {100.0f, 1e-6f}});
            beta.addReading(ArchiveReading{module, at, {900.0f, 9e-6f}});
        }
        QTRY_VERIFY_WITH_TIMEOUT(alpha.pendingCount() == 0 && beta.pendingCount() == 0, 10000);
        QVERIFY2(alpha.isWorking() && beta.isWorking(), qPrintable(alpha.problem() + beta.problem()));

        EventFilter trips;
        trips.fromUtcMs = fromUtcMs;
        trips.channel = 35;
        trips.kinds = EventKind::trips();
        QString error;
        const QVector<ArchiveEvent> found = ArchiveAnswers::events(alpha, trips, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(found.size(), 2);
        QStringList stations = {found.at(0).station, found.at(1).station};
        stations.sort();
        QCOMPARE(stations, (QStringList{QStringLiteral("alpha"), QStringLiteral("beta")}));
        QCOMPARE(found.first().currentMeasured, 1.5e-3f);
        QVERIFY(std::isnan(found.first().voltageSet)); // none given: no value, not 0

        // Each station's curve is of its own reads.
        const std::vector<ChannelHistory::Point> alphaCurve =
            ArchiveAnswers::curve(alpha, module, 0, fromUtcMs, QDateTime::currentMSecsSinceEpoch() + 1000);
        const std::vector<ChannelHistory::Point> betaCurve =
            ArchiveAnswers::curve(beta, module, 0, fromUtcMs, QDateTime::currentMSecsSinceEpoch() + 1000);
        QCOMPARE(alphaCurve.size(), size_t(5));
        QCOMPARE(betaCurve.size(), size_t(5));
        QVERIFY(std::all_of(alphaCurve.begin(), alphaCurve.end(), [](const auto& p) { return p.voltageMean == 100.0f; }));
        QVERIFY(std::all_of(betaCurve.begin(), betaCurve.end(), [](const auto& p) { return p.voltageMean == 900.0f; }));
    }

    void serverStoppedMidRun()
    {
        CrateFixture crate(QStringLiteral(R"([{"slot": 1, "type": "THE1640p", "channels": 4, "serialNumber": 9}])"));
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        Archive archive(m_server.archiveSettings(QStringLiteral("gamma")));
        QSignalSpy state(&archive, &Archive::stateChanged);
        archive.start();
        DeviceSession session(std::make_unique<SnmpControllerFactory>());
        TrendRecorder trends(&session);
        trends.setArchive(&archive);
        EventLog log(&session, &trends, &archive);
        QVERIFY(session.connectTo(crate.simulator().address()));
        QTRY_VERIFY_WITH_TIMEOUT(archive.pendingCount() < 20 && archive.isWorking(), 10000);

        QVERIFY2(m_server.stop(&error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(!archive.isWorking(), 10000);
        QVERIFY2(archive.problem().contains(QStringLiteral("PostgreSQL")), qPrintable(archive.problem()));
        // The state is stored before it is signalled from the archive's thread.
        QTRY_VERIFY(!state.isEmpty() && !state.last().at(0).toBool());
        // The crate is still under control, and what happens meanwhile is kept.
        BaseModule* module = session.modules().first();
        QVERIFY(module->setChannelVoltageSet(2, 123.0f));
        log.scriptStarted(QStringLiteral("while the server is down"));
        QTest::qWait(1200);
        QVERIFY(archive.pendingCount() > 0);

        QVERIFY2(m_server.start(&error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(archive.isWorking(), 15000);
        QTRY_VERIFY(state.last().at(0).toBool());
        EventFilter scripts;
        scripts.kinds = {EventKind::scriptStarted};
        QTRY_COMPARE_WITH_TIMEOUT(ArchiveAnswers::events(archive, scripts).size(), 1, 10000);
        QCOMPARE(ArchiveAnswers::events(archive, scripts).first().detail, QStringLiteral("while the server is down"));
        QCOMPARE(archive.droppedCount(), 0);
    }

private:
    PostgresServer m_server;
};

QTEST_GUILESS_MAIN(TestArchivePostgres)
#include "tst_archivepostgres.moc"
