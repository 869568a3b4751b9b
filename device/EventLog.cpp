#include "device/EventLog.h"

#include "controller/BaseController.h"
#include "device/Archive.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/StatusWordBits.h"
#include "device/TrendRecorder.h"

#include <QDateTime>
#include <QSet>

namespace {
// Channel status bits that make an event when they come on, with the event's kind.
struct WatchedBit
{
    quint32 bit;
    const QString* kind;
};
const WatchedBit watchedBits[] = {
    {ChannelStatusBit::currentTrip, &EventKind::currentTrip},
    {ChannelStatusBit::voltageBounds, &EventKind::voltageBounds},
    {ChannelStatusBit::currentBounds, &EventKind::currentBounds},
    {ChannelStatusBit::voltageLimit, &EventKind::voltageLimit},
    {ChannelStatusBit::currentLimit, &EventKind::currentLimit},
    {ChannelStatusBit::externalInhibit, &EventKind::externalInhibit},
    {ChannelStatusBit::emergencyOff, &EventKind::emergencyOff},
};

bool isChannelCondition(const QString& kind)
{
    return EventKind::channelConditions().contains(kind);
}
} // namespace

EventLog::EventLog(DeviceSession* session, TrendRecorder* trends, Archive* archive, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_trends(trends)
    , m_archive(archive)
{
    if (!session)
        return;
    connect(session, &DeviceSession::connected, this, [this](const QString& address) {
        m_crate = address;
        m_crateAnswered = true;
        m_cratePower = -1;
        m_modules.clear();
        ArchiveEvent event;
        event.kind = EventKind::connected;
        record(event);
    });
    connect(session, &DeviceSession::disconnected, this, [this] {
        ArchiveEvent event;
        event.kind = EventKind::disconnected;
        record(event);
        m_modules.clear();
    });
    connect(session, &DeviceSession::modulesDiscovered, this, &EventLog::takeModules);
    connect(session, &DeviceSession::modulesAboutToBeReleased, this, [this] {
        for (const ModuleState& module : std::as_const(m_modules)) {
            if (m_session && m_session->controller())
                record(moduleEvent(module, EventKind::moduleLost));
        }
        m_modules.clear();
    });
    connect(session->poller(), &Poller::modulePublished, this, &EventLog::onModulePublished);
    connect(session->poller(), &Poller::cratePublished, this, &EventLog::onCratePublished);
    if (trends) {
        connect(trends, &TrendRecorder::alarmFiredOnModule, this,
            [this](int index, int channel) { onAlarm(index, channel, true); });
        connect(trends, &TrendRecorder::alarmAcknowledgedOnModule, this,
            [this](int index, int channel) { onAlarm(index, channel, false); });
    }
    // Every module's channels are read (once a second) while the log exists, so a trip is seen
    // on any module.
    session->setNeeds(this, Poller::AllModulesChannelsEachSecond);
    connect(&m_check, &QTimer::timeout, this, &EventLog::checkConnections);
    m_check.start(checkMs);
    if (session->controller()) {
        m_crate = session->controller()->address();
        takeModules();
    }
}

EventLog::~EventLog()
{
    if (m_session)
        m_session->setNeeds(this, {});
}

qint64 EventLog::utcOf(qint64 monotonicMs)
{
    return QDateTime::currentMSecsSinceEpoch() - ModuleSnapshot::nowMs() + monotonicMs;
}

QString EventLog::keyOf(const QString& address, int serialNumber)
{
    return address + QLatin1Char('|') + QString::number(serialNumber);
}

void EventLog::takeModules()
{
    if (!m_session)
        return;
    QSet<QString> before;
    for (const ModuleState& module : std::as_const(m_modules))
        before.insert(keyOf(module.address, module.serialNumber));
    QVector<ModuleState> modules;
    for (BaseModule* module : m_session->modules()) {
        ModuleState state;
        state.crate = m_crate;
        state.address = module->address();
        state.serialNumber = module->serialNumber();
        const int channels = qMax(0, module->channelNumber());
        state.status.fill(0, channels);
        state.known.fill(false, channels);
        state.previous.resize(channels);
        if (!before.remove(keyOf(state.address, state.serialNumber)))
            record(moduleEvent(state, EventKind::moduleFound));
        modules.append(state);
    }
    for (const ModuleState& old : std::as_const(m_modules)) {
        if (before.contains(keyOf(old.address, old.serialNumber)))
            record(moduleEvent(old, EventKind::moduleLost));
    }
    m_modules = modules;
    recallLatest();
}

void EventLog::recallLatest()
{
    if (!m_archive || m_crate.isEmpty())
        return;
    EventFilter filter;
    filter.crate = m_crate;
    filter.fromUtcMs = QDateTime::currentMSecsSinceEpoch() - qint64(m_archive->settings().retentionDays) * 86400000;
    filter.kinds = EventKind::channelConditions();
    filter.limit = 5000;
    m_archive->findEvents(filter, this, [this](const QVector<ArchiveEvent>& events, const QString&) {
        // Newest first: the first of each channel is its latest; what this run saw stays.
        for (const ArchiveEvent& event : events) {
            QHash<int, ArchiveEvent>& channels = m_latest[keyOf(event.address, event.serialNumber)];
            if (!channels.contains(event.channel) || channels.value(event.channel).atUtcMs < event.atUtcMs)
                channels.insert(event.channel, event);
        }
    });
}

ArchiveEvent EventLog::moduleEvent(const ModuleState& module, const QString& kind) const
{
    ArchiveEvent event;
    event.crate = module.crate;
    event.address = module.address;
    event.serialNumber = module.serialNumber;
    event.kind = kind;
    return event;
}

void EventLog::record(ArchiveEvent event)
{
    if (!event.atUtcMs)
        event.atUtcMs = QDateTime::currentMSecsSinceEpoch();
    if (event.crate.isEmpty())
        event.crate = m_crate;
    if (m_archive) {
        event.station = m_archive->settings().station;
        m_archive->addEvent(event);
    }
    if (event.channel >= 0 && isChannelCondition(event.kind))
        m_latest[keyOf(event.address, event.serialNumber)].insert(event.channel, event);
    emit eventRecorded(event);
}

void EventLog::onModulePublished(int moduleIndex)
{
    if (!m_session || moduleIndex < 0 || moduleIndex >= m_modules.size())
        return;
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_session->poller()->moduleSnapshot(moduleIndex);
    ModuleState& module = m_modules[moduleIndex];
    const qint64 now = ModuleSnapshot::nowMs();
    if (!snapshot || snapshot->serialNumber != module.serialNumber || !snapshot->channelsFresh(now)
        || snapshot->channelsReadAtMs <= module.lastReadMs)
        return;
    module.lastReadMs = snapshot->channelsReadAtMs;
    if (!module.connected) {
        module.connected = true;
        record(moduleEvent(module, EventKind::moduleAnswers));
    }
    const double voltsPerUnit = snapshot->voltageUnit == QLatin1String("kV") ? BaseModule::voltsPerKilovolt : 1.0;
    const double amperesPerUnit = BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(snapshot->currentUnit));
    const qint64 atUtcMs = utcOf(snapshot->channelsReadAtMs);
    for (int channel = 0; channel < qMin(int(module.status.size()), int(snapshot->channels.size())); ++channel) {
        const ChannelReading& reading = snapshot->channels.at(channel);
        if (!reading.complete)
            continue;
        const quint32 before = module.status.at(channel);
        const bool wasKnown = module.known.at(channel);
        const ChannelReading previous = module.previous.at(channel);
        module.status[channel] = reading.status;
        module.known[channel] = true;
        module.previous[channel] = reading;
        if (!wasKnown)
            continue;
        const auto channelEvent = [&](const QString& kind) {
            ArchiveEvent event = moduleEvent(module, kind);
            event.atUtcMs = atUtcMs;
            event.channel = channel;
            event.voltageSet = float(reading.voltageSet * voltsPerUnit);
            event.voltageMeasured = float(reading.voltageMeasure * voltsPerUnit);
            event.currentSet = float(reading.currentSet * amperesPerUnit);
            event.currentMeasured = float(reading.currentMeasure * amperesPerUnit);
            // A trip switches the channel off at once: the read before says what led to it.
            if (EventKind::trips().contains(kind))
                event.detail = QStringLiteral("read before: %1 V, %2")
                                   .arg(double(previous.voltageMeasure * voltsPerUnit), 0, 'f', 1)
                                   .arg(amperesText(float(previous.currentMeasure * amperesPerUnit)));
            record(event);
        };
        for (const WatchedBit& watched : watchedBits) {
            if ((reading.status & watched.bit) && !(before & watched.bit))
                channelEvent(*watched.kind);
        }
        if ((before & ChannelStatusBit::ramping) && !(reading.status & ChannelStatusBit::ramping)
            && (reading.status & ChannelStatusBit::on))
            channelEvent(EventKind::rampEnded);
    }
}

