#include "device/ArchiveStore.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
const float notRead = std::numeric_limits<float>::quiet_NaN();
constexpr int valuesPerPeriod = 6; // voltage min, max, mean, current min, max, mean
constexpr qint64 chunkBytes = qint64(ArchiveStore::periodsPerHour) * valuesPerPeriod * sizeof(float);

QAtomicInteger<int> connectionCounter;

QVariant realOrNull(float value)
{
    return std::isnan(value) ? QVariant(QMetaType::fromType<double>()) : QVariant(double(value));
}

float realOf(const QVariant& value)
{
    return value.isNull() ? notRead : value.toFloat();
}

QByteArray bytesOf(const float* values, int count)
{
    return QByteArray(reinterpret_cast<const char*>(values), count * int(sizeof(float)));
}

std::vector<float> floatsOf(const QByteArray& bytes)
{
    std::vector<float> values(size_t(bytes.size()) / sizeof(float));
    if (!values.empty())
        std::memcpy(values.data(), bytes.constData(), values.size() * sizeof(float));
    return values;
}

qint64 hourOf(qint64 utcMs)
{
    return utcMs - ((utcMs % ArchiveStore::hourMs) + ArchiveStore::hourMs) % ArchiveStore::hourMs;
}

ChannelHistory::Point gapAt(qint64 atMs)
{
    ChannelHistory::Point gap;
    gap.atMs = atMs;
    gap.voltageMin = gap.voltageMax = gap.voltageMean = notRead;
    gap.currentMin = gap.currentMax = gap.currentMean = notRead;
    return gap;
}
} // namespace

ArchiveStore::ArchiveStore(const ArchiveSettings& settings)
    : m_settings(settings)
    , m_connection(QStringLiteral("tesmar-archive-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
}

ArchiveStore::~ArchiveStore()
{
    close();
}

QString ArchiveStore::moduleKey(const QString& crate, const QString& address, int serialNumber)
{
    return QStringLiteral("%1|%2|%3").arg(crate, address).arg(serialNumber);
}

QString ArchiveStore::failure(const QString& what, const QString& reason) const
{
    return QStringLiteral("Archive %1: %2: %3").arg(m_settings.description(), what, reason.trimmed());
}

bool ArchiveStore::open(QString* error)
{
    close();
    // Closed only after every handle of the connection (in openConnection) is gone.
    if (openConnection(error))
        return true;
    close();
    return false;
}

bool ArchiveStore::openConnection(QString* error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(m_settings.driver, m_connection);
    if (!db.isValid()) {
        *error = failure(QStringLiteral("no Qt SQL driver"), m_settings.driver);
        return false;
    }
    if (m_settings.isSqlite()) {
        const QFileInfo file(m_settings.database);
        if (!QDir().mkpath(file.absolutePath())) {
            *error = failure(QStringLiteral("cannot create the folder"), file.absolutePath());
            return false;
        }
        db.setDatabaseName(m_settings.database);
        // A writer that holds the file (another program) makes us wait this long, then fail.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    } else {
        db.setHostName(m_settings.host);
        db.setPort(m_settings.port);
        db.setDatabaseName(m_settings.database);
        db.setUserName(m_settings.user);
        db.setPassword(m_settings.password);
        db.setConnectOptions(QStringLiteral("connect_timeout=3"));
    }
    if (!db.open()) {
        *error = failure(QStringLiteral("cannot be opened"), db.lastError().text());
        return false;
    }
    m_open = true;
    if (m_settings.isSqlite()) {
        QSqlQuery mode(db);
        if (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !mode.next()) {
            *error = failure(QStringLiteral("cannot be used (locked or not a database)"), mode.lastError().text());
            return false;
        }
        exec(QStringLiteral("PRAGMA synchronous=NORMAL"), error);
    } else {
        // "already exists, skipping" of every start is no news.
        exec(QStringLiteral("SET client_min_messages TO WARNING"), error);
    }
    return createSchema(error);
}

void ArchiveStore::close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_open = false;
}

