#include "scripting/ScriptBridge.h"

#include "device/BaseModule.h"
#include "device/ChannelSettings.h"
#include "device/ModuleReading.h"
#include "device/ModuleSnapshot.h"
#include "device/Poller.h"
#include "device/StatusWordBits.h"
#include "device/ToolWindowReading.h"
#include "scripting/ScriptRunner.h"

#include <QHash>
#include <QJSEngine>
#include <QMetaMethod>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace {

// Enumerations that are not meta-types: slots with them are not offered to scripts.
bool isHiddenType(const QByteArray& typeName)
{
    const QByteArray bare = typeName.mid(typeName.lastIndexOf(':') + 1);
    return bare == "OutputSupervisionAction" || bare == "CurrentMeasurementRange" || bare == "ModuleConnectionState";
}

bool usesHiddenType(const QMetaMethod& method)
{
    if (isHiddenType(method.typeName()))
        return true;
    const QList<QByteArray> types = method.parameterTypes();
    return std::any_of(types.begin(), types.end(), isHiddenType);
}

// The most arguments a module operation takes (setFlexGroup); the call below passes that many.
constexpr int maxArguments = 3;

// The module operations by name; a name with default arguments has one entry per argument count.
using OperationTable = QHash<QString, QVector<QMetaMethod>>;

const OperationTable& operationTable()
{
    static const OperationTable table = [] {
        OperationTable operations;
        const QMetaObject& meta = BaseModule::staticMetaObject;
        for (int index = meta.methodOffset(); index < meta.methodCount(); ++index) {
            const QMetaMethod method = meta.method(index);
            if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Public
                && method.parameterCount() <= maxArguments && !usesHiddenType(method))
                operations[QString::fromLatin1(method.name())].append(method);
        }
        return operations;
    }();
    return table;
}

// Operations that write to the device answer false when the device did not take the write; the
// module's reads that answer a bool (connected(), killEnable(), ...) have none of these prefixes.
bool isWrite(const QMetaMethod& method)
{
    if (method.returnMetaType().id() != QMetaType::Bool)
        return false;
    static const char* const writePrefixes[] = {"set", "Set", "clear", "do", "send", "program"};
    const QByteArray name = method.name();
    return std::any_of(
        std::begin(writePrefixes), std::end(writePrefixes), [&name](const char* prefix) { return name.startsWith(prefix); });
}

// The channel a call names, for the journal: its "channel" argument when that is one of the
// module's channels, else the module as a whole (the line's value shows what was given).
int channelNamed(const QJSValue& arguments, const QList<QByteArray>& names, int channelCount)
{
    const int index = int(names.indexOf("channel"));
    if (index < 0)
        return JournalWrite::moduleWide;
    const double number = arguments.property(quint32(index)).toNumber();
    if (!(number >= 0 && number < channelCount) || number != std::floor(number))
        return JournalWrite::moduleWide;
    return int(number);
}

QString argumentText(const QJSValue& value)
{
    return value.isString() ? QLatin1Char('"') + value.toString() + QLatin1Char('"') : value.toString();
}