void EventLog::checkConnections()
{
    if (!m_session)
        return;
    const qint64 now = ModuleSnapshot::nowMs();
    for (int index = 0; index < m_modules.size(); ++index) {
        ModuleState& module = m_modules[index];
        const std::shared_ptr<const ModuleSnapshot> snapshot = m_session->poller()->moduleSnapshot(index);
        // Before its first answer a module is not judged; afterwards silence for longer than
        // the freshness time is "not connected".
        if (!snapshot || snapshot->lastAnswerAtMs < 0 || !module.connected || snapshot->connected(now))
            continue;
        module.connected = false;
        record(moduleEvent(module, EventKind::moduleNotConnected));
    }
}

void EventLog::onCratePublished()
{
    if (!m_session)
        return;
    const std::shared_ptr<const CrateSnapshot> crate = m_session->poller()->crateSnapshot();
    if (!crate)
        return;
    if (crate->answered != m_crateAnswered) {
        m_crateAnswered = crate->answered;
        ArchiveEvent event;
        event.kind = crate->answered ? EventKind::crateAnswers : EventKind::crateNotConnected;
        event.detail = crate->busStatus.text.isEmpty() ? crate->connectionInfo
                                                       : crate->connectionInfo + QLatin1Char(' ') + crate->busStatus.text;
        record(event);
    }
    if (crate->answered && crate->crate.valid && crate->crateReadAtMs == crate->readAtMs) {
        const int power = crate->crate.powerOn ? 1 : 0;
        if (m_cratePower >= 0 && power != m_cratePower) {
            ArchiveEvent event;
            event.kind = power ? EventKind::powerOn : EventKind::powerOff;
            event.serialNumber = crate->crate.serialNumber;
            record(event);
        }
        m_cratePower = power;
    }
}

