// The event log and measurement archive, on SQLite and on a PostgreSQL server of its own:
// - writing: a full crate (10 modules of 48 channels) read every 200 ms for --seconds s, handed
//   to the archive from the GUI thread: CPU time of the writer thread per second, the longest
//   stall of the GUI thread's timer, database growth per day (reads of the last hour at full
//   rate, folded 10 s points beyond);
// - queries on a 30-day archive (generated: --modules modules of 48 channels, folded points for
//   30 days, the last hour at full rate, 20 events an hour per module): "trips of one channel in
//   24 h" and "one channel's curve over 7 days", median and worst of 20 runs.
//   bench_archive [--seconds 30] [--modules 2] [--sqlite-only]
#include "common/PostgresServer.h"
#include "device/Archive.h"
#include "device/ArchiveStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {
constexpr int channels = 48;
constexpr qint64 hourMs = ArchiveStore::hourMs;

QString moduleKey(int module)
{
    return ArchiveStore::moduleKey(QStringLiteral("10.0.0.7"), QStringLiteral("Slot %1").arg(module), 1000 + module);
}

qint64 sizeOf(const ArchiveSettings& settings)
{
    if (settings.isSqlite()) {
        qint64 bytes = 0;
        for (const char* suffix : {"", "-wal", "-shm"})
            bytes += QFileInfo(settings.database + QLatin1String(suffix)).size();
        return bytes;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(settings.driver, QStringLiteral("size"));
    db.setHostName(settings.host);
    db.setPort(settings.port);
    db.setUserName(settings.user);
    db.setDatabaseName(settings.database);
    qint64 bytes = -1;
    if (db.open()) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT pg_database_size(current_database())")) && query.next())
            bytes = query.value(0).toLongLong();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("size"));
    return bytes;
}

void measureWriting(const ArchiveSettings& settings, int seconds)
{
    Archive archive(settings);
    archive.start();
    QElapsedTimer ready;
    ready.start();
    while (archive.pendingCount() == 0 && !archive.isWorking() && ready.elapsed() < 5000)
        QCoreApplication::processEvents();
    const qint64 sizeBefore = sizeOf(settings);
    const qint64 cpuBefore = archive.threadCpuMs();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(200);
    QElapsedTimer clock;
    clock.start();
    qint64 lastTickMs = 0;
    qint64 worstLateMs = 0;
    qint64 worstHandOffUs = 0;
    int reads = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTickMs)
            worstLateMs = std::max(worstLateMs, now - lastTickMs - 200);
        lastTickMs = now;
        QElapsedTimer handOff;
        handOff.start();
        const qint64 atUtcMs = QDateTime::currentMSecsSinceEpoch();
        for (int module = 0; module < 10; ++module) {
            ArchiveReading reading{moduleKey(module), atUtcMs, QVector<float>(2 * channels)};
            for (int channel = 0; channel < channels; ++channel) {
                reading.values[2 * channel] = 1000.0f + float(reads % 7);
                reading.values[2 * channel + 1] = 1e-6f * float(channel + 1);
            }
            archive.addReading(std::move(reading));
        }
        ++reads;
        worstHandOffUs = std::max(worstHandOffUs, handOff.nsecsElapsed() / 1000);
    });
    tick.start();
    while (clock.elapsed() < seconds * 1000LL)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    tick.stop();
    while (archive.pendingCount() > 0 && clock.elapsed() < (seconds + 10) * 1000LL)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double cpuMsPerSecond = double(archive.threadCpuMs() - cpuBefore) / seconds;
    const qint64 grownBytes = sizeOf(settings) - sizeBefore;
    // Reads of the last hour at full rate (kept for up to two hours before they are folded),
    // folded points beyond: one 8640-byte row per channel and hour.
    const double rawPerHourMb = double(grownBytes) / seconds * 3600 / 1e6;
    const double foldedPerDayMb = 10.0 * channels * 24 * ArchiveStore::periodsPerHour * 6 * 4 / 1e6;
    std::printf("  writing 10 x 48 channels every 200 ms for %d s: %d reads, writer thread %.1f ms CPU per s, "
                "GUI thread: hand-off at most %lld us, timer late at most %lld ms, dropped %lld\n",
        seconds, reads, cpuMsPerSecond, worstHandOffUs, worstLateMs, archive.droppedCount());
    std::printf("  growth: full-rate reads %.0f MB per hour (the last 1-2 h are kept), folded %.0f MB per day "
                "(%.1f GB for 30 days)\n",
        rawPerHourMb, foldedPerDayMb, foldedPerDayMb * 30 / 1000);
    if (!archive.isWorking())
        std::printf("  archive problem: %s\n", qPrintable(archive.problem()));
}

