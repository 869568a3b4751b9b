#include "CrateConfig.h"

#include "ModuleType.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double defaultLoadOhms = 10e6;
constexpr int maxDescriptionOctets = 39;
constexpr int maxChannels = 100; // rows slot*100+1 .. slot*100+100 stay inside the slot

bool readPerChannel(const QJsonObject& object, const QString& key, int channels, std::vector<double>* values, QString* error,
    const QString& where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    auto toOhms = [](const QJsonValue& v, double* out) {
        if (v.isString() && v.toString() == QLatin1String("open")) {
            *out = std::numeric_limits<double>::infinity();
            return true;
        }
        if (!v.isDouble() || v.toDouble() < 0)
            return false;
        *out = v.toDouble();
        return true;
    };
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        if (array.size() != channels) {
            *error = QStringLiteral("%1: \"%2\" needs %3 values, has %4").arg(where, key).arg(channels).arg(array.size());
            return false;
        }
        for (int i = 0; i < channels; ++i) {
            if (!toOhms(array.at(i), &(*values)[size_t(i)])) {
                *error = QStringLiteral("%1: \"%2\" value %3 is not a number >= 0").arg(where, key).arg(i);
                return false;
            }
        }
        return true;
    }
    double single = 0;
    if (!toOhms(value, &single)) {
        *error = QStringLiteral("%1: \"%2\" must be a number >= 0, \"open\" or an array").arg(where, key);
        return false;
    }
    std::fill(values->begin(), values->end(), single);
    return true;
}

// Optional per-channel nominal values: one number per channel from minimum to the module's value.
bool readChannelNominals(const QJsonObject& object, const QString& key, int channels, double minimum, double moduleNominal,
    std::vector<double>* values, QString* error, const QString& where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    if (!value.isArray()) {
        *error = QStringLiteral("%1: \"%2\" must be an array with one value per channel").arg(where, key);
        return false;
    }
    const QJsonArray array = value.toArray();
    if (array.size() != channels) {
        *error = QStringLiteral("%1: \"%2\" needs %3 values, has %4").arg(where, key).arg(channels).arg(array.size());
        return false;
    }
    values->assign(size_t(channels), moduleNominal);
    for (int i = 0; i < channels; ++i) {
        const QJsonValue entry = array.at(i);
        if (!entry.isDouble() || entry.toDouble() < minimum || entry.toDouble() > moduleNominal) {
            *error = QStringLiteral("%1: \"%2\" value %3 must be a number from %4 to the module's %5")
                         .arg(where, key)
                         .arg(i)
                         .arg(minimum)
                         .arg(moduleNominal);
            return false;
        }
        (*values)[size_t(i)] = entry.toDouble();
    }
    return true;
}

bool readNumber(
    const QJsonObject& object, const QString& key, double* out, QString* error, const QString& where, double min, double max)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    if (!value.isDouble() || value.toDouble() < min || value.toDouble() > max) {
        *error = QStringLiteral("%1: \"%2\" must be a number from %3 to %4").arg(where, key).arg(min).arg(max);
        return false;
    }
    *out = value.toDouble();
    return true;
}

bool readText(const QJsonObject& object, const QString& key, QString* out, QString* error, const QString& where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    if (value.isDouble()) {
        *out = QString::number(qint64(value.toDouble()));
        return true;
    }
    if (!value.isString() || value.toString().isEmpty()) {
        *error = QStringLiteral("%1: \"%2\" must be a non-empty text").arg(where, key);
        return false;
    }
    *out = value.toString();
    return true;
}

// "supervisionBehavior": the starting outputSupervisionBehavior word (0 to 65535) of every
// channel, or an array with one word per channel.
bool readBehaviours(const QJsonObject& object, int channels, std::vector<int>* words, QString* error, const QString& where)
{
    const QString key = QStringLiteral("supervisionBehavior");
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    const QJsonArray array = value.isArray() ? value.toArray() : QJsonArray();
    if (value.isArray() && array.size() != channels) {
        *error = QStringLiteral("%1: \"%2\" needs %3 values, has %4").arg(where, key).arg(channels).arg(array.size());
        return false;
    }
    for (int i = 0; i < channels; ++i) {
        const QJsonValue entry = value.isArray() ? array.at(i) : value;
        const double word = entry.toDouble(-1);
        if (!entry.isDouble() || word < 0 || word > 65535 || word != std::floor(word)) {
            *error = QStringLiteral("%1: \"%2\" must be a whole number from 0 to 65535 or an array of them").arg(where, key);
            return false;
        }
        (*words)[size_t(i)] = int(word);
    }
    return true;
}

