#include "OpcStandInServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace {

using Lock = std::lock_guard<std::mutex>;

const QByteArray reachableItem = "Simulation.Reachable";

// Two modules on bus 0: sixteen 4 kV channels and a measurement module.
const char* const builtInConfig = R"({
  "busStatus": "OK",
  "crate": {"name": "bus0.crate", "serialNumber": "5300", "firmware": "01.10"},
  "modules": [
    {"name": "bus0.module0", "firmwareName": "THE1640p", "deviceClass": 24, "channels": 16,
     "serialNumber": "4714000", "release": "02.10", "nominalVoltage": 4000, "nominalCurrent": 2,
     "currentUnit": "mA"},
    {"name": "bus0.module1", "firmwareName": "TMM0800m", "deviceClass": 90, "channels": 8,
     "serialNumber": "4714001", "release": "02.10", "nominalVoltage": 10, "nominalCurrent": 1,
     "currentUnit": "mA", "signal": 2.5}
  ]
})";

constexpr int measurementDeviceClass = 90;

// Channel status bits.
constexpr quint32 statusOn = 0x0008;
constexpr quint32 statusEmergencyOff = 0x0020;
constexpr quint32 statusConstantVoltage = 0x0080;

double amperesPerUnit(const QString& unit)
{
    if (unit == QLatin1String("nA"))
        return 1e-9;
    if (unit == QLatin1String("uA") || unit == QString(QChar(0x00B5)) + QLatin1Char('A'))
        return 1e-6;
    if (unit == QLatin1String("mA"))
        return 1e-3;
    return 1;
}

double typed(OpcStandInServer::Type type, double value)
{
    switch (type) {
    case OpcStandInServer::Type::Bool:
        return value != 0 ? 1 : 0;
    case OpcStandInServer::Type::Byte:
        return double(quint32(qint64(value)) & 0xFFu);
    case OpcStandInServer::Type::Word:
        return double(quint32(qint64(value)) & 0xFFFFu);
    case OpcStandInServer::Type::Long:
        return double(quint32(qint64(value)));
    case OpcStandInServer::Type::Float:
        return double(float(value));
    case OpcStandInServer::Type::Text:
        break;
    }
    return value;
}

} // namespace

void OpcStandInServer::clear()
{
    Lock lock(m_mutex);
    m_items.clear();
    m_modules.clear();
    m_crate.clear();
}

void OpcStandInServer::load(const QString& configPath)
{
    Lock lock(m_mutex);
    m_items.clear();
    m_modules.clear();
    m_crate.clear();
    QByteArray json = builtInConfig;
    QString error;
    if (!configPath.isEmpty()) {
        QFile file(configPath);
        if (file.open(QIODevice::ReadOnly))
            json = file.readAll();
        else
            error = QStringLiteral("%1: %2").arg(configPath, file.errorString());
    }
    if (error.isEmpty() && !loadJson(json, &error) && !configPath.isEmpty())
        error = QStringLiteral("%1: %2").arg(configPath, error);
    if (!error.isEmpty()) {
        // A server without modules that says what is wrong in its bus status.
        m_items.clear();
        m_modules.clear();
        m_crate.clear();
        addItem("Status.CAN", Type::Text, 0, "Configuration error: " + error.toLatin1());
        addItem("Status.LiveInsertionMode", Type::Bool);
        std::fprintf(stderr, "tesmarOpcClientLibrary (stand-in): %s\n", error.toLocal8Bit().constData());
    }
    addItem(reachableItem, Type::Bool, 1);
    update();
}