bool generate(const ArchiveSettings& settings, int modules, qint64 nowUtcMs)
{
    ArchiveStore store(settings);
    QString error;
    if (!store.open(&error)) {
        std::printf("  %s\n", qPrintable(error));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("generate"), false);
    db = QSqlDatabase::addDatabase(settings.driver, QStringLiteral("generate"));
    db.setDatabaseName(settings.database);
    db.setHostName(settings.host);
    db.setPort(settings.port);
    db.setUserName(settings.user);
    if (!db.open()) {
        std::printf("  %s\n", qPrintable(db.lastError().text()));
        return false;
    }
    const qint64 firstHour = (nowUtcMs - 30 * 24 * hourMs) / hourMs * hourMs;
    const qint64 foldedEnd = (nowUtcMs - hourMs) / hourMs * hourMs;
    std::vector<float> points(size_t(ArchiveStore::periodsPerHour) * 6);
    for (size_t k = 0; k < points.size(); ++k)
        points[k] = float(k % 6 < 3 ? 1000 + k % 3 : 1e-6 * (1 + k % 3));
    const QByteArray blob(reinterpret_cast<const char*>(points.data()), int(points.size() * sizeof(float)));
    QElapsedTimer took;
    took.start();
    QSqlQuery insert(db);
    db.transaction();
    insert.prepare(QStringLiteral("INSERT INTO folded (station, module, channel, hour_ms, points) VALUES (?, ?, ?, ?, ?)"));
    qint64 rows = 0;
    for (qint64 hour = firstHour; hour < foldedEnd; hour += hourMs) {
        for (int module = 0; module < modules; ++module) {
            for (int channel = 0; channel < channels; ++channel) {
                insert.addBindValue(settings.station);
                insert.addBindValue(moduleKey(module));
                insert.addBindValue(channel);
                insert.addBindValue(hour);
                insert.addBindValue(blob);
                if (!insert.exec()) {
                    std::printf("  %s\n", qPrintable(insert.lastError().text()));
                    return false;
                }
                ++rows;
            }
        }
        if (rows % 20000 < qint64(modules) * channels) {
            db.commit();
            db.transaction();
        }
    }
    db.commit();
    insert = QSqlQuery();
    // The last hour at full rate, and 20 events an hour per module over the 30 days.
    QVector<ArchiveReading> reads;
    for (qint64 at = foldedEnd; at < nowUtcMs; at += 200) {
        for (int module = 0; module < modules; ++module)
            reads.append(ArchiveReading{moduleKey(module), at, QVector<float>(2 * channels, 1000.0f)});
    }
    QVector<ArchiveEvent> events;
    for (qint64 at = firstHour; at < nowUtcMs; at += hourMs / 20) {
        for (int module = 0; module < modules; ++module) {
            ArchiveEvent event;
            event.atUtcMs = at + module;
            event.crate = QStringLiteral("10.0.0.7");
            event.address = QStringLiteral("Slot %1").arg(module);
            event.serialNumber = 1000 + module;
            event.channel = int((at / (hourMs / 20)) % channels);
            event.kind = event.channel % 3 ? EventKind::rampEnded : EventKind::currentTrip;
            event.voltageSet = 1000;
            event.currentMeasured = 1e-3f;
            events.append(event);
        }
    }
    if (!store.write(events, reads, &error)) {
        std::printf("  %s\n", qPrintable(error));
        return false;
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("generate"));
    std::printf("  generated: %lld folded rows, %lld reads, %lld events in %.1f s; database %.0f MB\n", rows,
        qint64(reads.size()), qint64(events.size()), double(took.elapsed()) / 1000, double(sizeOf(settings)) / 1e6);
    return true;
}

void measureQueries(const ArchiveSettings& settings, int modules)
{
    const qint64 nowUtcMs = QDateTime::currentMSecsSinceEpoch();
    if (!generate(settings, modules, nowUtcMs))
        return;
    ArchiveStore store(settings);
    QString error;
    if (!store.open(&error)) {
        std::printf("  %s\n", qPrintable(error));
        return;
    }
    const auto report = [](const char* what, std::vector<double> ms, size_t found) {
        std::sort(ms.begin(), ms.end());
        std::printf("  %s: median %.1f ms, worst %.1f ms (%zu found)\n", what, ms[ms.size() / 2], ms.back(), found);
    };
    std::vector<double> tripsMs;
    std::vector<double> curveMs;
    size_t trips = 0;
    size_t points = 0;
    for (int run = 0; run < 20; ++run) {
        EventFilter filter;
        filter.fromUtcMs = nowUtcMs - 24 * hourMs;
        filter.channel = 36;
        filter.kinds = EventKind::trips();
        QVector<ArchiveEvent> found;
        QElapsedTimer took;
        took.start();
        store.events(filter, &found, &error);
        tripsMs.push_back(double(took.nsecsElapsed()) / 1e6);
        trips = size_t(found.size());
        std::vector<ChannelHistory::Point> curve;
        took.restart();
        store.curve(moduleKey(0), 36, nowUtcMs - 7 * 24 * hourMs, nowUtcMs, &curve, &error);
        curveMs.push_back(double(took.nsecsElapsed()) / 1e6);
        points = curve.size();
    }
    report("trips of one channel in 24 h", tripsMs, trips);
    report("one channel's curve over 7 days", curveMs, points);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QStringList arguments = app.arguments();
    const auto option = [&](const char* name, int fallback) {
        const int at = int(arguments.indexOf(QLatin1String(name)));
        return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : fallback;
    };
    const int seconds = option("--seconds", 30);
    const int modules = option("--modules", 2);

    QTemporaryDir folder;
    ArchiveSettings sqlite;
    sqlite.station = QStringLiteral("bench");
    sqlite.database = folder.filePath(QStringLiteral("write.sqlite"));
    std::printf("SQLite (WAL):\n");
    measureWriting(sqlite, seconds);
    sqlite.database = folder.filePath(QStringLiteral("query.sqlite"));
    measureQueries(sqlite, modules);
    QFile::remove(sqlite.database);

    if (arguments.contains(QStringLiteral("--sqlite-only")))
        return 0;
    PostgresServer server;
    QString error;
    if (!server.start(&error)) {
        std::printf("PostgreSQL: not measured: %s\n", qPrintable(error));
        return 0;
    }
    ArchiveSettings postgres = server.archiveSettings(QStringLiteral("bench"));
    std::printf("PostgreSQL (own server on 127.0.0.1, fsync off):\n");
    measureWriting(postgres, seconds);
    postgres.station = QStringLiteral("bench-query");
    measureQueries(postgres, modules);
    return 0;
}
