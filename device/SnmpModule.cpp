#include "device/SnmpModule.h"
#include "device/ControllerLock.h"

#include "controller/SnmpController.h"
#include "device/ModuleTypes.h"
#include "device/Resolution.h"
#include "device/StatusWordBits.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Bit moves: library bit -> word bit.
struct BitMove
{
    int from;
    int to;
};

constexpr BitMove channelStatusMoves[] = {
    {7, 3},
    {11, 4},
    {12, 4},
    {9, 5},
    {13, 6},
    {23, 7},
    {21, 10},
    {22, 11},
    {6, 12},
    {2, 13},
    {20, 14},
    {3, 15},
};

constexpr BitMove moduleStatusMoves[] = {
    {7, 0},
    {5, 2},
    {3, 4},
    {1, 5},
    {15, 8},
    {14, 9},
    {13, 10},
    {12, 11},
    {11, 12},
    {10, 13},
    {9, 14},
    {8, 15},
};

constexpr BitMove moduleEventStatusMoves[] = {
    {5, 2},
    {3, 4},
    {1, 5},
    {13, 10},
    {10, 13},
    {9, 14},
};

template <size_t N>
quint32 moveBits(quint32 value, const BitMove (&moves)[N])
{
    quint32 result = 0;
    for (const BitMove& move : moves) {
        if (value & (quint32(1) << move.from))
            result |= quint32(1) << move.to;
    }
    return result;
}

// Supervision behaviour fields.
constexpr int delayedTripShift = 6;
constexpr int inhibitShift = 12;

int withAction(int behaviour, int shift, int action)
{
    return (behaviour & ~(3 << shift)) | ((action & 3) << shift);
}

int actionOf(int behaviour, int shift)
{
    return (behaviour >> shift) & 3;
}

// Output switch values.
constexpr int switchOff = 0;
constexpr int switchOn = 1;
constexpr int switchClearEmergencyOff = 2;
constexpr int switchEmergencyOff = 3;
constexpr int switchClearEvents = 10;
constexpr int switchMeasurementsOff = 20;
constexpr int switchExternalMeasurement = 21;
constexpr int switchRippleMeasurement = 22;
constexpr int switchBothMeasurements = 23;

// Groups switch commands.
constexpr int groupsKillDisable = 4;
constexpr int groupsKillEnable = 5;
constexpr int groupsFineAdjustmentOff = 6;
constexpr int groupsFineAdjustmentOn = 7;
constexpr int groupsClearEvents = 10;

// Journal texts of the switch values and supervision actions.
QString switchText(int value)
{
    switch (value) {
    case switchOff:
        return QStringLiteral("off");
    case switchOn:
        return QStringLiteral("on");
    case switchClearEmergencyOff:
        return QStringLiteral("clear emergency off");
    case switchEmergencyOff:
        return QStringLiteral("emergency off");
    case switchClearEvents:
        return QStringLiteral("clear events");
    case switchMeasurementsOff:
        return QStringLiteral("measurements off");
    case switchExternalMeasurement:
        return QStringLiteral("external measurement");
    case switchRippleMeasurement:
        return QStringLiteral("ripple measurement");
    case switchBothMeasurements:
        return QStringLiteral("both measurements");
    default:
        return QString::number(value);
    }
}

QString groupsSwitchText(int value)
{
    switch (value) {
    case groupsKillDisable:
        return QStringLiteral("kill disable");
    case groupsKillEnable:
        return QStringLiteral("kill enable");
    case groupsFineAdjustmentOff:
        return QStringLiteral("fine adjustment off");
    case groupsFineAdjustmentOn:
        return QStringLiteral("fine adjustment on");
    case groupsClearEvents:
        return QStringLiteral("clear events");
    default:
        return QString::number(value);
    }
}

QString actionText(int action)
{
    static const char* const names[] = {"ignore", "ramp down channel", "switch channel off", "switch module off"};
    return QString::fromLatin1(names[action & 3]);
}

} // namespace

SnmpModule::SnmpModule(SnmpController* controller, int slot, QObject* parent)
    : BaseModule(parent)
    , m_controller(controller)
    , m_firstChannelIndex(SnmpController::channelIndex(slot, 0))
    , m_slot(slot)
{
    Lock lock(ControllerLock::of(*m_controller));
    const char* text = m_controller->call(&SnmpController::getModuleDescription, m_slot);
    const QStringList fields = QString::fromLatin1(text ? text : "").split(QStringLiteral(", "), Qt::KeepEmptyParts);
    if (fields.size() > 2) {
        m_vendor = fields.at(0);
        m_firmwareName = fields.at(1);
        m_channelCount = qBound(0, fields.at(2).toInt(), WIENER_SNMP_MAX_VALUES);
    }
    if (fields.size() > 4) {
        m_serialNumber = fields.at(3).toInt();
        m_firmwareRelease = fields.at(4);
    }
    for (auto* cache : {&m_statusCache, &m_controlCache})
        cache->fill(0, m_channelCount);
    for (auto* cache : {&m_tripTimeCache, &m_behaviourCache})
        cache->fill(0, m_channelCount);
    for (auto* cache : {&m_voltageSetCache, &m_voltageMeasureCache, &m_voltageNominalCache, &m_currentSetCache,
             &m_currentMeasureCache, &m_currentNominalCache})
        cache->fill(0.0f, m_channelCount);
    // No read yet is not a failed read.
    std::fill(std::begin(m_channelsReached), std::end(m_channelsReached), m_channelCount);
    setDeviceClass(m_firmwareName);
    loadResolution();
    noteReadOutcome(m_channelCount > 0);
}

void SnmpModule::loadResolution()
{
    Resolution resolution;
    resolution.setFirmwareName(m_firmwareName);
    resolution.setSerialNumber(m_serialNumber);
    resolution.load();
    m_useControllerUnits = resolution.useControllerUnits();
    m_voltageInKilovolts = resolution.voltageUnit() == QLatin1String("kV");
    m_voltagePrecision = resolution.voltagePrecision();
    m_currentUnitIndex = currentUnitIndexOf(resolution.currentUnit());
    m_currentPrecision = resolution.currentPrecision();
}

bool SnmpModule::isMeasurementModule() const
{
    return m_deviceClass == ModuleTypes::measurementDeviceClass;
}

// ---- bit moves ------------------------------------------------------------------------------

quint32 SnmpModule::channelStatusFromLibrary(quint32 libraryStatus)
{
    return moveBits(libraryStatus, channelStatusMoves);
}

quint32 SnmpModule::moduleStatusFromLibrary(quint32 libraryStatus)
{
    return moveBits(libraryStatus, moduleStatusMoves);
}