bool OpcStandInServer::loadJson(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                              : QStringLiteral("the configuration is not a JSON object");
        return false;
    }
    const QJsonObject root = document.object();
    addItem("Status.CAN", Type::Text, 0, root.value(QStringLiteral("busStatus")).toString(QStringLiteral("OK")).toLatin1());
    addItem("Status.LiveInsertionMode", Type::Bool);

    const QJsonObject crate = root.value(QStringLiteral("crate")).toObject();
    m_crate = crate.value(QStringLiteral("name")).toString(QStringLiteral("bus0.crate")).toLatin1();
    const QByteArray c = m_crate + '.';
    addItem(c + "Supply5V", Type::Float, 5.05);
    addItem(c + "Supply24V", Type::Float, 24.2);
    addItem(c + "Battery", Type::Float, 3.1);
    addItem(c + "TempBackPlane", Type::Float, 28.5);
    addItem(c + "TempPowerSupply", Type::Float, 35.0);
    addItem(c + "FanStageBackPlane", Type::Byte, 2);
    addItem(c + "FanStagePowerSupply", Type::Byte, 1);
    addItem(c + "Status", Type::Byte, 0);
    addItem(c + "StatusACLinePower", Type::Bool, 1);
    addItem(c + "On", Type::Bool, 1);
    addItem(c + "DeviceID", Type::Text, 0,
        crate.value(QStringLiteral("serialNumber")).toString(QStringLiteral("5300")).toLatin1());
    addItem(c + "SoftwareID", Type::Text, 0,
        crate.value(QStringLiteral("firmware")).toString(QStringLiteral("01.10")).toLatin1());
    addItem(c + "BitRate", Type::Word, 250);
    addItem(c + "Alive", Type::Bool, 1);
    addItem(c + "AlarmFlag", Type::Bool, 0);
    addItem(c + "AlarmInformation", Type::Text);
    addItem(c + "AlarmValue", Type::Float, 0);

    const QJsonArray modules = root.value(QStringLiteral("modules")).toArray();
    for (const QJsonValue& value : modules) {
        const QJsonObject entry = value.toObject();
        Module module;
        module.name = entry.value(QStringLiteral("name")).toString().toLatin1();
        if (module.name.isEmpty() || module.name.endsWith('.')) {
            *error = QStringLiteral("a module without a name, or one ending with '.'");
            return false;
        }
        module.channels = entry.value(QStringLiteral("channels")).toInt(8);
        if (module.channels < 1 || module.channels > 100) {
            *error = QStringLiteral("module %1: channels must be 1 to 100").arg(QString::fromLatin1(module.name));
            return false;
        }
        const int deviceClass = entry.value(QStringLiteral("deviceClass")).toInt(0);
        module.measurement = deviceClass == measurementDeviceClass;
        const QString voltageUnit = entry.value(QStringLiteral("voltageUnit")).toString(QStringLiteral("V"));
        const QString currentUnit = entry.value(QStringLiteral("currentUnit")).toString(QStringLiteral("mA"));
        module.voltsPerUnit = voltageUnit == QLatin1String("kV") ? 1000 : 1;
        module.amperesPerUnit = amperesPerUnit(currentUnit);
        module.loadOhms = entry.value(QStringLiteral("load")).toDouble(10e6);
        module.signalVolts = entry.value(QStringLiteral("signal")).toDouble(0);
        const double nominalVoltage = entry.value(QStringLiteral("nominalVoltage")).toDouble(1000);
        const double nominalCurrent = entry.value(QStringLiteral("nominalCurrent")).toDouble(1);
        if (module.loadOhms <= 0 || nominalVoltage <= 0 || nominalCurrent <= 0) {
            *error =
                QStringLiteral("module %1: load and nominal values must be above 0").arg(QString::fromLatin1(module.name));
            return false;
        }

        const QByteArray p = module.name + '.';
        addItem(p + "Alive", Type::Bool, 1);
        addItem(p + "DeviceID", Type::Text, 0, entry.value(QStringLiteral("serialNumber")).toString().toLatin1());
        addItem(p + "FirmwareName", Type::Text, 0, entry.value(QStringLiteral("firmwareName")).toString().toLatin1());
        addItem(p + "SoftwareID", Type::Text, 0, entry.value(QStringLiteral("release")).toString().toLatin1());
        addItem(p + "DeviceClass", Type::Byte, deviceClass);
        addItem(p + "AlarmInformation", Type::Byte, 0);
        addItem(p + "BoardTemp", Type::Float, 31.5);
        addItem(p + "Supply5V", Type::Float, 5.02);
        addItem(p + "Supply24V", Type::Float, 24.1);
        addItem(p + "HardwareVLimit", Type::Float, nominalVoltage);
        addItem(p + "HardwareILimit", Type::Float, nominalCurrent);
        addItem(p + "ADCFilterFrequency", Type::Word, 50);
        for (const char* word : {"Status", "EventStatus", "EventMask", "EventChannelStatus", "EventChannelMask"})
            addItem(p + word, Type::Word);
        addItem(p + "RampSpeed", Type::Float, entry.value(QStringLiteral("rampSpeed")).toDouble(5));
        addItem(p + "IRampSpeed", Type::Float, 5);
        for (const char* flag : {"setKillEnable", "setAdjust", "doClear", "doMultiplex", "setR1", "setR2"})
            addItem(p + flag, Type::Bool);
        addItem(p + "VSetAllChannels", Type::Float);
        addItem(p + "ISetAllChannels", Type::Float);
        addItem(p + "On", Type::Long);
        addItem(p + "Emcy", Type::Long);
        addItem(p + "GroupNumber", Type::Byte);
        addItem(p + "GroupVariable", Type::Long);
        addItem(p.left(p.indexOf('.')) + ".LogLevel", Type::Word);

        const QByteArray volts = voltageUnit.toLatin1();
        const QByteArray amperes = currentUnit.toLatin1();
        for (int channel = 0; channel < module.channels; ++channel) {
            for (const char* word : {"Status", "EventStatus", "EventMask"})
                addItem(channelItem(module, channel, word), Type::Word);
            for (const char* flag : {"setExternalMeas", "setRipple", "On", "Emergency"})
                addItem(channelItem(module, channel, flag), Type::Bool);
            addItem(channelItem(module, channel, "IMeasRange"), Type::Byte);
            addItem(channelItem(module, channel, "VSet"), Type::Float);
            addItem(channelItem(module, channel, "ISet"), Type::Float, nominalCurrent);
            addItem(channelItem(module, channel, "VMeas"), Type::Float);
            addItem(channelItem(module, channel, "IMeas"), Type::Float);
            addItem(channelItem(module, channel, "NominalV"), Type::Float, nominalVoltage);
            addItem(channelItem(module, channel, "NominalI"), Type::Float, nominalCurrent);
            for (const char* item : {"VSet", "VMeas", "NominalV"})
                addItem(channelItem(module, channel, item) + "#100", Type::Text, 0, volts);
            for (const char* item : {"ISet", "IMeas", "NominalI"})
                addItem(channelItem(module, channel, item) + "#100", Type::Text, 0, amperes);
        }
        m_modules.append(module);
    }
    return true;
}