bool parseModule(const QJsonObject& object, ModuleConfig* module, QString* error)
{
    double slot = -1;
    if (!object.value(QStringLiteral("slot")).isDouble()) {
        *error = QStringLiteral("module without a \"slot\" number");
        return false;
    }
    if (!readNumber(object, QStringLiteral("slot"), &slot, error, QStringLiteral("module"), 0, 9))
        return false;
    const QString where = QStringLiteral("module in slot %1").arg(int(slot));
    const QString typeName = object.value(QStringLiteral("type")).toString();
    const ModuleType* type = ModuleType::find(typeName);
    if (!type) {
        *error = QStringLiteral("%1: unknown module type \"%2\"").arg(where, typeName);
        return false;
    }
    *module = CrateConfig::moduleOfType(*type, int(slot), 4711001 + int(slot));

    double channels = module->channels;
    if (!readNumber(object, QStringLiteral("channels"), &channels, error, where, 1, maxChannels))
        return false;
    double serial = module->serialNumber;
    if (!readNumber(object, QStringLiteral("serialNumber"), &serial, error, where, 0, 2147483647.0))
        return false;
    if (!readText(object, QStringLiteral("firmwareRelease"), &module->firmwareRelease, error, where)
        || !readText(object, QStringLiteral("vendor"), &module->vendor, error, where))
        return false;
    if (!readNumber(object, QStringLiteral("nominalVoltage"), &module->nominalVoltage, error, where, 1, 100000)
        || !readNumber(object, QStringLiteral("nominalCurrent"), &module->nominalCurrent, error, where, 1e-9, 100)
        || !readNumber(object, QStringLiteral("rampSpeed"), &module->rampSpeedPercent, error, where, 0.001, 100))
        return false;
    const QJsonValue polarity = object.value(QStringLiteral("polarity"));
    if (!polarity.isUndefined()) {
        const QString p = polarity.toString();
        if (p.size() != 1 || !QStringLiteral("pnrb").contains(p) || type->isMeasurement()) {
            *error = QStringLiteral("%1: \"polarity\" must be one of p, n, r, b (not for a measurement module)").arg(where);
            return false;
        }
        module->polarity = p.at(0).toLatin1();
    }
    module->channels = int(channels);
    module->serialNumber = int(serial);
    module->loadOhms.assign(size_t(module->channels), defaultLoadOhms);
    module->signalVolts.resize(size_t(module->channels));
    for (int i = 0; i < module->channels; ++i)
        module->signalVolts[size_t(i)] = 1.0 + 0.25 * i;
    if (!readPerChannel(object, QStringLiteral("load"), module->channels, &module->loadOhms, error, where)
        || !readPerChannel(object, QStringLiteral("signal"), module->channels, &module->signalVolts, error, where))
        return false;
    module->supervisionBehaviours.assign(size_t(module->channels), 0);
    if (!readBehaviours(object, module->channels, &module->supervisionBehaviours, error, where))
        return false;
    if (type->isMeasurement()
        && (object.contains(QStringLiteral("channelNominalVoltages"))
            || object.contains(QStringLiteral("channelNominalCurrents")))) {
        *error = QStringLiteral("%1: a measurement module has no per-channel nominal values").arg(where);
        return false;
    }
    if (!readChannelNominals(object, QStringLiteral("channelNominalVoltages"), module->channels, 1, module->nominalVoltage,
            &module->channelNominalVoltages, error, where)
        || !readChannelNominals(object, QStringLiteral("channelNominalCurrents"), module->channels, 1e-9,
            module->nominalCurrent, &module->channelNominalCurrents, error, where))
        return false;
    if (module->description().toLatin1().size() > maxDescriptionOctets) {
        *error = QStringLiteral("%1: description \"%2\" is longer than %3 octets")
                     .arg(where, module->description())
                     .arg(maxDescriptionOctets);
        return false;
    }
    return true;
}

} // namespace

QString ModuleConfig::description() const
{
    return QStringLiteral("%1, %2, %3, %4, %5")
        .arg(vendor, QLatin1String(type ? type->name : ""))
        .arg(channels)
        .arg(serialNumber)
        .arg(firmwareRelease);
}

double ModuleConfig::channelNominalVoltage(int channel) const
{
    return channel >= 0 && size_t(channel) < channelNominalVoltages.size() ? channelNominalVoltages[size_t(channel)]
                                                                           : nominalVoltage;
}

double ModuleConfig::channelNominalCurrent(int channel) const
{
    return channel >= 0 && size_t(channel) < channelNominalCurrents.size() ? channelNominalCurrents[size_t(channel)]
                                                                           : nominalCurrent;
}