quint32 SnmpModule::moduleEventStatusFromLibrary(quint32 libraryStatus)
{
    return moveBits(libraryStatus, moduleEventStatusMoves);
}

quint32 SnmpModule::channelControlFromSwitch(int switchValue, bool measurementModule)
{
    if (measurementModule) {
        switch (switchValue) {
        case switchBothMeasurements:
            return ChannelControlBit::externalMeasurement | ChannelControlBit::rippleMeasurement;
        case switchExternalMeasurement:
            return ChannelControlBit::externalMeasurement;
        case switchRippleMeasurement:
            return ChannelControlBit::rippleMeasurement;
        default:
            return 0;
        }
    }
    quint32 control = 0;
    if (switchValue == switchOn)
        control |= ChannelControlBit::on;
    if (switchValue == switchEmergencyOff)
        control |= ChannelControlBit::emergencyOff;
    return control;
}

int SnmpModule::switchFromChannelControl(quint32 control, bool measurementModule)
{
    control &= 0xFFFF;
    if (measurementModule) {
        const bool external = control & ChannelControlBit::externalMeasurement;
        const bool ripple = control & ChannelControlBit::rippleMeasurement;
        if (external && ripple)
            return switchBothMeasurements;
        if (external)
            return switchExternalMeasurement;
        if (ripple)
            return switchRippleMeasurement;
        return switchMeasurementsOff;
    }
    // Emergency off wins over on: when both are asked for, the safe one is sent.
    if (control & ChannelControlBit::emergencyOff)
        return switchEmergencyOff;
    if (control & ChannelControlBit::on)
        return switchOn;
    return switchOff;
}

// ---- connection truth and caches ------------------------------------------------------------

void SnmpModule::noteReadOutcome(bool answered)
{
    m_answering = answered;
    m_lastEvidence.start();
}

bool SnmpModule::descriptionMatches(const QString& description) const
{
    const QStringList fields = description.split(QStringLiteral(", "), Qt::KeepEmptyParts);
    return fields.size() > 2 && fields.at(1) == m_firmwareName && fields.at(2).toInt() == m_channelCount;
}

bool SnmpModule::connected()
{
    Lock lock(ControllerLock::of(*m_controller));
    if (m_channelCount <= 0)
        return false;
    if (!m_lastEvidence.isValid() || m_lastEvidence.elapsed() > connectionEvidenceMaxAgeMs) {
        // Nothing read recently: one cheap read tells whether the crate (and this module in its
        // slot) still answers. The library answers an empty text while the crate is silent.
        const char* text = m_controller->call(&SnmpController::getModuleDescription, m_slot);
        noteReadOutcome(text && descriptionMatches(QString::fromLatin1(text)));
    }
    return m_answering;
}

int* SnmpModule::channelsReached(const void* cache)
{
    const void* const tracked[] = {&m_statusCache, &m_controlCache, &m_voltageSetCache, &m_voltageMeasureCache,
        &m_voltageNominalCache, &m_currentSetCache, &m_currentMeasureCache, &m_currentNominalCache};
    static_assert(std::size(tracked) == std::extent<decltype(m_channelsReached)>::value, "one count per quantity");
    for (size_t i = 0; i < std::size(tracked); ++i) {
        if (tracked[i] == cache)
            return &m_channelsReached[i];
    }
    return nullptr;
}

bool SnmpModule::anyQuantityUnread() const
{
    return std::any_of(std::begin(m_channelsReached), std::end(m_channelsReached), [](int n) { return n == 0; });
}

bool SnmpModule::channelReadComplete(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return false;
    return std::all_of(
        std::begin(m_channelsReached), std::end(m_channelsReached), [channel](int reached) { return channel < reached; });
}

template <typename Buffer, typename Cache, typename Convert>
void SnmpModule::storeBlock(const Buffer* buffer, QVector<Cache>& cache, Convert convert)
{
    const int count = buffer ? qMin(int(buffer->count), m_channelCount) : 0;
    for (int i = 0; i < m_channelCount; ++i) {
        // Values the crate did not deliver this time read as 0, never as the previous value.
        cache[i] = i < count ? Cache(convert(buffer->value[i])) : Cache(0);
    }
    if (int* reached = channelsReached(&cache))
        *reached = count;
    // One quantity that got nothing keeps the module from counting as answering, even when a
    // later quantity of the same refresh was read.
    noteReadOutcome(count > 0 && !anyQuantityUnread());
}

template <typename Entry, typename Cache, typename Convert>
void SnmpModule::refreshCache(Entry entry, QVector<Cache>& cache, Convert convert)
{
    // The buffer belongs to the library and is overwritten by its next call on the handle: the
    // controller's mutex (held by the caller) keeps other threads out until it is copied.
    storeBlock(m_controller->call(entry, m_firstChannelIndex, m_channelCount), cache, convert);
}

void SnmpModule::keepFullest(SnmpChannelBlock& block, const SnmpChannelBlock& answer)
{
    const auto keep = [](auto& kept, const auto& fresh) {
        if (fresh.count > kept.count)
            kept = fresh;
    };
    keep(block.statuses, answer.statuses);
    keep(block.switches, answer.switches);
    keep(block.voltages, answer.voltages);
    keep(block.currents, answer.currents);
    keep(block.measuredVoltages, answer.measuredVoltages);
    keep(block.measuredCurrents, answer.measuredCurrents);
    keep(block.nominalVoltages, answer.nominalVoltages);
    keep(block.nominalCurrents, answer.nominalCurrents);
    block.answered |= answer.answered;
}

void SnmpModule::readChannelBlock(int which, SnmpChannelBlock& block, QString& failure, int first, int count)
{
    std::memset(&block, 0, sizeof block);
    if (count < 0)
        count = m_channelCount;
    for (int attempt = 0; attempt <= lostQuantityRetries && which != 0; ++attempt) {
        SnmpChannelBlock answer;
        std::memset(&answer, 0, sizeof answer);
        answer.which = which;
        {
            // One call holds the lock: an operator's command waits for this call, never for the
            // retries of a whole read.
            Lock lock(ControllerLock::of(*m_controller));
            m_controller->call(&SnmpController::getChannelBlock, channelIndex(first), count, &answer);
            if (attempt == 0 || failure.isEmpty())
                failure = m_controller->errorString();
        }
        // Each quantity keeps its fullest answer; only the ones still short are asked again.
        keepFullest(block, answer);
        // Nothing answered at all: a silent crate, not a lost packet; asking again only waits.
        if (answer.answered == 0)
            break;
        which &= ~answer.answered;
    }
}