bool ArchiveStore::exec(const QString& statement, QString* error)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(statement))
        return true;
    *error = failure(QStringLiteral("cannot be written"), query.lastError().text());
    return false;
}

bool ArchiveStore::createSchema(QString* error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const bool sqlite = m_settings.isSqlite();
    const QString id = sqlite ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("BIGSERIAL PRIMARY KEY");
    const QString blob = sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA");
    if (!db.transaction()) {
        *error = failure(QStringLiteral("cannot be used (locked or not a database)"), db.lastError().text());
        return false;
    }
    // Stations sharing one server create the tables one after the other.
    if (!sqlite && !exec(QStringLiteral("SELECT pg_advisory_xact_lock(715001)"), error)) {
        db.rollback();
        return false;
    }
    const QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS events (id %1, station TEXT NOT NULL, at_ms BIGINT NOT NULL, "
                       "crate TEXT, address TEXT, serial INTEGER, channel INTEGER, kind TEXT NOT NULL, detail TEXT, "
                       "voltage_set REAL, voltage_measured REAL, current_set REAL, current_measured REAL)")
            .arg(id),
        QStringLiteral("CREATE INDEX IF NOT EXISTS events_time ON events (at_ms)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS events_channel ON events (address, channel, at_ms)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS readings (station TEXT NOT NULL, module TEXT NOT NULL, "
                       "at_ms BIGINT NOT NULL, vi %1 NOT NULL)")
            .arg(blob),
        QStringLiteral("CREATE INDEX IF NOT EXISTS readings_module ON readings (station, module, at_ms)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS folded (station TEXT NOT NULL, module TEXT NOT NULL, "
                       "channel INTEGER NOT NULL, hour_ms BIGINT NOT NULL, points %1 NOT NULL, "
                       "PRIMARY KEY (station, module, channel, hour_ms))")
            .arg(blob),
    };
    for (const QString& statement : statements) {
        if (!exec(statement, error)) {
            db.rollback();
            return false;
        }
    }
    QSqlQuery version(db);
    if (!version.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !version.next()) {
        *error = failure(QStringLiteral("cannot be read"), version.lastError().text());
        db.rollback();
        return false;
    }
    const int found = version.value(0).isNull() ? 0 : version.value(0).toInt();
    version.finish();
    if (found > schemaVersion) {
        *error = failure(QStringLiteral("was written by a newer program"),
            QStringLiteral("schema version %1, this program knows %2").arg(found).arg(schemaVersion));
        db.rollback();
        return false;
    }
    if (found == 0 && !exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(schemaVersion), error)) {
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        *error = failure(QStringLiteral("cannot be written"), db.lastError().text());
        return false;
    }
    return true;
}

