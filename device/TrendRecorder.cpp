#include "device/TrendRecorder.h"

#include "controller/BaseController.h"
#include "device/Archive.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"
#include "device/ModuleSnapshot.h"

#include <QHashFunctions>

#include <algorithm>
#include <limits>

QString ModuleIdentity::text() const
{
    return serialNumber ? QStringLiteral("%1 (%2)").arg(address).arg(serialNumber) : address;
}

size_t qHash(const ModuleIdentity& identity, size_t seed)
{
    return qHashMulti(
        seed, identity.crateAddress, identity.address, identity.firmwareName, identity.serialNumber, identity.channels);
}

TrendRecorder::TrendRecorder(DeviceSession* session, QObject* parent)
    : QObject(parent)
    , m_session(session)
{
    if (!session)
        return;
    connect(session, &DeviceSession::modulesDiscovered, this, &TrendRecorder::takeModules);
    connect(session, &DeviceSession::modulesAboutToBeReleased, this, &TrendRecorder::forgetModules);
    // Queued from the poller's thread: each publication arrives here after it happened, and the
    // snapshot is read then (a later one may have replaced it; each read is recorded once).
    connect(session->poller(), &Poller::modulePublished, this, &TrendRecorder::onPublished);
    takeModules();
}

TrendRecorder::~TrendRecorder() = default;

void TrendRecorder::takeModules()
{
    m_current.clear();
    if (!m_session)
        return;
    BaseController* controller = m_session->controller();
    // Asked once per discovery; it takes the controller's lock for a moment.
    const QString crateAddress = controller ? controller->address() : QString();
    const QList<BaseModule*> modules = m_session->modules();
    QHash<ModuleIdentity, int> seen;
    for (BaseModule* module : modules) {
        ModuleIdentity identity{crateAddress, module->address(), module->firmwareName(), module->serialNumber(),
            qMax(0, module->channelNumber())};
        // Modules that cannot tell themselves apart by place still get a history each.
        const int twin = seen[identity]++;
        if (twin > 0)
            identity.address += QStringLiteral(" #%1").arg(twin + 1);
        std::shared_ptr<Record>& record = m_records[identity];
        if (!record) {
            record = std::make_shared<Record>(identity);
            record->order = m_nextOrder++;
            record->alarms.setLimits(CurrentLimitSettings::load(identity.serialNumber, identity.channels));
        }
        // Asked once per discovery, as the address above.
        record->journalPlace = module->journalPlace();
        m_current.append(record.get());
    }
    // A module not read for a day has nothing left to show: forget it unless it is in the list
    // or still alarms.
    const qint64 now = ModuleSnapshot::nowMs();
    for (auto it = m_records.begin(); it != m_records.end();) {
        Record* record = it->get();
        const bool stale = record->lastReadMs < now - ChannelHistory::keptForMs;
        if (stale && !m_current.contains(record) && !record->alarms.anyAlarm())
            it = m_records.erase(it);
        else
            ++it;
    }
    emit alarmsChanged();
}

void TrendRecorder::forgetModules()
{
    m_current.clear();
}

TrendRecorder::Record* TrendRecorder::recordOf(int moduleIndex) const
{
    return moduleIndex >= 0 && moduleIndex < m_current.size() ? m_current.at(moduleIndex) : nullptr;
}

const ChannelHistory* TrendRecorder::history(int moduleIndex) const
{
    const Record* record = recordOf(moduleIndex);
    return record ? &record->history : nullptr;
}

const ChannelStateLog* TrendRecorder::states(int moduleIndex) const
{
    const Record* record = recordOf(moduleIndex);
    return record ? &record->states : nullptr;
}

const CurrentAlarms* TrendRecorder::alarms(int moduleIndex) const
{
    const Record* record = recordOf(moduleIndex);
    return record ? &record->alarms : nullptr;
}

ModuleIdentity TrendRecorder::identity(int moduleIndex) const
{
    const Record* record = recordOf(moduleIndex);
    return record ? record->identity : ModuleIdentity();
}

void TrendRecorder::setCurrentLimit(int moduleIndex, int channel, const CurrentLimit& limit)
{
    const Record* target = recordOf(moduleIndex);
    if (!target || channel < 0 || channel >= target->identity.channels)
        return;
    const int serialNumber = target->identity.serialNumber;
    const bool stored = CurrentLimitSettings::save(serialNumber, channel, limit);
    if (!stored)
        qWarning("alarms: the current limit of channel %d could not be stored", channel);
    // A settings change, not a write to the crate: one line with its result.
    JournalWrite line = target->journalPlace;
    line.channel = JournalWrite::channelText(channel);
    line.quantity = QStringLiteral("current alarm limit");
    line.value = limit.isSet() ? QStringLiteral("%1 for %2 s")
                                     .arg(JournalWrite::valueText(limit.limitA, QStringLiteral("A")))
                                     .arg(double(limit.holdMs) / 1000.0)
                               : QStringLiteral("none");
    line.result = stored ? QStringLiteral("ok") : QStringLiteral("not stored: the alarm settings cannot be written");
    WriteJournal::instance().append(line);
    for (const std::shared_ptr<Record>& record : std::as_const(m_records)) {
        if (record->identity.serialNumber == serialNumber)
            record->alarms.setLimit(channel, limit);
    }
    emit alarmsChanged();
}