void EventLog::onAlarm(int moduleIndex, int channel, bool fired)
{
    if (moduleIndex < 0 || moduleIndex >= m_modules.size())
        return;
    ArchiveEvent event =
        moduleEvent(m_modules.at(moduleIndex), fired ? EventKind::alarmFired : EventKind::alarmAcknowledged);
    event.channel = channel;
    if (m_trends && m_trends->alarms(moduleIndex) && channel < m_trends->alarms(moduleIndex)->channelCount()) {
        const CurrentAlarms::Channel& state = m_trends->alarms(moduleIndex)->channel(channel);
        event.currentMeasured = fired ? state.firedAtA : state.highestA;
        event.detail = QStringLiteral("limit %1 A, hold %2 ms").arg(state.limit.limitA).arg(state.limit.holdMs);
        if (fired)
            event.atUtcMs = utcOf(state.firedAtMs);
    }
    // The channel's set values from the same read of the module.
    if (m_session) {
        const std::shared_ptr<const ModuleSnapshot> snapshot = m_session->poller()->moduleSnapshot(moduleIndex);
        if (snapshot && channel < snapshot->channels.size() && snapshot->channels.at(channel).complete) {
            const double voltsPerUnit = snapshot->voltageUnit == QLatin1String("kV") ? BaseModule::voltsPerKilovolt : 1.0;
            const double amperesPerUnit =
                BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(snapshot->currentUnit));
            const ChannelReading& reading = snapshot->channels.at(channel);
            event.voltageSet = float(reading.voltageSet * voltsPerUnit);
            event.voltageMeasured = float(reading.voltageMeasure * voltsPerUnit);
            event.currentSet = float(reading.currentSet * amperesPerUnit);
        }
    }
    record(event);
}

void EventLog::scriptStarted(const QString& name)
{
    ArchiveEvent event;
    event.kind = EventKind::scriptStarted;
    event.detail = name;
    record(event);
}

void EventLog::scriptStopped(const QString& name, const QString& result)
{
    ArchiveEvent event;
    event.kind = EventKind::scriptStopped;
    event.detail = result.isEmpty() ? name : QStringLiteral("%1: %2").arg(name, result);
    record(event);
}

ArchiveEvent EventLog::latestChannelEvent(int moduleIndex, int channel) const
{
    if (moduleIndex < 0 || moduleIndex >= m_modules.size())
        return {};
    const ModuleState& module = m_modules.at(moduleIndex);
    return m_latest.value(keyOf(module.address, module.serialNumber)).value(channel);
}