int SnmpModule::channelBlockChoice() const
{
    // What the per-channel getters read: a measurement module has no status word and no set
    // values. Nominal values do not change: read with the first complete read, then from the
    // caches.
    int which = WIENER_BLOCK_SWITCH | WIENER_BLOCK_MEASURED_VOLTAGE | WIENER_BLOCK_MEASURED_CURRENT;
    if (!isMeasurementModule())
        which |= WIENER_BLOCK_STATUS | WIENER_BLOCK_VOLTAGE | WIENER_BLOCK_CURRENT;
    if (!m_nominalsRead)
        which |= WIENER_BLOCK_NOMINAL_VOLTAGE | WIENER_BLOCK_NOMINAL_CURRENT;
    return which;
}

QVector<ChannelReading> SnmpModule::readChannels()
{
    const bool together = m_controller->getChannelBlock && m_controller->isLibraryReady();
    SnmpChannelBlock block;
    std::memset(&block, 0, sizeof block);
    QString failure;
    if (together)
        readChannelBlock(channelBlockChoice(), block, failure);
    return takeChannels(together ? &block : nullptr, failure);
}

void SnmpModule::readChannelsTogether(const QVector<SnmpModule*>& modules, const ReadingReady& ready)
{
    SnmpController* controller = modules.isEmpty() ? nullptr : modules.first()->m_controller;
    const bool together = controller && controller->getChannelBlocks && controller->isLibraryReady()
        && modules.size() <= WIENER_SNMP_MAX_BLOCKS
        && std::all_of(modules.begin(), modules.end(), [&](SnmpModule* m) { return m->m_controller == controller; });
    if (!together) {
        for (int i = 0; i < modules.size(); ++i)
            ready(i, modules.at(i)->readChannels());
        return;
    }

    const size_t count = size_t(modules.size());
    std::vector<SnmpChannelBlock> blocks(count);
    std::vector<int> missing(count);
    std::vector<QString> failures(count);
    std::vector<int> pending; // modules whose reading is not delivered yet
    for (size_t i = 0; i < count; ++i) {
        std::memset(&blocks[i], 0, sizeof(SnmpChannelBlock));
        missing[i] = modules.at(int(i))->channelBlockChoice();
        pending.push_back(int(i));
    }
    // Each round asks, for all modules still short at once, only the quantities they still miss
    // (requests lost on a lossy network); a module is delivered as soon as it is complete, so one
    // lost request of another module does not hold it back. A module still short when the
    // rounds end is delivered incomplete: its last complete reading stays, with its age.
    for (int attempt = 0; attempt <= lostQuantityRetries && !pending.empty(); ++attempt) {
        const size_t n = pending.size();
        std::vector<int32_t> starts(n), sizes(n), complete(n);
        std::vector<SnmpChannelBlock> answers(n);
        for (size_t k = 0; k < n; ++k) {
            const SnmpModule* module = modules.at(pending[k]);
            std::memset(&answers[k], 0, sizeof(SnmpChannelBlock));
            answers[k].which = missing[size_t(pending[k])];
            starts[k] = module->m_firstChannelIndex;
            sizes[k] = module->m_channelCount;
        }
        QString failure;
        {
            // One call holds the lock, as for one module's block.
            Lock lock(ControllerLock::of(*controller));
            controller->call(
                &SnmpController::getChannelBlocks, int(n), starts.data(), sizes.data(), answers.data(), complete.data());
            failure = controller->errorString();
        }
        bool anyAnswered = false;
        std::vector<int> stillPending;
        for (size_t k = 0; k < n; ++k) {
            const size_t i = size_t(pending[k]);
            keepFullest(blocks[i], answers[k]);
            missing[i] &= ~answers[k].answered;
            anyAnswered = anyAnswered || answers[k].answered != 0;
            if (missing[i] == 0) {
                ready(int(i), modules.at(int(i))->takeChannels(&blocks[i], QString()));
            } else {
                if (failures[i].isEmpty())
                    failures[i] = failure.isEmpty() ? QStringLiteral("no answer") : failure;
                stillPending.push_back(int(i));
            }
        }
        pending.swap(stillPending);
        // Another round is for the first module (the one the window shows) only: once it is
        // complete, the others' lost quantities wait for their next turn, a tick away, instead
        // of holding back the first module's next read by a round of time-outs.
        if (std::find(pending.begin(), pending.end(), 0) == pending.end())
            break;
        // Nothing answered at all: a silent crate, not a lost packet; asking again only waits.
        if (!anyAnswered)
            break;
    }
    for (int i : pending)
        ready(i, modules.at(i)->takeChannels(&blocks[size_t(i)], failures[size_t(i)]));
}

QVector<ChannelReading> SnmpModule::takeChannels(const SnmpChannelBlock* read, QString failure)
{
    const bool measurement = isMeasurementModule();
    const bool together = read != nullptr;
    const bool nominals = !m_nominalsRead;
    SnmpChannelBlock empty;
    std::memset(&empty, 0, sizeof empty);
    const SnmpChannelBlock& block = read ? *read : empty;
    Lock lock(ControllerLock::of(*m_controller));
    int reached = m_channelCount;
    // Each quantity from the block, or from its own block read without getChannelBlock.
    const auto take = [&](auto entry, const auto& part, auto& cache, auto convert) {
        if (together) {
            storeBlock(&part, cache, convert);
        } else {
            refreshCache(entry, cache, convert);
            if (failure.isEmpty())
                failure = m_controller->errorString();
        }
        reached = qMin(reached, *channelsReached(&cache));
    };
    const auto unchanged = [](auto value) { return value; };
    const auto control = [this](int32_t value) { return controlWord(value); };
    if (!measurement) {
        take(&SnmpController::getMultipleChannelStatuses, block.statuses, m_statusCache, &SnmpModule::statusWord);
        take(&SnmpController::getMultipleOutputVoltages, block.voltages, m_voltageSetCache, unchanged);
        take(&SnmpController::getMultipleOutputCurrents, block.currents, m_currentSetCache, unchanged);
    }
    take(&SnmpController::getMultipleOutputSwitches, block.switches, m_controlCache, control);
    take(&SnmpController::getMultipleMeasurementTerminalVoltages, block.measuredVoltages, m_voltageMeasureCache, unchanged);
    take(&SnmpController::getMultipleMeasurementCurrents, block.measuredCurrents, m_currentMeasureCache, unchanged);
    if (nominals) {
        take(&SnmpController::getMultipleOutputConfigMaxTerminalVoltages, block.nominalVoltages, m_voltageNominalCache,
            unchanged);
        take(&SnmpController::getMultipleOutputConfigMaxCurrents, block.nominalCurrents, m_currentNominalCache, unchanged);
        m_nominalsRead = reached >= m_channelCount;
    }

    QVector<ChannelReading> readings(m_channelCount);
    for (int channel = 0; channel < m_channelCount; ++channel) {
        ChannelReading& reading = readings[channel];
        reading.voltageSet = displayVoltage(m_voltageSetCache.at(channel));
        reading.currentSet = displayCurrent(m_currentSetCache.at(channel));
        reading.voltageMeasure = displayVoltage(m_voltageMeasureCache.at(channel));
        reading.currentMeasure = displayCurrent(m_currentMeasureCache.at(channel));
        reading.voltageNominal = displayVoltage(m_voltageNominalCache.at(channel));
        reading.currentNominal = displayCurrent(m_currentNominalCache.at(channel));
        reading.control = m_controlCache.at(channel);
        reading.status = m_statusCache.at(channel);
        reading.complete = channel < reached;
    }
    if (reached >= m_channelCount)
        succeed();
    else
        fail(failure.isEmpty() ? QStringLiteral("no answer") : failure);
    return readings;
}