int TrendRecorder::acknowledge(int moduleIndex, const QList<int>& channels)
{
    Record* record = recordOf(moduleIndex);
    if (!record)
        return 0;
    QList<int> acknowledged;
    for (int channel : channels) {
        if (record->alarms.acknowledge(channel))
            acknowledged.append(channel);
    }
    if (acknowledged.isEmpty())
        return 0;
    emit alarmsChanged();
    for (int channel : std::as_const(acknowledged)) {
        emit alarmAcknowledged(record->identity, channel);
        emit alarmAcknowledgedOnModule(moduleIndex, channel);
    }
    return int(acknowledged.size());
}

QList<TrendRecorder::ActiveAlarm> TrendRecorder::activeAlarms() const
{
    std::vector<const Record*> records;
    for (const std::shared_ptr<Record>& record : m_records) {
        if (record->alarms.anyAlarm())
            records.push_back(record.get());
    }
    std::sort(records.begin(), records.end(), [](const Record* a, const Record* b) { return a->order < b->order; });
    QList<ActiveAlarm> active;
    for (const Record* record : records) {
        const int index = int(m_current.indexOf(const_cast<Record*>(record)));
        for (int channel = 0; channel < record->alarms.channelCount(); ++channel) {
            if (record->alarms.alarm(channel))
                active.append(ActiveAlarm{record->identity, index, channel, record->alarms.channel(channel)});
        }
    }
    return active;
}

QString TrendRecorder::archiveKey(int moduleIndex) const
{
    const Record* record = recordOf(moduleIndex);
    if (!record)
        return {};
    return ArchiveStore::moduleKey(record->identity.crateAddress, record->identity.address, record->identity.serialNumber);
}

size_t TrendRecorder::memoryBytes() const
{
    size_t bytes = 0;
    for (const std::shared_ptr<Record>& record : m_records)
        bytes += record->history.memoryBytes();
    return bytes;
}

void TrendRecorder::onPublished(int moduleIndex)
{
    if (!m_session)
        return;
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_session->poller()->moduleSnapshot(moduleIndex);
    if (snapshot)
        record(moduleIndex, *snapshot);
}

void TrendRecorder::record(int moduleIndex, const ModuleSnapshot& snapshot)
{
    Record* record = recordOf(moduleIndex);
    if (!record || snapshot.channelsReadAtMs <= record->lastReadMs || snapshot.serialNumber != record->identity.serialNumber)
        return;
    record->lastReadMs = snapshot.channelsReadAtMs;
    // The snapshot carries display units; the history keeps volts and amperes, so a change of
    // units splits nothing.
    const double voltsPerUnit = snapshot.voltageUnit == QLatin1String("kV") ? BaseModule::voltsPerKilovolt : 1.0;
    const double amperesPerUnit = BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(snapshot.currentUnit));
    const int channels = record->identity.channels;
    m_voltages.assign(size_t(channels), std::numeric_limits<float>::quiet_NaN());
    m_currents.assign(size_t(channels), std::numeric_limits<float>::quiet_NaN());
    for (int channel = 0; channel < std::min(channels, int(snapshot.channels.size())); ++channel) {
        const ChannelReading& reading = snapshot.channels.at(channel);
        if (!reading.complete)
            continue;
        m_voltages[size_t(channel)] = float(reading.voltageMeasure * voltsPerUnit);
        m_currents[size_t(channel)] = float(reading.currentMeasure * amperesPerUnit);
        record->states.append(snapshot.channelsReadAtMs, channel, float(reading.voltageSet * voltsPerUnit),
            float(reading.currentSet * amperesPerUnit), reading.status);
    }
    record->history.append(snapshot.channelsReadAtMs, m_voltages.data(), m_currents.data());
    record->states.dropBefore(snapshot.channelsReadAtMs - ChannelHistory::keptForMs);
    if (m_archive) {
        ArchiveReading reading;
        reading.module = archiveKey(moduleIndex);
        reading.atUtcMs = EventLog::utcOf(snapshot.channelsReadAtMs);
        reading.values.resize(2 * channels);
        for (int channel = 0; channel < channels; ++channel) {
            reading.values[2 * channel] = m_voltages[size_t(channel)];
            reading.values[2 * channel + 1] = m_currents[size_t(channel)];
        }
        m_archive->addReading(std::move(reading));
    }
    m_alarmBefore.assign(size_t(channels), 0);
    for (int channel = 0; channel < channels; ++channel)
        m_alarmBefore[size_t(channel)] = record->alarms.alarm(channel);
    const bool fired = record->alarms.update(snapshot.channelsReadAtMs, m_currents.data());
    emit recorded(moduleIndex);
    if (!fired)
        return;
    emit alarmsChanged();
    for (int channel = 0; channel < channels; ++channel) {
        if (!m_alarmBefore[size_t(channel)] && record->alarms.alarm(channel)) {
            emit alarmFired(record->identity, channel, record->alarms.channel(channel));
            emit alarmFiredOnModule(moduleIndex, channel);
        }
    }
}