ScriptBridge::ReadKind readKindOf(const QString& name)
{
    static const QHash<QString, ScriptBridge::ReadKind> kinds = [] {
        QHash<QString, ScriptBridge::ReadKind> k;
        for (const char* n : {"channelVoltageSet", "channelCurrentSet", "channelVoltageMeasure", "channelCurrentMeasure",
                 "channelVoltageNominal", "channelCurrentNominal", "channelControl", "channelStatus"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::ChannelTable);
        for (const char* n : {"channelVoltageHardwareNominal", "channelCurrentHardwareNominal", "channelDelayedTripEnabled",
                 "channelDelayedTripRampDown", "channelDelayedTripTime"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::ChannelSettings);
        k.insert(QStringLiteral("control"), ScriptBridge::ReadKind::ModuleControl);
        for (const char* n : {"status", "eventStatus", "voltageRampSpeed", "currentRampSpeed", "temperature", "supplyP5",
                 "supplyP12", "supplyN12", "voltageLimit", "currentLimit"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::ModuleValues);
        for (const char* n :
            {"eventMask", "restartTime", "eventChannelStatus", "eventChannelMask", "eventGroupStatus", "eventGroupMask"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::ModuleWords);
        for (const char* n : {"channelEventStatus", "channelEventMask"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::ChannelEventWords);
        for (const char* n : {"channelVoltageInterlockMaxSet", "channelVoltageInterlockMinSet",
                 "channelCurrentInterlockMaxSet", "channelCurrentInterlockMinSet"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::ChannelBounds);
        for (const char* n : {"GetModuleIlkOutStatus", "GetModuleIlkOutControl", "GetModuleIlkOutCount",
                 "GetModuleIlkOutLastTrigger", "GetModuleIlkOutChnActualActive", "GetModuleIlkOutChnEverTriggered"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::InterlockOut);
        for (const char* n : {"adcSamplesPerSecond", "digitalFilter", "killEnable", "fineAdjustmentOn", "adjustment",
                 "resistor", "flexGroupMemberList", "flexGroupType", "specialControlCommand", "specialControlStatus",
                 "verifyBaseAddress"})
            k.insert(QLatin1String(n), ScriptBridge::ReadKind::Unchecked);
        return k;
    }();
    return kinds.value(name, ScriptBridge::ReadKind::Local);
}

// A JavaScript number as a whole number within [low, high]; false for fractions, NaN, infinities
// and numbers outside (which a plain conversion would round or wrap).
bool wholeNumber(const QJSValue& value, double low, double high, double* number)
{
    if (!value.isNumber())
        return false;
    const double n = value.toNumber();
    *number = n;
    return std::isfinite(n) && std::floor(n) == n && n >= low && n <= high;
}

} // namespace

QStringList ScriptBridge::moduleOperations()
{
    QStringList names = operationTable().keys();
    names.sort();
    return names;
}

ScriptBridge::ScriptBridge(ScriptRunner* runner, BaseModule* module)
    : m_runner(runner)
    , m_module(module)
    , m_channelCount(module ? module->channelNumber() : 0)
{
}

QJSValue ScriptBridge::call(const QString& name, const QJSValue& arguments)
{
    QJSEngine* engine = qjsEngine(this);
    // After a stop or release the module is not called again, whatever the script catches (a
    // call already past this check ends normally: the module object outlives the run).
    if (stopped(engine))
        return {};
    const QVector<QMetaMethod> overloads = operationTable().value(name);
    const int count = arguments.property(QStringLiteral("length")).toInt();
    const auto method = std::find_if(overloads.begin(), overloads.end(),
        [count](const QMetaMethod& candidate) { return candidate.parameterCount() == count; });
    if (method == overloads.end()) {
        QStringList counts;
        for (const QMetaMethod& candidate : overloads)
            counts.append(QString::number(candidate.parameterCount()));
        engine->throwError(QJSValue::TypeError,
            QStringLiteral("mod.%1 takes %2 argument(s), not %3").arg(name, counts.join(QStringLiteral(" or "))).arg(count));
        return {};
    }

    QStringList texts;
    for (int index = 0; index < count; ++index)
        texts.append(argumentText(arguments.property(quint32(index))));
    const QString callText = QStringLiteral("mod.%1(%2)").arg(name, texts.join(QStringLiteral(", ")));

    // A write refused here never reaches the module; the journal records it all the same.
    const bool write = isWrite(*method);
    const auto refuse = [&](int channel, const QString& reason) {
        if (write)
            m_module->journalRefusal(channel, name, texts.join(QStringLiteral(", ")), reason);
    };
    const QList<QByteArray> types = method->parameterTypes();
    const QList<QByteArray> names = method->parameterNames();
    QVariant values[maxArguments];
    QGenericArgument passed[maxArguments];
    int channel = -1;
    for (int index = 0; index < count; ++index) {
        const QJSValue argument = arguments.property(quint32(index));
        QString problem;
        if (!checkArgument(argument, method->parameterMetaType(index).id(), names.at(index), &problem)) {
            refuse(channelNamed(arguments, names, m_channelCount), problem);
            engine->throwError(QJSValue::RangeError, QStringLiteral("%1: %2").arg(callText, problem));
            return {};
        }
        if (names.at(index) == "channel")
            channel = argument.toInt();
        values[index] = argument.toVariant();
        if (!values[index].convert(method->parameterMetaType(index))) {
            engine->throwError(QJSValue::TypeError,
                QStringLiteral("mod.%1: argument %2 is not a valid %3")
                    .arg(name)
                    .arg(index + 1)
                    .arg(QString::fromLatin1(types.at(index))));
            return {};
        }
        passed[index] = QGenericArgument(types.at(index).constData(), values[index].constData());
    }

    // A channel mask names channels of this module only: a bit beyond them would reach no
    // channel the script meant (or, on some module kinds, another one).
    if ((name.contains(QLatin1String("SelectedChannels")) || name == QLatin1String("setEventChannelMask")) && count == 1
        && m_channelCount < 32 && (values[0].toUInt() >> m_channelCount) != 0) {
        const QString problem =
            QStringLiteral("mask 0x%1 has bits beyond channel %2").arg(values[0].toUInt(), 0, 16).arg(m_channelCount - 1);
        refuse(JournalWrite::moduleWide, problem);
        engine->throwError(QJSValue::RangeError, QStringLiteral("%1: %2").arg(callText, problem));
        return {};
    }

    if (!write && method->returnMetaType().id() != QMetaType::Void) {
        const ReadKind kind = readKindOf(name);
        if (kind != ReadKind::Local)
            return checkedRead(engine, kind, name, callText, channel, values[0]);
    }
    if (write && !waitForWriteTurn(engine))
        return {};

    QVariant result;
    QGenericReturnArgument returned;
    if (method->returnMetaType().id() != QMetaType::Void) {
        result = QVariant(method->returnMetaType());
        returned = QGenericReturnArgument(method->typeName(), result.data());
    }
    // In this thread: the module serialises its operations on its controller.
    method->invoke(m_module, Qt::DirectConnection, returned, passed[0], passed[1], passed[2]);

    if (write) {
        m_lastWriteAtMs = ModuleSnapshot::nowMs();
        if (result.toBool()) {
            answered();
            noteSwitchedOn(name, values, count);
        } else {
            // Not counted as an answer: a crate without power refuses every write.
            QString reason = m_module->lastError();
            if (reason.isEmpty())
                reason = QStringLiteral("no reason given");
            m_runner->print(QStringLiteral("%1(%2) refused: %3").arg(name, texts.join(QStringLiteral(", ")), reason));
        }
    }
    return result.isValid() ? engine->toScriptValue(result) : QJSValue();
}

void ScriptBridge::delay(int milliSeconds)
{
    if (!m_runner->delay(milliSeconds))
        stopped(qjsEngine(this));
}

void ScriptBridge::print(const QString& message)
{
    m_runner->print(message);
}

bool ScriptBridge::stopped(QJSEngine* engine)
{
    if (!m_runner->stopRequested())
        m_runner->watchStops();
    if (!m_runner->stopRequested())
        return false;
    engine->throwError(m_runner->moduleReleased() ? QStringLiteral("module released") : QStringLiteral("script stopped"));
    return true;
}

void ScriptBridge::answered()
{
    m_runner->m_lastAnswerAtMs = ModuleSnapshot::nowMs();
}

bool ScriptBridge::checkArgument(const QJSValue& value, int type, const QByteArray& name, QString* problem) const
{
    double n = 0;
    const QString what = QString::fromLatin1(name);
    switch (type) {
    case QMetaType::Int:
        if (name == "channel") {
            if (!wholeNumber(value, 0, m_channelCount - 1, &n)) {
                *problem =
                    value.isNumber() && std::isfinite(value.toNumber()) && std::floor(value.toNumber()) == value.toNumber()
                    ? QStringLiteral("channel %1 is outside 0..%2").arg(value.toString()).arg(m_channelCount - 1)
                    : QStringLiteral("channel %1 is not a whole number").arg(value.toString());
                return false;
            }
            return true;
        }
        if (!wholeNumber(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), &n)) {
            *problem = QStringLiteral("%1 %2 is not a whole number within the range of int").arg(what, value.toString());
            return false;
        }
        return true;
    case QMetaType::UInt:
    case QMetaType::UShort:
        if (!wholeNumber(value, 0, type == QMetaType::UShort ? 0xFFFF : 0xFFFFFFFFu, &n)) {
            *problem = QStringLiteral("%1 %2 is not a whole number from 0 to %3")
                           .arg(what, value.toString())
                           .arg(type == QMetaType::UShort ? 0xFFFF : 0xFFFFFFFFu);
            return false;
        }
        return true;
    case QMetaType::Float:
    case QMetaType::Double:
        if (!value.isNumber() || !std::isfinite(value.toNumber())) {
            *problem = QStringLiteral("%1 %2 is not a finite number").arg(what, value.toString());
            return false;
        }
        if (type == QMetaType::Float && std::fabs(value.toNumber()) > double(std::numeric_limits<float>::max())) {
            *problem = QStringLiteral("%1 %2 is too large").arg(what, value.toString());
            return false;
        }
        return true;
    default:
        return true;
    }
}

bool ScriptBridge::waitForWriteTurn(QJSEngine* engine)
{
    const qint64 intervalMs = 1000 / ScriptRunner::maxWritesPerSecond;
    const qint64 now = ModuleSnapshot::nowMs();
    if (m_nextWriteAtMs > now && !m_runner->delay(int(m_nextWriteAtMs - now))) {
        stopped(engine);
        return false;
    }
    if (stopped(engine))
        return false;
    m_nextWriteAtMs = std::max(m_nextWriteAtMs, now) + intervalMs;
    return true;
}

void ScriptBridge::noteSwitchedOn(const QString& name, const QVariant* values, int count)
{
    QList<int> channels;
    if (name == QLatin1String("setChannelOn") && count == 1)
        channels.append(values[0].toInt());
    else if (name == QLatin1String("setChannelControl") && count == 2 && (values[1].toUInt() & ChannelControlBit::on))
        channels.append(values[0].toInt());
    else if (name == QLatin1String("setSelectedChannelsOn") && count == 1) {
        for (int bit = 0; bit < 32; ++bit) {
            if (values[0].toUInt() & (1u << bit))
                channels.append(bit);
        }
    }
    if (channels.isEmpty())
        return;
    QMutexLocker lock(&m_runner->m_switchedMutex);
    for (int c : channels) {
        if (!m_runner->m_switchedOn.contains(c))
            m_runner->m_switchedOn.append(c);
    }
}

bool ScriptBridge::channelReading(int channel, ChannelReading* reading, QString* reason)
{
    const qint64 now = ModuleSnapshot::nowMs();
    const QString voltageUnit = m_module->voltageUnit(0);
    const QString currentUnit = m_module->currentUnit(0);
    // Read (started) after the script's latest write and within the tick, in today's units.
    const auto usable = [&](qint64 readAtMs, const QVector<ChannelReading>& channels, const QString& vu, const QString& cu) {
        return readAtMs > m_lastWriteAtMs && now - readAtMs <= Poller::tickMs && channel < channels.size()
            && channels.at(channel).complete && vu == voltageUnit && cu == currentUnit;
    };
    if (m_runner->m_snapshots) {
        const std::shared_ptr<const ModuleSnapshot> snapshot = m_runner->m_snapshots();
        if (snapshot
            && usable(snapshot->channelsReadAtMs, snapshot->channels, snapshot->voltageUnit, snapshot->currentUnit)) {
            *reading = snapshot->channels.at(channel);
            return true;
        }
    }
    if (!usable(m_channelsReadAtMs, m_channels, m_channelsVoltageUnit, m_channelsCurrentUnit)) {
        const qint64 startMs = ModuleSnapshot::nowMs();
        m_channels = m_module->readChannels();
        m_channelsError = m_module->lastError();
        m_channelsReadAtMs = startMs;
        m_channelsVoltageUnit = voltageUnit;
        m_channelsCurrentUnit = currentUnit;
        if (std::any_of(m_channels.cbegin(), m_channels.cend(), [](const ChannelReading& r) { return r.complete; }))
            answered();
    }
    if (channel >= m_channels.size() || !m_channels.at(channel).complete) {
        *reason = m_channelsError.isEmpty() ? QStringLiteral("no answer") : m_channelsError;
        return false;
    }
    *reading = m_channels.at(channel);
    return true;
}

QJSValue ScriptBridge::checkedRead(QJSEngine* engine, ReadKind kind, const QString& name, const QString& callText,
    int channel, const QVariant& firstArgument)
{
    QVariant value;
    QString reason;
    bool ok = false;
    switch (kind) {
    case ReadKind::ChannelTable: {
        ChannelReading r;
        ok = channelReading(channel, &r, &reason);
        static const QHash<QString, std::function<QVariant(const ChannelReading&)>> fields = {
            {QStringLiteral("channelVoltageSet"), [](const ChannelReading& c) { return QVariant(c.voltageSet); }},
            {QStringLiteral("channelCurrentSet"), [](const ChannelReading& c) { return QVariant(c.currentSet); }},
            {QStringLiteral("channelVoltageMeasure"), [](const ChannelReading& c) { return QVariant(c.voltageMeasure); }},
            {QStringLiteral("channelCurrentMeasure"), [](const ChannelReading& c) { return QVariant(c.currentMeasure); }},
            {QStringLiteral("channelVoltageNominal"), [](const ChannelReading& c) { return QVariant(c.voltageNominal); }},
            {QStringLiteral("channelCurrentNominal"), [](const ChannelReading& c) { return QVariant(c.currentNominal); }},
            {QStringLiteral("channelControl"), [](const ChannelReading& c) { return QVariant(c.control); }},
            {QStringLiteral("channelStatus"), [](const ChannelReading& c) { return QVariant(c.status); }},
        };
        if (ok)
            value = fields.value(name)(r);
        break;
    }
    case ReadKind::ChannelSettings: {
        ChannelSettings s;
        ok = m_module->readChannelSettings(channel, &s);
        if (name == QLatin1String("channelVoltageHardwareNominal"))
            value = s.voltageHardwareNominal;
        else if (name == QLatin1String("channelCurrentHardwareNominal"))
            value = s.currentHardwareNominal;
        else if (name == QLatin1String("channelDelayedTripEnabled"))
            value = s.delayedTripEnabled;
        else if (name == QLatin1String("channelDelayedTripRampDown"))
            value = s.delayedTripRampDown;
        else
            value = s.delayedTripTimeMs;
        break;
    }
    case ReadKind::ModuleControl: {
        quint32 word = 0;
        ok = m_module->readControl(&word);
        value = word;
        break;
    }
    case ReadKind::ModuleValues: {
        const bool temperatures = name == QLatin1String("temperature");
        const bool supplies = name.startsWith(QLatin1String("supply")) || name.endsWith(QLatin1String("Limit"));
        const ModuleReading m = m_module->readModuleValues(temperatures, supplies);
        if (temperatures) {
            const int index = firstArgument.isValid() ? firstArgument.toInt() : 0;
            ok = m.temperaturesValid && index >= 0 && index < 4;
            value = ok ? m.temperature[index] : 0.0f;
            if (m.temperaturesValid && !ok)
                reason = QStringLiteral("no temperature %1").arg(index);
        } else if (supplies) {
            ok = m.suppliesValid;
            value = name == QLatin1String("supplyP5")   ? m.supplyP5
                : name == QLatin1String("supplyP12")    ? m.supplyP12
                : name == QLatin1String("supplyN12")    ? m.supplyN12
                : name == QLatin1String("voltageLimit") ? m.voltageLimit
                                                        : m.currentLimit;
        } else if (name.endsWith(QLatin1String("RampSpeed"))) {
            ok = m.rampSpeedsValid;
            value = name == QLatin1String("voltageRampSpeed") ? m.voltageRampSpeed : m.currentRampSpeed;
        } else {
            ok = m.statusValid;
            value = name == QLatin1String("status") ? m.status : m.eventStatus;
        }
        if (!ok && reason.isEmpty())
            reason = QStringLiteral("no answer");
        break;
    }
    case ReadKind::ModuleWords:
    case ReadKind::ChannelEventWords:
    case ReadKind::ChannelBounds:
    case ReadKind::InterlockOut: {
        ToolWindowReading::Groups groups;
        groups.moduleWords = kind == ReadKind::ModuleWords;
        groups.channelEventWords = kind == ReadKind::ChannelEventWords;
        groups.bounds = kind == ReadKind::ChannelBounds;
        groups.interlockOut = kind == ReadKind::InterlockOut;
        if (ToolWindowReading::readableGroups(*m_module, groups) == 0) {
            reason = QStringLiteral("not offered by this module");
            break;
        }
        const ToolWindowReading w = ToolWindowReading::read(*m_module, groups);
        ok = w.validGroups() > 0;
        const auto at = [channel](
                            const auto& vector) { return channel >= 0 && channel < vector.size() ? vector.at(channel) : 0; };
        static const QHash<QString, std::function<QVariant(const ToolWindowReading&, int)>> fields = {
            {QStringLiteral("eventMask"), [](const ToolWindowReading& r, int) { return QVariant(r.eventMask); }},
            {QStringLiteral("restartTime"), [](const ToolWindowReading& r, int) { return QVariant(r.restartTime); }},
            {QStringLiteral("eventChannelStatus"),
                [](const ToolWindowReading& r, int) { return QVariant(r.eventChannelStatus); }},
            {QStringLiteral("eventChannelMask"),
                [](const ToolWindowReading& r, int) { return QVariant(r.eventChannelMask); }},
            {QStringLiteral("eventGroupStatus"),
                [](const ToolWindowReading& r, int) { return QVariant(r.eventGroupStatus); }},
            {QStringLiteral("eventGroupMask"), [](const ToolWindowReading& r, int) { return QVariant(r.eventGroupMask); }},
            {QStringLiteral("GetModuleIlkOutStatus"),
                [](const ToolWindowReading& r, int) { return QVariant(r.interlockStatus); }},
            {QStringLiteral("GetModuleIlkOutControl"),
                [](const ToolWindowReading& r, int) { return QVariant(r.interlockControl); }},
            {QStringLiteral("GetModuleIlkOutCount"),
                [](const ToolWindowReading& r, int) { return QVariant(r.interlockCount); }},
            {QStringLiteral("GetModuleIlkOutLastTrigger"),
                [](const ToolWindowReading& r, int) { return QVariant(r.interlockLastTrigger); }},
            {QStringLiteral("GetModuleIlkOutChnActualActive"),
                [](const ToolWindowReading& r, int) { return QVariant(r.interlockChannelActualActive); }},
            {QStringLiteral("GetModuleIlkOutChnEverTriggered"),
                [](const ToolWindowReading& r, int) { return QVariant(r.interlockChannelEverTriggered); }},
        };
        if (fields.contains(name))
            value = fields.value(name)(w, channel);
        else if (name == QLatin1String("channelEventStatus"))
            value = at(w.channelEventStatus);
        else if (name == QLatin1String("channelEventMask"))
            value = at(w.channelEventMask);
        else if (name == QLatin1String("channelVoltageInterlockMaxSet"))
            value = at(w.voltageInterlockMax);
        else if (name == QLatin1String("channelVoltageInterlockMinSet"))
            value = at(w.voltageInterlockMin);
        else if (name == QLatin1String("channelCurrentInterlockMaxSet"))
            value = at(w.currentInterlockMax);
        else
            value = at(w.currentInterlockMin);
        if (!ok)
            reason = QStringLiteral("no answer");
        break;
    }
    case ReadKind::Unchecked:
        reason = QStringLiteral("not offered to scripts (this read cannot tell a failed read from a value)");
        break;
    case ReadKind::Local:
        break;
    }
    if (!ok) {
        if (reason.isEmpty())
            reason = m_module->lastError().isEmpty() ? QStringLiteral("no answer") : m_module->lastError();

        engine->throwError(QStringLiteral("%1: %2").arg(callText, reason));
        return {};
    }
    if (kind != ReadKind::ChannelTable)
        answered();
    return engine->toScriptValue(value);
}
