#pragma once

#include "device/ArchiveEvent.h"
#include "device/ChannelReading.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVector>

class Archive;
class DeviceSession;
class TrendRecorder;
struct ModuleSnapshot;

// Turns what the poller reads into events for the archive, whether or not a window shows the
// module: channel status bits that came on (trip, bounds, limits, inhibit, emergency off) and
// ramps that ended, modules found, lost, not answering and answering again, the crate not
// answering, its power going off and on, current alarms firing and acknowledged, connecting and
// disconnecting, and scripts started and stopped (told by whoever runs them).
//
// Only what was read counts: a channel's bits are compared only between complete reads of fresh
// snapshots, so a crate that stops answering gives "not connected" and never a trip; the first
// read of a module sets what is known without an event. Channel events carry the set and
// measured voltage and current of the read that showed them. It keeps every module's channels
// read, at least once a second, while it exists (the log must not depend on the windows that are
// open).
//
// Lives in the GUI thread, with the session.
class EventLog : public QObject
{
    Q_OBJECT
public:
    // How often modules and the crate are looked at for "not connected".
    static constexpr int checkMs = 1000;

    EventLog(DeviceSession* session, TrendRecorder* trends, Archive* archive, QObject* parent = nullptr);
    ~EventLog() override;

    void scriptStarted(const QString& name);
    void scriptStopped(const QString& name, const QString& result);

    // The latest trip, bounds, limit, inhibit, emergency-off or alarm event of a channel of module
    // `moduleIndex` in the session's list, from this run or from the archive; kind empty when none.
    ArchiveEvent latestChannelEvent(int moduleIndex, int channel) const;

    // Converts a time on ModuleSnapshot::nowMs()'s clock to UTC milliseconds.
    static qint64 utcOf(qint64 monotonicMs);

signals:
    void eventRecorded(const ArchiveEvent& event);

private:
    struct ModuleState
    {
        QString crate;
        QString address;
        int serialNumber = 0;
        QVector<quint32> status; // of the latest complete read per channel
        QVector<bool> known;
        QVector<ChannelReading> previous; // the read before, for what led to a trip
        qint64 lastReadMs = -1;
        bool connected = true;
    };

    void takeModules();
    void onModulePublished(int moduleIndex);
    void onCratePublished();
    void checkConnections();
    void onAlarm(int moduleIndex, int channel, bool fired);
    void record(ArchiveEvent event);
    ArchiveEvent moduleEvent(const ModuleState& module, const QString& kind) const;
    // Fills the latest channel events of the crate's modules from the archive.
    void recallLatest();
    static QString keyOf(const QString& address, int serialNumber);

    QPointer<DeviceSession> m_session;
    QPointer<TrendRecorder> m_trends;
    Archive* m_archive;
    QString m_crate;
    QVector<ModuleState> m_modules;
    bool m_crateAnswered = true;
    int m_cratePower = -1; // -1 unknown, 0 off, 1 on
    QTimer m_check;
    // address|serial -> channel -> latest trip-like event.
    QHash<QString, QHash<int, ArchiveEvent>> m_latest;
};