void OpcStandInServer::addItem(const QByteArray& name, Type type, double number, const QByteArray& text)
{
    m_items.insert(name, Item{type, typed(type, number), text});
}

QByteArray OpcStandInServer::channelItem(const Module& module, int channel, const char* suffix) const
{
    return module.name + ".ch" + QByteArray::number(channel).rightJustified(2, '0') + '.' + suffix;
}

double OpcStandInServer::number(const QByteArray& item) const
{
    return m_items.value(item).number;
}

void OpcStandInServer::setNumber(const QByteArray& item, double value)
{
    auto found = m_items.find(item);
    if (found != m_items.end() && found->type != Type::Text)
        found->number = typed(found->type, value);
}

bool OpcStandInServer::reachable() const
{
    return m_items.value(reachableItem).number != 0;
}

bool OpcStandInServer::readNumber(const QByteArray& item, double* value)
{
    Lock lock(m_mutex);
    *value = 0;
    const auto found = m_items.constFind(item);
    if (found == m_items.constEnd() || (item != reachableItem && !reachable()))
        return false;
    *value = found->type == Type::Text ? found->text.toDouble() : found->number;
    return true;
}

bool OpcStandInServer::readText(const QByteArray& item, QByteArray* text)
{
    Lock lock(m_mutex);
    text->clear();
    const auto found = m_items.constFind(item);
    if (found == m_items.constEnd() || (item != reachableItem && !reachable()))
        return false;
    *text = found->type == Type::Text ? found->text : QByteArray::number(found->number);
    return true;
}

void OpcStandInServer::write(const QByteArray& item, double value)
{
    Lock lock(m_mutex);
    if (!m_items.contains(item) || (item != reachableItem && !reachable()))
        return;
    if (!applyWrite(item, value))
        setNumber(item, value);
    update();
}

