#pragma once

#include "device/ChannelHistory.h"
#include "device/ChannelStateLog.h"
#include "device/CurrentAlarms.h"
#include "device/WriteJournal.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <memory>

class Archive;
class DeviceSession;
struct ModuleSnapshot;

// Which module a history belongs to, across rediscoveries: the crate address, the module's
// place ("Slot 3"), firmware name, serial number and channel count. Two modules that report
// the same serial number (0 on some modules) in different slots are different modules.
struct ModuleIdentity
{
    QString crateAddress;
    QString address;
    QString firmwareName;
    int serialNumber = 0;
    int channels = 0;

    bool operator==(const ModuleIdentity& other) const
    {
        return serialNumber == other.serialNumber && channels == other.channels && address == other.address
            && firmwareName == other.firmwareName && crateAddress == other.crateAddress;
    }
    // "Slot 3" with the serial number when the module has one.
    QString text() const;
};
size_t qHash(const ModuleIdentity& identity, size_t seed = 0);

// Records the measured voltages and currents of every module the poller reads into a history
// per module, the set values and status of its channels as changes (ChannelStateLog), and feeds
// the current alarms of each module from the same reads; it asks the crate nothing itself. Fed from the snapshots the
// session's poller publishes (each read once); a channel the read did not reach is a gap in its history and no reading for
// its alarm. History and alarms stay with the module's identity across rediscoveries; a module not read for 24 h is
// forgotten. Current limits come from CurrentLimitSettings by serial number; every change of a limit is a line of the write
// journal (quantity "current alarm limit", result "ok" or why it could not be stored).
//
// Lives in the GUI thread, with the session.
class TrendRecorder : public QObject
{
    Q_OBJECT
public:
    struct ActiveAlarm
    {
        ModuleIdentity module;
        int moduleIndex = -1; // in the session's list; -1 when the module is not in it
        int channel = 0;
        CurrentAlarms::Channel state;
    };

    explicit TrendRecorder(DeviceSession* session, QObject* parent = nullptr);
    ~TrendRecorder() override;

    // Of module `moduleIndex` of the session's current list; null (or empty) without one.
    const ChannelHistory* history(int moduleIndex) const;
    const ChannelStateLog* states(int moduleIndex) const;
    const CurrentAlarms* alarms(int moduleIndex) const;
    ModuleIdentity identity(int moduleIndex) const;

    // Sets a channel's limit, stores it under the module's serial number and applies it to every
    // module with that serial number (their settings are the same). A changed limit clears the
    // channel's alarm.
    void setCurrentLimit(int moduleIndex, int channel, const CurrentLimit& limit);
    // Acknowledges the alarms of these channels; returns how many there were.
    int acknowledge(int moduleIndex, const QList<int>& channels);
    // Every alarm of every module, in the order of the modules' first read and channel.
    QList<ActiveAlarm> activeAlarms() const;

    // Writes every recorded read into `archive` as well (null: none); it must outlive the recorder
    // or be unset first.
    void setArchive(Archive* archive) { m_archive = archive; }
    Archive* archive() const { return m_archive; }
    // The archive's key of module `moduleIndex`; empty without one.
    QString archiveKey(int moduleIndex) const;

    // Bytes held by every history.
    size_t memoryBytes() const;

    // Records one snapshot of module `moduleIndex`: its channels once per read.
    void record(int moduleIndex, const ModuleSnapshot& snapshot);

signals:
    void recorded(int moduleIndex);
    // An alarm fired or was acknowledged, or a limit changed.
    void alarmsChanged();
    // One channel's alarm fired (`state` as it fired) or was acknowledged by the operator.
    void alarmFired(const ModuleIdentity& module, int channel, const CurrentAlarms::Channel& state);
    void alarmAcknowledged(const ModuleIdentity& module, int channel);
    // The same by the module's index in the session (after alarmsChanged).
    void alarmFiredOnModule(int moduleIndex, int channel);
    void alarmAcknowledgedOnModule(int moduleIndex, int channel);

private:
    struct Record
    {
        explicit Record(const ModuleIdentity& id)
            : identity(id)
            , history(id.channels)
            , states(id.channels)
            , alarms(id.channels)
        {
        }
        ModuleIdentity identity;
        // The module as the write journal names it (for the lines of limit changes).
        JournalWrite journalPlace;
        ChannelHistory history;
        ChannelStateLog states;
        CurrentAlarms alarms;
        qint64 lastReadMs = -1;
        quint64 order = 0;
    };

    void takeModules();
    void forgetModules();
    void onPublished(int moduleIndex);
    Record* recordOf(int moduleIndex) const;

    QPointer<DeviceSession> m_session;
    Archive* m_archive = nullptr;
    QHash<ModuleIdentity, std::shared_ptr<Record>> m_records;
    QVector<Record*> m_current; // by index in the session's module list
    quint64 m_nextOrder = 0;
    std::vector<float> m_voltages; // scratch
    std::vector<float> m_currents;
    std::vector<char> m_alarmBefore;
};