bool SnmpModule::lastCallAnswered() const
{
    // The library keeps the reason per thread: another thread's calls in between do not change it.
    return m_controller->errorString().isEmpty();
}

ModuleReading SnmpModule::readModuleValues(bool temperatures, bool supplies)
{
    if (m_controller->getModuleValues && m_controller->isLibraryReady())
        return readModuleValuesTogether(temperatures, supplies);
    ModuleReading reading;
    bool answered = true;
    // Passes a value through and notes whether the read that gave it was answered.
    const auto checked = [&](auto value) {
        answered = lastCallAnswered() && answered;
        return value;
    };
    reading.currentControl = currentControl();
    reading.voltageRampSpeed = checked(voltageRampSpeed());
    reading.currentRampSpeed = reading.currentControl ? checked(currentRampSpeed()) : 0.0f;
    reading.rampSpeedsValid = answered;

    answered = true;
    reading.status = checked(status());
    reading.eventStatus = checked(eventStatus());
    reading.statusValid = answered;

    if (temperatures) {
        answered = true;
        for (int index = 0; index < 4; ++index)
            reading.temperature[index] = checked(temperature(index));
        reading.temperaturesValid = answered;
    }
    if (supplies) {
        answered = true;
        reading.supplyP5 = checked(supplyP5());
        reading.supplyP12 = checked(supplyP12());
        reading.supplyN12 = supplyN12();
        reading.voltageLimit = checked(voltageLimit());
        reading.currentLimit = checked(currentLimit());
        reading.suppliesValid = answered;
    }
    return reading;
}

ModuleReading SnmpModule::readModuleValuesTogether(bool temperatures, bool supplies)
{
    SnmpModuleValues values;
    std::memset(&values, 0, sizeof values);
    values.which = WIENER_MODULE_STATUS | WIENER_MODULE_RAMP_SPEEDS;
    if (temperatures)
        values.which |= WIENER_MODULE_TEMPERATURES;
    if (supplies)
        values.which |= WIENER_MODULE_SUPPLIES;
    m_controller->call(&SnmpController::getModuleValues, m_slot, &values);

    // The same conversions as the single getters.
    ModuleReading reading;
    reading.currentControl = currentControl();
    reading.rampSpeedsValid = values.answered & WIENER_MODULE_RAMP_SPEEDS;
    reading.voltageRampSpeed = float(values.rampSpeedVoltage);
    reading.currentRampSpeed = reading.currentControl ? float(values.rampSpeedCurrent) : 0.0f;
    reading.statusValid = values.answered & WIENER_MODULE_STATUS;
    reading.status = moduleStatusFromLibrary(quint32(values.status));
    reading.eventStatus = moduleEventStatusFromLibrary(quint32(values.eventStatus));
    reading.temperaturesValid = values.answered & WIENER_MODULE_TEMPERATURES;
    for (int index = 0; index < 4; ++index)
        reading.temperature[index] = float(values.temperatures[index]);
    reading.suppliesValid = values.answered & WIENER_MODULE_SUPPLIES;
    reading.supplyP5 = float(values.supply5);
    reading.supplyP12 = float(values.supply24);
    reading.supplyN12 = supplyN12();
    reading.voltageLimit = float(values.hardwareLimitVoltage);
    reading.currentLimit = float(values.hardwareLimitCurrent);
    return reading;
}

template <typename Entry, typename Cache, typename Convert>
Cache SnmpModule::cachedRead(int channel, Entry entry, QVector<Cache>& cache, Convert convert)
{
    if (!validChannel(channel))
        return Cache(0);
    if (channel == 0)
        refreshCache(entry, cache, convert);
    return cache.at(channel);
}

template <typename Entry, typename Cache>
Cache SnmpModule::cachedRead(int channel, Entry entry, QVector<Cache>& cache)
{
    return cachedRead(channel, entry, cache, [](auto value) { return value; });
}

bool SnmpModule::setSwitch(int channel, int value)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return written(channel, "switch", switchText(value),
        [&] { return m_controller->call(&SnmpController::setChannelSwitch, channelIndex(channel), value); });
}

QStringList SnmpModule::switchChannels(const QList<int>& channels, SwitchAction action)
{
    if (!m_controller->setChannelsSwitch)
        return BaseModule::switchChannels(channels, action);
    Lock lock(ControllerLock::of(*m_controller));
    int value = switchOn;
    switch (action) {
    case SwitchAction::On:
        value = switchOn;
        break;
    case SwitchAction::Off:
        value = switchOff;
        break;
    case SwitchAction::EmergencyOff:
        value = switchEmergencyOff;
        break;
    case SwitchAction::ClearEmergencyOff:
        value = switchClearEmergencyOff;
        break;
    case SwitchAction::ClearEvents:
        value = switchClearEvents;
        break;
    }
    return writtenTogether(
        channels, "switch", switchText(value), [&](const std::vector<int32_t>& indexes, int32_t* results) {
            const std::vector<int32_t> values(indexes.size(), value);
            m_controller->call(
                &SnmpController::setChannelsSwitch, int(indexes.size()), indexes.data(), values.data(), results);
        });
}

QStringList SnmpModule::setChannelsValue(const QList<int>& channels, SetQuantity quantity, float value)
{
    const bool voltage = quantity == SetQuantity::Voltage;
    if (!(voltage ? m_controller->setChannelsVoltage : m_controller->setChannelsCurrent))
        return BaseModule::setChannelsValue(channels, quantity, value);
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule()) {
        notOffered();
        return QStringList(QList<QString>(channels.size(), lastError()));
    }
    const double sent = voltage ? voltageToVolts(value) : currentToAmperes(value);
    const QString text = JournalWrite::valueText(value, voltage ? voltageUnit() : currentUnit());
    return writtenTogether(
        channels, voltage ? "voltage set" : "current set", text, [&](const std::vector<int32_t>& indexes, int32_t* results) {
            const std::vector<double> values(indexes.size(), sent);
            m_controller->call(voltage ? &SnmpController::setChannelsVoltage : &SnmpController::setChannelsCurrent,
                int(indexes.size()), indexes.data(), values.data(), results);
        });
}