bool OpcStandInServer::applyWrite(const QByteArray& item, double value)
{
    const quint32 bits = quint32(qint64(value));
    if (item == m_crate + ".On" && value == 0) {
        // The crate's high voltage off switches every channel off.
        for (const Module& module : qAsConst(m_modules)) {
            for (int channel = 0; channel < module.channels; ++channel)
                setNumber(channelItem(module, channel, "On"), 0);
        }
        return false;
    }
    for (Module& module : m_modules) {
        const QByteArray prefix = module.name + '.';
        if (!item.startsWith(prefix))
            continue;
        const QByteArray suffix = item.mid(prefix.size());
        const QByteArray p = prefix;
        if (suffix == "On" || suffix == "Emcy") {
            // The masks are the channels' bits: update() writes them back.
            for (int channel = 0; channel < module.channels && channel < 32; ++channel) {
                const bool set = (bits >> channel) & 1u;
                if (suffix == "On")
                    setNumber(channelItem(module, channel, "On"), set);
                else
                    setEmergency(module, channel, set);
            }
            return true;
        }
        if (suffix.endsWith(".Emergency")) {
            setEmergency(module, suffix.mid(2, suffix.indexOf('.') - 2).toInt(), value != 0);
            return true;
        }
        if (suffix == "VSetAllChannels" || suffix == "ISetAllChannels") {
            for (int channel = 0; channel < module.channels; ++channel)
                applyWrite(channelItem(module, channel, suffix == "VSetAllChannels" ? "VSet" : "ISet"), value);
            return false;
        }
        if (suffix == "doClear") {
            setNumber(p + "EventStatus", 0);
            setNumber(p + "EventChannelStatus", 0);
            for (int channel = 0; channel < module.channels; ++channel)
                setNumber(channelItem(module, channel, "EventStatus"), 0);
            return true; // an action: reads false again
        }
        if (suffix == "doMultiplex")
            return true;
        if (suffix == "EventStatus" || suffix == "EventChannelStatus" || suffix.endsWith(".EventStatus")) {
            // Writing ones resets those events.
            setNumber(item, quint32(number(item)) & ~bits);
            return true;
        }
        if (suffix == "GroupNumber") {
            setNumber(item, value);
            setNumber(p + "GroupVariable", module.groupVariables[quint32(number(item)) % 32]);
            return true;
        }
        if (suffix == "GroupVariable") {
            module.groupVariables[quint32(number(p + "GroupNumber")) % 32] = bits;
            return false;
        }
        if (suffix.endsWith(".VSet") || suffix.endsWith(".ISet")) {
            // A set value outside 0..nominal is not taken.
            const QByteArray nominal = item.left(item.size() - 4) + (suffix.endsWith(".VSet") ? "NominalV" : "NominalI");
            if (value < 0 || float(value) > float(number(nominal)))
                return true;
            setNumber(item, value);
            return true;
        }
        return false;
    }
    return false;
}

void OpcStandInServer::setEmergency(const Module& module, int channel, bool set)
{
    const QByteArray item = channelItem(module, channel, "Emergency");
    if (set && number(item) == 0) {
        // An emergency off is an event of the channel, and of the module for that channel.
        const QByteArray events = channelItem(module, channel, "EventStatus");
        setNumber(events, quint32(number(events)) | statusEmergencyOff);
        if (channel < 32) {
            const QByteArray channels = module.name + ".EventChannelStatus";
            setNumber(channels, quint32(number(channels)) | (1u << channel));
        }
    }
    setNumber(item, set);
}

void OpcStandInServer::update()
{
    const bool crateOn = m_crate.isEmpty() || number(m_crate + ".On") != 0;
    for (const Module& module : qAsConst(m_modules)) {
        quint32 onMask = 0;
        quint32 emergencyMask = 0;
        for (int channel = 0; channel < module.channels; ++channel) {
            const bool on = number(channelItem(module, channel, "On")) != 0;
            const bool emergency = number(channelItem(module, channel, "Emergency")) != 0;
            if (channel < 32) {
                onMask |= quint32(on) << channel;
                emergencyMask |= quint32(emergency) << channel;
            }
            const bool output = crateOn && on && !emergency;
            double measuredUnits = 0;
            if (module.measurement) {
                // External signal, with a small ripple on top while that is measured.
                if (number(channelItem(module, channel, "setExternalMeas")) != 0)
                    measuredUnits += module.signalVolts / module.voltsPerUnit;
                if (number(channelItem(module, channel, "setRipple")) != 0)
                    measuredUnits += 0.001 / module.voltsPerUnit;
            } else if (output) {
                measuredUnits = number(channelItem(module, channel, "VSet"));
            }
            setNumber(channelItem(module, channel, "VMeas"), measuredUnits);
            const double amperes = std::fabs(measuredUnits) * module.voltsPerUnit / module.loadOhms;
            setNumber(channelItem(module, channel, "IMeas"), module.measurement ? 0 : amperes / module.amperesPerUnit);
            quint32 status = 0;
            if (output && !module.measurement)
                status |= statusOn | statusConstantVoltage;
            if (emergency)
                status |= statusEmergencyOff;
            setNumber(channelItem(module, channel, "Status"), status);
        }
        setNumber(module.name + ".On", onMask);
        setNumber(module.name + ".Emcy", emergencyMask);
    }
}

bool OpcStandInServer::moduleList(QByteArray* text)
{
    Lock lock(m_mutex);
    text->clear();
    if (!reachable())
        return false;
    // Every name followed by ';', as the server lists them.
    for (const Module& module : qAsConst(m_modules))
        *text += module.name + ';';
    return true;
}

bool OpcStandInServer::channelList(QByteArray* text)
{
    Lock lock(m_mutex);
    text->clear();
    if (!reachable())
        return false;
    for (const Module& module : qAsConst(m_modules)) {
        for (int channel = 0; channel < module.channels; ++channel)
            *text += module.name + ".ch" + QByteArray::number(channel).rightJustified(2, '0') + ';';
    }
    return true;
}