bool ArchiveStore::write(const QVector<ArchiveEvent>& events, const QVector<ArchiveReading>& readings, QString* error)
{
    if (!m_open) {
        *error = failure(QStringLiteral("is not open"), QString());
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction()) {
        *error = failure(QStringLiteral("cannot be written"), db.lastError().text());
        return false;
    }
    QSqlQuery insertEvent(db);
    insertEvent.prepare(
        QStringLiteral("INSERT INTO events (station, at_ms, crate, address, serial, channel, kind, detail, voltage_set, "
                       "voltage_measured, current_set, current_measured) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const ArchiveEvent& event : events) {
        insertEvent.addBindValue(event.station.isEmpty() ? m_settings.station : event.station);
        insertEvent.addBindValue(event.atUtcMs);
        insertEvent.addBindValue(event.crate);
        insertEvent.addBindValue(event.address);
        insertEvent.addBindValue(event.serialNumber);
        insertEvent.addBindValue(event.channel);
        insertEvent.addBindValue(event.kind);
        insertEvent.addBindValue(event.detail);
        insertEvent.addBindValue(realOrNull(event.voltageSet));
        insertEvent.addBindValue(realOrNull(event.voltageMeasured));
        insertEvent.addBindValue(realOrNull(event.currentSet));
        insertEvent.addBindValue(realOrNull(event.currentMeasured));
        if (!insertEvent.exec()) {
            *error = failure(QStringLiteral("cannot be written"), insertEvent.lastError().text());
            db.rollback();
            return false;
        }
    }
    QSqlQuery insertReading(db);
    insertReading.prepare(QStringLiteral("INSERT INTO readings (station, module, at_ms, vi) VALUES (?, ?, ?, ?)"));
    for (const ArchiveReading& reading : readings) {
        insertReading.addBindValue(m_settings.station);
        insertReading.addBindValue(reading.module);
        insertReading.addBindValue(reading.atUtcMs);
        insertReading.addBindValue(bytesOf(reading.values.constData(), int(reading.values.size())));
        if (!insertReading.exec()) {
            *error = failure(QStringLiteral("cannot be written"), insertReading.lastError().text());
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        *error = failure(QStringLiteral("cannot be written"), db.lastError().text());
        db.rollback();
        return false;
    }
    return true;
}

bool ArchiveStore::events(const EventFilter& filter, QVector<ArchiveEvent>* out, QString* error)
{
    out->clear();
    if (!m_open) {
        *error = failure(QStringLiteral("is not open"), QString());
        return false;
    }
    QString where = QStringLiteral("at_ms >= ? AND at_ms <= ?");
    QVariantList values = {filter.fromUtcMs, filter.toUtcMs};
    if (!filter.crate.isEmpty()) {
        where += QStringLiteral(" AND crate = ?");
        values << filter.crate;
    }
    if (!filter.address.isEmpty()) {
        where += QStringLiteral(" AND address = ?");
        values << filter.address;
    }
    if (filter.serialNumber >= 0) {
        where += QStringLiteral(" AND serial = ?");
        values << filter.serialNumber;
    }
    if (filter.channel >= 0) {
        where += QStringLiteral(" AND channel = ?");
        values << filter.channel;
    }
    if (!filter.kinds.isEmpty()) {
        QStringList marks;
        for (const QString& kind : filter.kinds) {
            marks << QStringLiteral("?");
            values << kind;
        }
        where += QStringLiteral(" AND kind IN (%1)").arg(marks.join(QLatin1Char(',')));
    }
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT at_ms, station, crate, address, serial, channel, kind, detail, voltage_set, "
                                 "voltage_measured, current_set, current_measured FROM events WHERE %1 "
                                 "ORDER BY at_ms DESC, id DESC LIMIT %2")
                      .arg(where)
                      .arg(qMax(1, filter.limit)));
    for (const QVariant& value : std::as_const(values))
        query.addBindValue(value);
    if (!query.exec()) {
        *error = failure(QStringLiteral("cannot be read"), query.lastError().text());
        return false;
    }
    while (query.next()) {
        ArchiveEvent event;
        event.atUtcMs = query.value(0).toLongLong();
        event.station = query.value(1).toString();
        event.crate = query.value(2).toString();
        event.address = query.value(3).toString();
        event.serialNumber = query.value(4).toInt();
        event.channel = query.value(5).toInt();
        event.kind = query.value(6).toString();
        event.detail = query.value(7).toString();
        event.voltageSet = realOf(query.value(8));
        event.voltageMeasured = realOf(query.value(9));
        event.currentSet = realOf(query.value(10));
        event.currentMeasured = realOf(query.value(11));
        out->append(event);
    }
    return true;
}