QStringList SnmpModule::writtenTogether(const QList<int>& channels, const char* quantity, const QString& value,
    const std::function<void(const std::vector<int32_t>& indexes, int32_t* results)>& send)
{
    // Every channel's "sent" line before the writes leave, then each channel's result.
    QStringList reasons;
    QVector<int> sent; // positions in `channels` that are written
    QVector<JournalWrite> entries;
    std::vector<int32_t> indexes;
    for (int i = 0; i < channels.size(); ++i) {
        const int channel = channels.at(i);
        if (!validChannel(channel)) {
            noSuchChannel(channel);
            reasons.append(lastError());
            continue;
        }
        reasons.append(QString());
        sent.append(i);
        indexes.push_back(channelIndex(channel));
        entries.append(journalSent(channel, quantity, value));
    }
    if (!indexes.empty()) {
        std::vector<int32_t> results(indexes.size(), WIENER_WRITE_NOT_SENT);
        send(indexes, results.data());
        for (int k = 0; k < sent.size(); ++k) {
            const int32_t result = results[size_t(k)];
            const bool ok = result == WIENER_WRITE_TAKEN;
            if (ok)
                succeed();
            else
                fail(m_controller->resultText(result));
            journalResult(entries.at(k), ok);
            reasons[sent.at(k)] = ok ? QString() : lastError();
        }
    }
    const auto failed = std::find_if(reasons.cbegin(), reasons.cend(), [](const QString& r) { return !r.isEmpty(); });
    if (failed == reasons.cend())
        succeed();
    else
        fail(*failed);
    return reasons;
}

bool SnmpModule::confirmed(int libraryResult)
{
    if (libraryResult)
        return succeed();
    const QString reason = m_controller->errorString();
    return fail(reason.isEmpty() ? QStringLiteral("not confirmed by the crate") : reason);
}

bool SnmpModule::groupsSwitchWritten(int value)
{
    // Row 64 of the groups switch acts on every high-voltage channel of the crate.
    return written(JournalWrite::crateWide, "groups switch", groupsSwitchText(value),
        [&] { return m_controller->call(&SnmpController::setHighVoltageGroupsSwitch, value); });
}

JournalWrite SnmpModule::journalPlace()
{
    JournalWrite place;
    place.crateAddress = JournalWrite::snmpCrateAddress(m_controller->address());
    place.slot = QString::number(m_slot);
    place.serialNumber = m_serialNumber;
    return place;
}

// ---- identity and module values -------------------------------------------------------------

QString SnmpModule::alarmMessage()
{
    return QString();
}

bool SnmpModule::currentControl()
{
    return ModuleTypes::hasCurrentControl(m_deviceClass);
}

int SnmpModule::serialNumber()
{
    return m_serialNumber;
}

QString SnmpModule::firmwareRelease()
{
    return m_firmwareRelease;
}

quint32 SnmpModule::decoderRelease()
{
    return 0;
}

bool SnmpModule::doClear()
{
    return groupsSwitchWritten(groupsClearEvents);
}

QString SnmpModule::address()
{
    return tr("Slot %1").arg(m_slot);
}

float SnmpModule::temperature(int index)
{
    return float(m_controller->call(&SnmpController::getModuleAuxTemperature, m_slot, index));
}

float SnmpModule::supplyP5()
{
    return float(m_controller->call(&SnmpController::getModuleSupply5, m_slot));
}

float SnmpModule::supplyP12()
{
    return float(m_controller->call(&SnmpController::getModuleSupply24, m_slot));
}

float SnmpModule::supplyN12()
{
    return 0.0f;
}

bool SnmpModule::reports(Quantity) const
{
    // Everything named by Quantity answers a constant here.
    return false;
}

quint32 SnmpModule::adcSamplesPerSecond()
{
    return 500;
}

bool SnmpModule::setAdcSamplesPerSecond(quint32)
{
    return notOffered();
}

quint32 SnmpModule::digitalFilter()
{
    return 16;
}

bool SnmpModule::setDigitalFilter(quint32)
{
    return notOffered();
}

float SnmpModule::voltageLimit()
{
    return float(m_controller->call(&SnmpController::getModuleHardwareLimitVoltage, m_slot));
}

float SnmpModule::currentLimit()
{
    return float(m_controller->call(&SnmpController::getModuleHardwareLimitCurrent, m_slot));
}

quint32 SnmpModule::status()
{
    return moduleStatusFromLibrary(quint32(m_controller->call(&SnmpController::getModuleStatus, m_slot)));
}

quint32 SnmpModule::eventStatus()
{
    return moduleEventStatusFromLibrary(quint32(m_controller->call(&SnmpController::getModuleEventStatus, m_slot)));
}

bool SnmpModule::setEventStatus(quint32)
{
    return notOffered();
}

bool SnmpModule::clearEventStatus()
{
    return written(JournalWrite::moduleWide, "clear events", QStringLiteral("1"),
        [&] { return m_controller->call(&SnmpController::setModuleDoClear, m_slot); });
}

quint32 SnmpModule::eventChannelStatus()
{
    return 0;
}

bool SnmpModule::clearEventChannelStatus()
{
    return notOffered();
}

quint32 SnmpModule::eventChannelMask()
{
    return 0;
}

bool SnmpModule::setEventChannelMask(quint32)
{
    return notOffered();
}

quint32 SnmpModule::eventGroupStatus()
{
    return 0;
}

quint32 SnmpModule::eventGroupMask()
{
    return 0;
}

bool SnmpModule::setEventGroupMask(quint32)
{
    return notOffered();
}

bool SnmpModule::clearEventGroupStatus()
{
    return notOffered();
}

quint32 SnmpModule::eventMask()
{
    return 0;
}

bool SnmpModule::setEventMask(quint32)
{
    return notOffered();
}

quint32 SnmpModule::control()
{
    return 0;
}

bool SnmpModule::setControl(quint32 control)
{
    Lock lock(ControllerLock::of(*m_controller));
    // An MPOD module has no stop, service or store request: such a word is refused whole, so a
    // procedure that needs one ends at once with the reason instead of waiting for a state the
    // module never reaches.
    const quint32 offered = ModuleControlBit::clearEvents | ModuleControlBit::killEnable | ModuleControlBit::fineAdjustment;
    if (control & ~offered)
        return notOffered();
    bool ok = true;
    if (control & ModuleControlBit::clearEvents)
        ok = doClear() && ok;
    // The fine-adjustment bit has no effect on MPOD modules (their fine adjustment is the
    // crate-wide groups switch); it is not a failure.
    if (control & ModuleControlBit::killEnable)
        ok = setKillEnable(true) && ok;
    return ok;
}

