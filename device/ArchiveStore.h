#pragma once

#include "device/ArchiveEvent.h"
#include "device/ArchiveSettings.h"
#include "device/ChannelHistory.h"

#include <QString>
#include <QVector>

#include <vector>

// One read of every channel of one module for the measurement archive: volts and amperes
// interleaved (voltage 0, current 0, voltage 1, ...), NaN where the read did not reach a channel.
struct ArchiveReading
{
    QString module; // ArchiveStore::moduleKey()
    qint64 atUtcMs = 0;
    QVector<float> values;
};

// The event log and measurement archive in one SQL database (SQLite or PostgreSQL through Qt
// SQL). Measurements are kept as the trends keep them: every read of the last hour (one row per
// module and read), and beyond that, folded per channel into one point per 10 s with minimum,
// maximum and mean (one row per channel and hour). Every row carries the station that wrote it;
// curves are of this station's reads, events of all stations.
//
// Not thread-safe: a store is opened, used and closed in one thread (Qt SQL's rule for a
// connection).
class ArchiveStore
{
public:
    static constexpr int schemaVersion = 1;
    static constexpr qint64 hourMs = 3600 * 1000;
    static constexpr int periodsPerHour = int(hourMs / ChannelHistory::foldedPeriodMs);

    explicit ArchiveStore(const ArchiveSettings& settings);
    ~ArchiveStore();
    ArchiveStore(const ArchiveStore&) = delete;
    ArchiveStore& operator=(const ArchiveStore&) = delete;

    const ArchiveSettings& settings() const { return m_settings; }

    // Opens the database, creates or checks the schema; false with the reason (cannot be
    // opened, locked, corrupt, a newer schema).
    bool open(QString* error);
    bool isOpen() const { return m_open; }
    void close();

    // Writes the events and readings in one transaction; false (and nothing written) on failure.
    bool write(const QVector<ArchiveEvent>& events, const QVector<ArchiveReading>& readings, QString* error);

    bool events(const EventFilter& filter, QVector<ArchiveEvent>* out, QString* error);
    // This station's points of one channel within [fromUtcMs, toUtcMs], oldest first: folded
    // periods where the reads are older than an hour, reads after that, with a gap point (NaN)
    // where nothing was read.
    bool curve(const QString& module, int channel, qint64 fromUtcMs, qint64 toUtcMs, std::vector<ChannelHistory::Point>* out,
        QString* error);

    // Folds this station's reads of every whole hour that ended more than an hour before
    // `nowUtcMs` and deletes those reads.
    bool fold(qint64 nowUtcMs, QString* error);
    // Deletes what is older than the retention time, then this station's oldest folded hours
    // while its measurements take more than the size bound.
    bool prune(qint64 nowUtcMs, QString* error);
    // Bytes this station's measurements take (approximately: the stored values).
    qint64 measurementBytes(QString* error);

    // "crate|address|serial": how a module's rows are keyed.
    static QString moduleKey(const QString& crate, const QString& address, int serialNumber);

private:
    bool openConnection(QString* error);
    bool exec(const QString& statement, QString* error);
    bool createSchema(QString* error);
    bool foldHour(const QString& module, qint64 hourUtcMs, QString* error);
    QString failure(const QString& what, const QString& reason) const;

    ArchiveSettings m_settings;
    QString m_connection;
    bool m_open = false;
};