bool ArchiveStore::curve(const QString& module, int channel, qint64 fromUtcMs, qint64 toUtcMs,
    std::vector<ChannelHistory::Point>* out, QString* error)
{
    out->clear();
    if (!m_open) {
        *error = failure(QStringLiteral("is not open"), QString());
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // Appends a point, or one gap point for a run of periods without a read.
    const auto add = [out](const ChannelHistory::Point& point) {
        if (point.isGap() && !out->empty() && out->back().isGap())
            return;
        if (!point.isGap() && !out->empty() && !out->back().isGap()) {
            const ChannelHistory::Point& last = out->back();
            if (point.atMs - (last.atMs + last.durationMs) > ChannelHistory::gapAfterMs)
                out->push_back(gapAt(last.atMs + last.durationMs));
        }
        out->push_back(point);
    };

    QSqlQuery folded(db);
    folded.setForwardOnly(true);
    folded.prepare(QStringLiteral("SELECT hour_ms, points FROM folded WHERE station = ? AND module = ? AND channel = ? "
                                  "AND hour_ms >= ? AND hour_ms <= ? ORDER BY hour_ms"));
    for (const QVariant& value :
        {QVariant(m_settings.station), QVariant(module), QVariant(channel), QVariant(hourOf(fromUtcMs)), QVariant(toUtcMs)})
        folded.addBindValue(value);
    if (!folded.exec()) {
        *error = failure(QStringLiteral("cannot be read"), folded.lastError().text());
        return false;
    }
    while (folded.next()) {
        const qint64 hourMs = folded.value(0).toLongLong();
        const std::vector<float> values = floatsOf(folded.value(1).toByteArray());
        for (int period = 0; period < periodsPerHour && size_t(period + 1) * valuesPerPeriod <= values.size(); ++period) {
            ChannelHistory::Point point;
            point.atMs = hourMs + period * ChannelHistory::foldedPeriodMs;
            point.durationMs = ChannelHistory::foldedPeriodMs;
            if (point.atMs + point.durationMs <= fromUtcMs || point.atMs > toUtcMs)
                continue;
            const float* v = values.data() + size_t(period) * valuesPerPeriod;
            point.voltageMin = v[0];
            point.voltageMax = v[1];
            point.voltageMean = v[2];
            point.currentMin = v[3];
            point.currentMax = v[4];
            point.currentMean = v[5];
            add(point);
        }
    }

    // Only the channel's voltage and current of each read (8 bytes from 1-based offset).
    QSqlQuery reads(db);
    reads.setForwardOnly(true);
    reads.prepare(QStringLiteral("SELECT at_ms, substr(vi, ?, 8) FROM readings WHERE station = ? AND module = ? "
                                 "AND at_ms >= ? AND at_ms <= ? ORDER BY at_ms"));
    for (const QVariant& value :
        {QVariant(channel * 8 + 1), QVariant(m_settings.station), QVariant(module), QVariant(fromUtcMs), QVariant(toUtcMs)})
        reads.addBindValue(value);
    if (!reads.exec()) {
        *error = failure(QStringLiteral("cannot be read"), reads.lastError().text());
        return false;
    }
    while (reads.next()) {
        const QByteArray bytes = reads.value(1).toByteArray();
        ChannelHistory::Point point;
        point.atMs = reads.value(0).toLongLong();
        float vi[2] = {notRead, notRead};
        if (bytes.size() >= qsizetype(sizeof(vi)))
            std::memcpy(vi, bytes.constData(), sizeof(vi));
        point.voltageMin = point.voltageMax = point.voltageMean = vi[0];
        point.currentMin = point.currentMax = point.currentMean = vi[1];
        add(point);
    }
    return true;
}

bool ArchiveStore::fold(qint64 nowUtcMs, QString* error)
{
    if (!m_open) {
        *error = failure(QStringLiteral("is not open"), QString());
        return false;
    }
    const qint64 foldBefore = hourOf(nowUtcMs - ChannelHistory::fullRateForMs);
    QSqlQuery due(QSqlDatabase::database(m_connection, false));
    due.prepare(QStringLiteral("SELECT module, MIN(at_ms) FROM readings WHERE station = ? AND at_ms < ? GROUP BY module"));
    due.addBindValue(m_settings.station);
    due.addBindValue(foldBefore);
    if (!due.exec()) {
        *error = failure(QStringLiteral("cannot be read"), due.lastError().text());
        return false;
    }
    QVector<QPair<QString, qint64>> modules;
    while (due.next())
        modules.append({due.value(0).toString(), hourOf(due.value(1).toLongLong())});
    due.finish();
    for (const auto& [module, firstHour] : std::as_const(modules)) {
        for (qint64 hour = firstHour; hour < foldBefore; hour += hourMs) {
            if (!foldHour(module, hour, error))
                return false;
        }
    }
    return true;
}

bool ArchiveStore::foldHour(const QString& module, qint64 hourUtcMs, QString* error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction()) {
        *error = failure(QStringLiteral("cannot be written"), db.lastError().text());
        return false;
    }
    const auto fail = [&](const QSqlQuery& query) {
        *error = failure(QStringLiteral("cannot be folded"), query.lastError().text());
        db.rollback();
        return false;
    };
    QSqlQuery reads(db);
    reads.setForwardOnly(true);
    reads.prepare(QStringLiteral(
        "SELECT at_ms, vi FROM readings WHERE station = ? AND module = ? AND at_ms >= ? AND at_ms < ? ORDER BY at_ms"));
    for (const QVariant& value :
        {QVariant(m_settings.station), QVariant(module), QVariant(hourUtcMs), QVariant(hourUtcMs + hourMs)})
        reads.addBindValue(value);
    if (!reads.exec())
        return fail(reads);
    // Per channel and period: minimum, maximum, sum and count of voltage and current.
    struct Sums
    {
        float minimum[2] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max()};
        float maximum[2] = {std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest()};
        double sum[2] = {0, 0};
        int count[2] = {0, 0};
    };
    std::vector<std::vector<Sums>> channels;
    while (reads.next()) {
        const int period = int((reads.value(0).toLongLong() - hourUtcMs) / ChannelHistory::foldedPeriodMs);
        const std::vector<float> values = floatsOf(reads.value(1).toByteArray());
        const size_t channelCount = values.size() / 2;
        if (channels.size() < channelCount)
            channels.resize(channelCount, std::vector<Sums>(size_t(periodsPerHour)));
        for (size_t channel = 0; channel < channelCount; ++channel) {
            Sums& sums = channels[channel][size_t(period)];
            for (int quantity = 0; quantity < 2; ++quantity) {
                const float value = values[channel * 2 + size_t(quantity)];
                if (std::isnan(value))
                    continue;
                sums.minimum[quantity] = std::min(sums.minimum[quantity], value);
                sums.maximum[quantity] = std::max(sums.maximum[quantity], value);
                sums.sum[quantity] += value;
                ++sums.count[quantity];
            }
        }
    }
    reads.finish();

    QSqlQuery existing(db);
    existing.prepare(
        QStringLiteral("SELECT points FROM folded WHERE station = ? AND module = ? AND channel = ? AND hour_ms = ?"));
    QSqlQuery store(db);
    store.prepare(QStringLiteral("INSERT INTO folded (station, module, channel, hour_ms, points) VALUES (?, ?, ?, ?, ?) "
                                 "ON CONFLICT (station, module, channel, hour_ms) DO UPDATE SET points = excluded.points"));
    for (size_t channel = 0; channel < channels.size(); ++channel) {
        std::vector<float> points(size_t(periodsPerHour) * valuesPerPeriod, notRead);
        // Periods folded before (reads of the same hour written after a restart) are kept.
        for (const QVariant& value :
            {QVariant(m_settings.station), QVariant(module), QVariant(int(channel)), QVariant(hourUtcMs)})
            existing.addBindValue(value);
        if (!existing.exec())
            return fail(existing);
        if (existing.next()) {
            const std::vector<float> before = floatsOf(existing.value(0).toByteArray());
            std::copy_n(before.begin(), std::min(before.size(), points.size()), points.begin());
        }
        existing.finish();
        for (int period = 0; period < periodsPerHour; ++period) {
            const Sums& sums = channels[channel][size_t(period)];
            float* v = points.data() + size_t(period) * valuesPerPeriod;
            for (int quantity = 0; quantity < 2; ++quantity) {
                if (!sums.count[quantity])
                    continue;
                v[quantity * 3] = sums.minimum[quantity];
                v[quantity * 3 + 1] = sums.maximum[quantity];
                v[quantity * 3 + 2] = float(sums.sum[quantity] / sums.count[quantity]);
            }
        }
        for (const QVariant& value : {QVariant(m_settings.station), QVariant(module), QVariant(int(channel)),
                 QVariant(hourUtcMs), QVariant(bytesOf(points.data(), int(points.size())))})
            store.addBindValue(value);
        if (!store.exec())
            return fail(store);
    }
    QSqlQuery remove(db);
    remove.prepare(QStringLiteral("DELETE FROM readings WHERE station = ? AND module = ? AND at_ms >= ? AND at_ms < ?"));
    for (const QVariant& value :
        {QVariant(m_settings.station), QVariant(module), QVariant(hourUtcMs), QVariant(hourUtcMs + hourMs)})
        remove.addBindValue(value);
    if (!remove.exec())
        return fail(remove);
    if (!db.commit()) {
        *error = failure(QStringLiteral("cannot be written"), db.lastError().text());
        db.rollback();
        return false;
    }
    return true;
}