float SnmpModule::voltageRampSpeed()
{
    return float(m_controller->call(&SnmpController::getModuleRampSpeedVoltage, m_slot));
}

bool SnmpModule::setVoltageRampSpeed(float vramp)
{
    if (isMeasurementModule())
        return notOffered();
    return written(JournalWrite::moduleWide, "voltage ramp speed", JournalWrite::valueText(vramp, QStringLiteral("%/s")),
        [&] { return m_controller->call(&SnmpController::setModuleRampSpeedVoltage, m_slot, double(vramp)); });
}

float SnmpModule::currentRampSpeed()
{
    return float(m_controller->call(&SnmpController::getModuleRampSpeedCurrent, m_slot));
}

bool SnmpModule::setCurrentRampSpeed(float iramp)
{
    if (isMeasurementModule())
        return notOffered();
    return written(JournalWrite::moduleWide, "current ramp speed", JournalWrite::valueText(iramp, QStringLiteral("%/s")),
        [&] { return m_controller->call(&SnmpController::setModuleRampSpeedCurrent, m_slot, double(iramp)); });
}

bool SnmpModule::killEnable()
{
    return false;
}

bool SnmpModule::setKillEnable(bool enable)
{
    return groupsSwitchWritten(enable ? groupsKillEnable : groupsKillDisable);
}

bool SnmpModule::setFineAdjustmentOn(bool on)
{
    return groupsSwitchWritten(on ? groupsFineAdjustmentOn : groupsFineAdjustmentOff);
}

int SnmpModule::channelNumber()
{
    return m_channelCount;
}

quint32 SnmpModule::restartTime()
{
    return 0;
}

bool SnmpModule::setRestartTime(quint32)
{
    return notOffered();
}

// ---- several channels -----------------------------------------------------------------------

bool SnmpModule::forEachSelectedChannel(quint32 mask, bool (SnmpModule::*operation)(int))
{
    Lock lock(ControllerLock::of(*m_controller));
    bool ok = true;
    QString firstFailure;
    for (int channel = 0; channel < m_channelCount && channel < 32; ++channel) {
        if (!(mask & (1u << channel)))
            continue;
        if (!(this->*operation)(channel) && ok) {
            ok = false;
            firstFailure = lastError();
        }
    }
    return ok ? succeed() : fail(firstFailure);
}

bool SnmpModule::setSelectedChannelsOn(quint32 mask)
{
    return forEachSelectedChannel(mask, &SnmpModule::setChannelOn);
}

bool SnmpModule::setSelectedChannelsOff(quint32 mask)
{
    return forEachSelectedChannel(mask, &SnmpModule::setChannelOff);
}

bool SnmpModule::setSelectedChannelsEmergencyOff(quint32 mask)
{
    return forEachSelectedChannel(mask, &SnmpModule::setChannelEmergencyOff);
}

bool SnmpModule::clearSelectedChannelsEmergencyOff(quint32 mask)
{
    return forEachSelectedChannel(mask, &SnmpModule::clearChannelEmergencyOff);
}

bool SnmpModule::setAllChannelsVoltageSet(float vset)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (m_channelCount <= 0)
        return notOffered();
    SnmpDoubleBuffer buffer;
    std::memset(&buffer, 0, sizeof buffer);
    buffer.count = m_channelCount;
    for (int i = 0; i < m_channelCount; ++i)
        buffer.value[i] = voltageToVolts(vset);
    return written(JournalWrite::moduleWide, "voltage set of all channels", JournalWrite::valueText(vset, voltageUnit()),
        [&] { return m_controller->call(&SnmpController::setMultipleOutputVoltages, m_firstChannelIndex, &buffer); });
}

bool SnmpModule::setAllChannelsCurrentSet(float iset)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (m_channelCount <= 0)
        return notOffered();
    SnmpDoubleBuffer buffer;
    std::memset(&buffer, 0, sizeof buffer);
    buffer.count = m_channelCount;
    for (int i = 0; i < m_channelCount; ++i)
        buffer.value[i] = currentToAmperes(iset);
    return written(JournalWrite::moduleWide, "current set of all channels", JournalWrite::valueText(iset, currentUnit()),
        [&] { return m_controller->call(&SnmpController::setMultipleOutputCurrents, m_firstChannelIndex, &buffer); });
}

bool SnmpModule::writeBehaviours(const QVector<int>& behaviours, const char* quantity, const QString& value)
{
    SnmpIntegerBuffer buffer;
    std::memset(&buffer, 0, sizeof buffer);
    buffer.count = int32_t(behaviours.size());
    for (int i = 0; i < behaviours.size(); ++i)
        buffer.value[i] = behaviours.at(i);
    return written(JournalWrite::moduleWide, quantity, value, [&] {
        return m_controller->call(&SnmpController::setMultipleOutputSupervisionBehaviors, m_firstChannelIndex, &buffer);
    });
}

bool SnmpModule::failedRead()
{
    const QString reason = m_controller->errorString();
    return fail(reason.isEmpty() ? QStringLiteral("no answer") : reason);
}

template <typename Entry, typename Value>
bool SnmpModule::readFresh(Entry entry, int channel, Value* value)
{
    const auto* buffer = m_controller->call(entry, channelIndex(channel), 1);
    if (!buffer || buffer->count < 1)
        return false;
    *value = Value(buffer->value[0]);
    return true;
}

std::unique_lock<std::recursive_mutex> SnmpModule::deviceLock()
{
    return std::unique_lock<std::recursive_mutex>(ControllerLock::of(*m_controller));
}

bool SnmpModule::readChannelControl(int channel, quint32* control)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    int32_t switchValue = 0;
    if (!readFresh(&SnmpController::getMultipleOutputSwitches, channel, &switchValue))
        return failedRead();
    const quint32 word = controlWord(switchValue);
    m_controlCache[channel] = quint16(word);
    *control = word;
    return succeed();
}