ModuleConfig CrateConfig::moduleOfType(const ModuleType& type, int slot, int serialNumber)
{
    ModuleConfig module;
    module.slot = slot;
    module.type = &type;
    module.channels = type.channels;
    module.serialNumber = serialNumber;
    module.nominalVoltage = type.nominalVoltage;
    module.nominalCurrent = type.nominalCurrent;
    module.polarity = type.polarity;
    module.loadOhms.assign(size_t(type.channels), defaultLoadOhms);
    module.signalVolts.resize(size_t(type.channels));
    module.supervisionBehaviours.assign(size_t(type.channels), 0);
    for (int i = 0; i < type.channels; ++i)
        module.signalVolts[size_t(i)] = 1.0 + 0.25 * i;
    return module;
}

CrateConfig CrateConfig::defaultCrate()
{
    CrateConfig config;
    const struct
    {
        int slot;
        const char* type;
    } layout[] = {{0, "THE1640p"}, {3, "THX0830b"}, {5, "THC3210p"}, {8, "TMM0800m"}};
    for (const auto& entry : layout) {
        const ModuleType* type = ModuleType::find(QLatin1String(entry.type));
        config.modules.push_back(moduleOfType(*type, entry.slot, 4711001 + entry.slot));
    }
    return config;
}

bool CrateConfig::fromJson(const QByteArray& json, CrateConfig* config, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        *error = QStringLiteral("not valid JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("the configuration must be a JSON object");
        return false;
    }
    CrateConfig result;
    const QJsonObject root = document.object();
    const QJsonValue crateValue = root.value(QStringLiteral("crate"));
    if (!crateValue.isUndefined() && !crateValue.isObject()) {
        *error = QStringLiteral("\"crate\" must be an object");
        return false;
    }
    const QJsonObject crate = crateValue.toObject();
    const QString where = QStringLiteral("crate");
    double bootDelay = result.bootDelayMs;
    double seed = result.seed;
    if (!readText(crate, QStringLiteral("serialNumber"), &result.serialNumber, error, where)
        || !readText(crate, QStringLiteral("firmware"), &result.firmware, error, where)
        || !readText(crate, QStringLiteral("readCommunity"), &result.readCommunity, error, where)
        || !readText(crate, QStringLiteral("writeCommunity"), &result.writeCommunity, error, where)
        || !readNumber(crate, QStringLiteral("bootDelayMs"), &bootDelay, error, where, 0, 600000)
        || !readNumber(crate, QStringLiteral("seed"), &seed, error, where, 0, 4294967295.0))
        return false;
    static const QRegularExpression release(QStringLiteral("^MPOD \\d+\\.\\d+\\.\\d+\\.\\d+$"));
    if (!release.match(result.firmware).hasMatch()) {
        *error = QStringLiteral("crate: \"firmware\" must read \"MPOD\" and four dotted numbers, like \"MPOD 2.1.9.0\"");
        return false;
    }
    bool digits = !result.serialNumber.isEmpty();
    for (const QChar c : result.serialNumber)
        digits = digits && c.isDigit();
    if (!digits) {
        *error = QStringLiteral("crate: \"serialNumber\" must consist of digits");
        return false;
    }
    result.bootDelayMs = int(bootDelay);
    result.seed = quint32(seed);

    const QJsonValue modulesValue = root.value(QStringLiteral("modules"));
    if (!modulesValue.isUndefined() && !modulesValue.isArray()) {
        *error = QStringLiteral("\"modules\" must be an array");
        return false;
    }
    if (modulesValue.isUndefined()) {
        result.modules = defaultCrate().modules;
    } else {
        for (const QJsonValue& value : modulesValue.toArray()) {
            if (!value.isObject()) {
                *error = QStringLiteral("every entry of \"modules\" must be an object");
                return false;
            }
            ModuleConfig module;
            if (!parseModule(value.toObject(), &module, error))
                return false;
            for (const ModuleConfig& other : result.modules) {
                if (other.slot == module.slot) {
                    *error = QStringLiteral("slot %1 is used twice").arg(module.slot);
                    return false;
                }
            }
            result.modules.push_back(module);
        }
        std::sort(result.modules.begin(), result.modules.end(),
            [](const ModuleConfig& a, const ModuleConfig& b) { return a.slot < b.slot; });
    }
    *config = result;
    return true;
}

bool CrateConfig::fromFile(const QString& path, CrateConfig* config, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!fromJson(file.readAll(), config, error)) {
        *error = QStringLiteral("%1: %2").arg(path, *error);
        return false;
    }
    return true;
}