qint64 ArchiveStore::measurementBytes(QString* error)
{
    QSqlQuery size(QSqlDatabase::database(m_connection, false));
    size.prepare(QStringLiteral("SELECT (SELECT COUNT(*) FROM folded WHERE station = ?), "
                                "(SELECT COUNT(*) FROM readings WHERE station = ?)"));
    size.addBindValue(m_settings.station);
    size.addBindValue(m_settings.station);
    if (!size.exec() || !size.next()) {
        *error = failure(QStringLiteral("cannot be read"), size.lastError().text());
        return -1;
    }
    // Folded rows have a fixed size; a read of 48 channels takes 384 bytes.
    return size.value(0).toLongLong() * chunkBytes + size.value(1).toLongLong() * 400;
}

bool ArchiveStore::prune(qint64 nowUtcMs, QString* error)
{
    if (!m_open) {
        *error = failure(QStringLiteral("is not open"), QString());
        return false;
    }
    const qint64 keepFromMs = nowUtcMs - qint64(m_settings.retentionDays) * 24 * hourMs;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery remove(db);
    for (const QString& statement : {QStringLiteral("DELETE FROM events WHERE station = ? AND at_ms < ?"),
             QStringLiteral("DELETE FROM folded WHERE station = ? AND hour_ms < ?"),
             QStringLiteral("DELETE FROM readings WHERE station = ? AND at_ms < ?")}) {
        remove.prepare(statement);
        remove.addBindValue(m_settings.station);
        remove.addBindValue(statement.contains(QLatin1String("folded")) ? keepFromMs - hourMs : keepFromMs);
        if (!remove.exec()) {
            *error = failure(QStringLiteral("cannot be pruned"), remove.lastError().text());
            return false;
        }
    }
    const qint64 boundBytes = m_settings.maxSizeMb * 1024 * 1024;
    for (int round = 0; round < 1000; ++round) {
        const qint64 bytes = measurementBytes(error);
        if (bytes < 0)
            return false;
        if (bytes <= boundBytes)
            return true;
        QSqlQuery oldest(db);
        oldest.prepare(QStringLiteral("SELECT MIN(hour_ms) FROM folded WHERE station = ?"));
        oldest.addBindValue(m_settings.station);
        if (!oldest.exec() || !oldest.next() || oldest.value(0).isNull())
            return true; // only the last hours' reads are left: they stay
        const qint64 hour = oldest.value(0).toLongLong();
        oldest.finish();
        remove.prepare(QStringLiteral("DELETE FROM folded WHERE station = ? AND hour_ms <= ?"));
        remove.addBindValue(m_settings.station);
        remove.addBindValue(hour);
        if (!remove.exec()) {
            *error = failure(QStringLiteral("cannot be pruned"), remove.lastError().text());
            return false;
        }
    }
    return true;
}