bool SnmpModule::readChannelSettings(int channel, ChannelSettings* settings)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    ChannelSettings fresh;
    if (!readChannelControl(channel, &fresh.control))
        return false;
    double voltageNominal = 0;
    double currentNominal = 0;
    if (!readFresh(&SnmpController::getMultipleOutputConfigMaxTerminalVoltages, channel, &voltageNominal)
        || !readFresh(&SnmpController::getMultipleOutputConfigMaxCurrents, channel, &currentNominal))
        return failedRead();
    // A measurement module has no set values and no supervision: its getters answer constants.
    if (!isMeasurementModule()) {
        double currentSet = 0;
        int behaviour = 0;
        if (!readFresh(&SnmpController::getMultipleOutputCurrents, channel, &currentSet)
            || !readFresh(&SnmpController::getMultipleOutputSupervisionBehaviors, channel, &behaviour)
            || !readFresh(&SnmpController::getMultipleOutputTripTimeMaxCurrents, channel, &fresh.delayedTripTimeMs))
            return failedRead();
        fresh.currentSet = displayCurrent(currentSet);
        fresh.delayedTripEnabled = actionOf(behaviour, delayedTripShift) != IgnoreFailure;
        fresh.delayedTripRampDown = actionOf(behaviour, delayedTripShift) == RampDownChannel;
        fresh.inhibitAction = actionOf(behaviour, inhibitShift);
        m_behaviourCache[channel] = behaviour;
    }
    fresh.voltageNominal = displayVoltage(voltageNominal);
    fresh.currentNominal = displayCurrent(currentNominal);
    fresh.voltageHardwareNominal = fresh.voltageNominal;
    fresh.currentHardwareNominal = fresh.currentNominal;
    return channelSettingsRead(channel, fresh, settings);
}

int SnmpModule::readHardwareNominals(int first, int count, QVector<float>* voltages, QVector<float>* currents)
{
    voltages->clear();
    currents->clear();
    if (count <= 0)
        return 0;
    if (!validChannel(first)) {
        noSuchChannel(first);
        return 0;
    }
    count = qMin(count, m_channelCount - first);
    int read = 0;
    QString failure;
    // Each value converted as it is copied: the library's buffers are its own.
    const auto take = [&](const SnmpDoubleBuffer* volts, const SnmpDoubleBuffer* amperes) {
        read = qMin(count, qMin(volts ? int(volts->count) : 0, amperes ? int(amperes->count) : 0));
        for (int i = 0; i < read; ++i) {
            voltages->append(displayVoltage(volts->value[i]));
            currents->append(displayCurrent(amperes->value[i]));
        }
    };
    if (m_controller->getChannelBlock && m_controller->isLibraryReady()) {
        SnmpChannelBlock block;
        readChannelBlock(WIENER_BLOCK_NOMINAL_VOLTAGE | WIENER_BLOCK_NOMINAL_CURRENT, block, failure, first, count);
        Lock lock(ControllerLock::of(*m_controller));
        take(&block.nominalVoltages, &block.nominalCurrents);
    } else {
        Lock lock(ControllerLock::of(*m_controller));
        // The second call overwrites the first one's buffer: copy the voltages first.
        SnmpDoubleBuffer volts;
        std::memset(&volts, 0, sizeof volts);
        if (const SnmpDoubleBuffer* buffer =
                m_controller->call(&SnmpController::getMultipleOutputConfigMaxTerminalVoltages, channelIndex(first), count))
            volts = *buffer;
        failure = m_controller->errorString();
        const SnmpDoubleBuffer* amperes =
            m_controller->call(&SnmpController::getMultipleOutputConfigMaxCurrents, channelIndex(first), count);
        if (failure.isEmpty())
            failure = m_controller->errorString();
        take(&volts, amperes);
    }
    if (read < count) {
        fail(failure.isEmpty() ? QStringLiteral("no answer") : failure);
        return read;
    }
    succeed();
    return read;
}

int SnmpModule::hardwareNominalsReadTogether() const
{
    return qMax(1, m_channelCount);
}

bool SnmpModule::readBehaviours(int first, int count, QVector<int>* behaviours)
{
    const SnmpIntegerBuffer* buffer =
        m_controller->call(&SnmpController::getMultipleOutputSupervisionBehaviors, channelIndex(first), count);
    if (!buffer || buffer->count < count)
        return failedRead();
    behaviours->resize(count);
    for (int i = 0; i < count; ++i) {
        (*behaviours)[i] = buffer->value[i];
        m_behaviourCache[first + i] = buffer->value[i];
    }
    return true;
}

bool SnmpModule::setAllChannelsDelayedTripAction(OutputSupervisionAction action, int delay)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (m_channelCount <= 0)
        return notOffered();
    // The trip action shares its word with the inhibit action: read the crate's words first,
    // and change nothing when they cannot be read.
    QVector<int> behaviours;
    if (!readBehaviours(0, m_channelCount, &behaviours))
        return false;
    SnmpIntegerBuffer delays;
    std::memset(&delays, 0, sizeof delays);
    delays.count = m_channelCount;
    for (int i = 0; i < m_channelCount; ++i)
        delays.value[i] = delay;
    if (!written(JournalWrite::moduleWide, "trip time of all channels", JournalWrite::valueText(delay, QStringLiteral("ms")),
            [&] {
                return m_controller->call(
                    &SnmpController::setMultipleOutputTripTimeMaxCurrents, m_firstChannelIndex, &delays);
            }))
        return false;
    for (int& behaviour : behaviours)
        behaviour = withAction(behaviour, delayedTripShift, action);
    return writeBehaviours(behaviours, "trip action of all channels", actionText(action));
}

bool SnmpModule::setAllChannelsInhibitAction(OutputSupervisionAction action)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (m_channelCount <= 0)
        return notOffered();
    QVector<int> behaviours;
    if (!readBehaviours(0, m_channelCount, &behaviours))
        return false;
    for (int& behaviour : behaviours)
        behaviour = withAction(behaviour, inhibitShift, action);
    return writeBehaviours(behaviours, "inhibit action of all channels", actionText(action));
}

bool SnmpModule::setChannelExternalMeasurementEnabled(int channel, bool enabled)
{
    if (!isMeasurementModule())
        return notOffered();
    return setSwitch(channel, enabled ? switchExternalMeasurement : switchOff);
}

bool SnmpModule::setChannelRippleMeasurementEnabled(int channel, bool enabled)
{
    if (!isMeasurementModule())
        return notOffered();
    return setSwitch(channel, enabled ? switchRippleMeasurement : switchOff);
}

bool SnmpModule::setChannelBothMeasurementsEnabled(int channel, bool enabled)
{
    if (!isMeasurementModule())
        return notOffered();
    return setSwitch(channel, enabled ? switchBothMeasurements : switchMeasurementsOff);
}

// ---- channel words --------------------------------------------------------------------------

quint32 SnmpModule::channelStatus(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return 0;
    return cachedRead(channel, &SnmpController::getMultipleChannelStatuses, m_statusCache, &SnmpModule::statusWord);
}

quint32 SnmpModule::channelEventStatus(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    return validChannel(channel) ? (m_statusCache.at(channel) & 0xD0E0u) : 0;
}

bool SnmpModule::setChannelEventStatus(int, quint32)
{
    return notOffered();
}

bool SnmpModule::clearChannelEventStatus(int channel)
{
    return setSwitch(channel, switchClearEvents);
}

quint32 SnmpModule::channelEventMask(int)
{
    return 0;
}

bool SnmpModule::setChannelEventMask(int, quint32)
{
    return notOffered();
}

quint32 SnmpModule::channelControl(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    return cachedRead(channel, &SnmpController::getMultipleOutputSwitches, m_controlCache,
        [this](int32_t value) { return controlWord(value); });
}

bool SnmpModule::setChannelControl(int channel, quint32 control)
{
    return setSwitch(channel, switchFromChannelControl(control, isMeasurementModule()));
}

bool SnmpModule::setChannelEmergencyOff(int channel)
{
    return setSwitch(channel, switchEmergencyOff);
}

bool SnmpModule::clearChannelEmergencyOff(int channel)
{
    return setSwitch(channel, switchClearEmergencyOff);
}

bool SnmpModule::setChannelOn(int channel)
{
    return setSwitch(channel, switchOn);
}

bool SnmpModule::setChannelOff(int channel)
{
    return setSwitch(channel, switchOff);
}

// ---- channel values -------------------------------------------------------------------------

float SnmpModule::channelVoltageNominal(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    return displayVoltage(
        cachedRead(channel, &SnmpController::getMultipleOutputConfigMaxTerminalVoltages, m_voltageNominalCache));
}

float SnmpModule::channelCurrentNominal(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    return displayCurrent(cachedRead(channel, &SnmpController::getMultipleOutputConfigMaxCurrents, m_currentNominalCache));
}

float SnmpModule::channelVoltageSet(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return 0.0f;
    return displayVoltage(cachedRead(channel, &SnmpController::getMultipleOutputVoltages, m_voltageSetCache));
}

bool SnmpModule::setChannelVoltageSet(int channel, float vset)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return notOffered();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return written(channel, "voltage set", JournalWrite::valueText(vset, voltageUnit(channel)),
        [&] { return m_controller->call(&SnmpController::setOutputVoltage, channelIndex(channel), voltageToVolts(vset)); });
}

float SnmpModule::channelVoltageMeasure(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    return displayVoltage(
        cachedRead(channel, &SnmpController::getMultipleMeasurementTerminalVoltages, m_voltageMeasureCache));
}

float SnmpModule::channelCurrentSet(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return 0.0f;
    return displayCurrent(cachedRead(channel, &SnmpController::getMultipleOutputCurrents, m_currentSetCache));
}

bool SnmpModule::setChannelCurrentSet(int channel, float iset)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return notOffered();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return written(channel, "current set", JournalWrite::valueText(iset, currentUnit(channel)), [&] {
        return m_controller->call(&SnmpController::setOutputCurrent, channelIndex(channel), currentToAmperes(iset));
    });
}

float SnmpModule::channelCurrentMeasure(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    return displayCurrent(cachedRead(channel, &SnmpController::getMultipleMeasurementCurrents, m_currentMeasureCache));
}

bool SnmpModule::channelDelayedTripEnabled(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return false;
    const int behaviour = cachedRead(channel, &SnmpController::getMultipleOutputSupervisionBehaviors, m_behaviourCache);
    return actionOf(behaviour, delayedTripShift) != IgnoreFailure;
}

bool SnmpModule::channelDelayedTripRampDown(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule() || !validChannel(channel))
        return false;
    return actionOf(m_behaviourCache.at(channel), delayedTripShift) == RampDownChannel;
}

int SnmpModule::channelDelayedTripTime(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return 0;
    return cachedRead(channel, &SnmpController::getMultipleOutputTripTimeMaxCurrents, m_tripTimeCache);
}

bool SnmpModule::setChannelDelayedTripAction(int channel, OutputSupervisionAction action, int delay)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    QVector<int> behaviour;
    if (!readBehaviours(channel, 1, &behaviour))
        return false;
    if (!written(channel, "trip time", JournalWrite::valueText(delay, QStringLiteral("ms")),
            [&] { return m_controller->call(&SnmpController::setOutputTripTimeMaxCurrent, channelIndex(channel), delay); }))
        return false;
    return written(channel, "trip action", actionText(action), [&] {
        return m_controller->call(&SnmpController::setOutputSupervisionBehavior, channelIndex(channel),
            withAction(behaviour.at(0), delayedTripShift, action));
    });
}

BaseModule::OutputSupervisionAction SnmpModule::channelInhibitAction(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return IgnoreFailure;
    const int behaviour = cachedRead(channel, &SnmpController::getMultipleOutputSupervisionBehaviors, m_behaviourCache);
    return OutputSupervisionAction(actionOf(behaviour, inhibitShift));
}

bool SnmpModule::setChannelInhibitAction(int channel, OutputSupervisionAction action)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    QVector<int> behaviour;
    if (!readBehaviours(channel, 1, &behaviour))
        return false;
    return written(channel, "inhibit action", actionText(action), [&] {
        return m_controller->call(&SnmpController::setOutputSupervisionBehavior, channelIndex(channel),
            withAction(behaviour.at(0), inhibitShift, action));
    });
}

float SnmpModule::channelVoltageHardwareNominal(int channel)
{
    return channelVoltageNominal(channel);
}

float SnmpModule::channelCurrentHardwareNominal(int channel)
{
    return channelCurrentNominal(channel);
}

// ---- not offered by MPOD modules ------------------------------------------------------------

float SnmpModule::channelVoltageInterlockMaxSet(int)
{
    return 0.0f;
}

bool SnmpModule::setChannelVoltageInterlockMaxSet(int, float)
{
    return notOffered();
}

float SnmpModule::channelVoltageInterlockMinSet(int)
{
    return 0.0f;
}

bool SnmpModule::setChannelVoltageInterlockMinSet(int, float)
{
    return notOffered();
}

float SnmpModule::channelCurrentInterlockMaxSet(int)
{
    return 0.0f;
}

bool SnmpModule::setChannelCurrentInterlockMaxSet(int, float)
{
    return notOffered();
}

float SnmpModule::channelCurrentInterlockMinSet(int)
{
    return 0.0f;
}

bool SnmpModule::setChannelCurrentInterlockMinSet(int, float)
{
    return notOffered();
}

bool SnmpModule::setFlexGroup(int, quint32, quint32)
{
    return notOffered();
}

quint32 SnmpModule::flexGroupMemberList(int)
{
    return 0;
}

quint32 SnmpModule::flexGroupType(int)
{
    return 0;
}
