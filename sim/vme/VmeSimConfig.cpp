#include "VmeSimConfig.h"

#include "SRecordImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

// A number given as a JSON number or as a text ("0x4000", "5120001").
bool toNumber(const QJsonValue& value, double* number)
{
    if (value.isDouble()) {
        *number = value.toDouble();
        return true;
    }
    if (value.isString()) {
        bool ok = false;
        const QString text = value.toString().trimmed();
        const qlonglong integer = text.toLongLong(&ok, 0);
        if (ok) {
            *number = double(integer);
            return true;
        }
        *number = text.toDouble(&ok);
        return ok;
    }
    return false;
}

class Reader
{
public:
    explicit Reader(QString* error)
        : m_error(error)
    {
    }

    bool fail(const QString& what)
    {
        if (m_error->isEmpty())
            *m_error = what;
        return false;
    }

    // Reads key into *number when present; range-checked.
    bool number(
        const QJsonObject& object, const QString& key, double* number, double minimum, double maximum, const QString& where)
    {
        if (!object.contains(key))
            return true;
        double value = 0;
        if (!toNumber(object.value(key), &value))
            return fail(QStringLiteral("%1: \"%2\" is not a number").arg(where, key));
        if (!(value >= minimum && value <= maximum))
            return fail(QStringLiteral("%1: \"%2\" is out of range").arg(where, key));
        *number = value;
        return true;
    }

    bool boolean(const QJsonObject& object, const QString& key, bool* flag, const QString& where)
    {
        if (!object.contains(key))
            return true;
        if (!object.value(key).isBool())
            return fail(QStringLiteral("%1: \"%2\" is not true or false").arg(where, key));
        *flag = object.value(key).toBool();
        return true;
    }

private:
    QString* m_error;
};

bool readModule(
    const QJsonObject& object, const QString& where, const QString& baseDirectory, Reader& reader, VmeModuleConfig* module)
{
    if (!object.contains(QStringLiteral("base")) || !object.contains(QStringLiteral("class")))
        return reader.fail(where + QStringLiteral(": \"base\" and \"class\" are required"));
    double value = 0;
    if (!reader.number(object, QStringLiteral("class"), &value, 0, 1000, where))
        return false;
    if (value != 20 && value != 29)
        return reader.fail(where + QStringLiteral(": \"class\" must be 20 or 29"));
    module->deviceClass = int(value);
    module->channels = module->maxChannels();
    if (!reader.number(object, QStringLiteral("base"), &value, 0, 0xFFFF, where))
        return false;
    module->base = quint16(value);
    if (module->base % module->windowBytes() != 0)
        return reader.fail(
            where + QStringLiteral(": \"base\" must be a multiple of 0x%1").arg(module->windowBytes(), 0, 16));
    value = module->channels;
    if (!reader.number(object, QStringLiteral("channels"), &value, 1, module->maxChannels(), where))
        return false;
    module->channels = int(value);
    value = module->serial;
    if (!reader.number(object, QStringLiteral("serial"), &value, 0, 4294967295.0, where))
        return false;
    module->serial = quint32(value);
    value = module->decoderRelease;
    if (!reader.number(object, QStringLiteral("decoderRelease"), &value, 0, 4294967295.0, where))
        return false;
    module->decoderRelease = quint32(value);
    value = module->stuckControlChannel;
    const bool numbersOk = reader.number(object, QStringLiteral("voltageNominal"), &module->voltageNominalV, 0, 1e6, where)
        && reader.number(object, QStringLiteral("currentNominal"), &module->currentNominalA, 0, 1e3, where)
        && reader.number(object, QStringLiteral("temperature"), &module->temperatureC, -100, 200, where)
        && reader.number(object, QStringLiteral("voltageRampSpeed"), &module->voltageRampSpeedPercent, 0, 1e4, where)
        && reader.number(object, QStringLiteral("currentRampSpeed"), &module->currentRampSpeedPercent, 0, 1e4, where)
        && reader.number(object, QStringLiteral("voltageLimit"), &module->voltageLimitPercent, 0, 1000, where)
        && reader.number(object, QStringLiteral("currentLimit"), &module->currentLimitPercent, 0, 1000, where)
        && reader.number(object, QStringLiteral("loadOhm"), &module->loadOhm, 0, 1e15, where);
    if (!numbersOk)
        return false;

    if (object.contains(QStringLiteral("firmwareRelease"))) {
        const QJsonArray bytes = object.value(QStringLiteral("firmwareRelease")).toArray();
        if (bytes.size() != 4)
            return reader.fail(where + QStringLiteral(": \"firmwareRelease\" must be a list of four bytes"));
        for (int i = 0; i < 4; ++i) {
            if (!toNumber(bytes.at(i), &value) || value < 0 || value > 255 || value != int(value))
                return reader.fail(where + QStringLiteral(": \"firmwareRelease\" must be a list of four bytes"));
            module->firmwareRelease[i] = quint8(value);
        }
    }

    if (object.contains(QStringLiteral("faults"))) {
        const QJsonValue faultsValue = object.value(QStringLiteral("faults"));
        if (!faultsValue.isObject())
            return reader.fail(where + QStringLiteral(": \"faults\" is not an object"));
        const QJsonObject faults = faultsValue.toObject();
        const QString faultsWhere = where + QStringLiteral(" faults");
        value = module->stuckControlChannel;
        if (!reader.boolean(faults, QStringLiteral("refuseBaseAddress"), &module->refuseBaseAddress, faultsWhere)
            || !reader.boolean(faults, QStringLiteral("noSpecialMode"), &module->noSpecialMode, faultsWhere)
            || !reader.number(faults, QStringLiteral("stuckControlChannel"), &value, -1, module->channels - 1, faultsWhere))
            return false;
        module->stuckControlChannel = int(value);
        value = module->ignoredSaveRequests;
        if (!reader.number(faults, QStringLiteral("ignoredSaveRequests"), &value, 0, 1e6, faultsWhere))
            return false;
        module->ignoredSaveRequests = int(value);
    }

    if (object.contains(QStringLiteral("storedImage"))) {
        const QString name = object.value(QStringLiteral("storedImage")).toString();
        QFile file(QDir(baseDirectory).absoluteFilePath(name));
        if (name.isEmpty() || !file.open(QIODevice::ReadOnly))
            return reader.fail(where + QStringLiteral(": cannot read the image file \"%1\"").arg(name));
        module->storedImage = file.readAll();
        if (!SRecordImage().load(module->storedImage))
            return reader.fail(where + QStringLiteral(": the image file \"%1\" is not an S-record file").arg(name));
    }
    return true;
}

} // namespace

VmeCrateConfig vmeDemoCrateConfig()
{
    VmeCrateConfig config;
    config.vmUsbSerials = QStringList{QStringLiteral("VM0417A")};
    config.v1718 = true;

    VmeModuleConfig module20;
    module20.base = 0x4000;
    module20.deviceClass = 20;
    module20.channels = 12;
    module20.serial = 5120417;
    module20.voltageNominalV = 3000;
    module20.currentNominalA = 0.003;
    const quint8 release20[4] = {2, 1, 0, 7};
    std::copy(release20, release20 + 4, module20.firmwareRelease);
    module20.temperatureC = 31.5;
    config.modules.push_back(module20);

    VmeModuleConfig module29;
    module29.base = 0x5000;
    module29.deviceClass = 29;
    module29.channels = 24;
    module29.serial = 5290112;
    module29.voltageNominalV = 500;
    module29.currentNominalA = 0.001;
    const quint8 release29[4] = {3, 0, 1, 2};
    std::copy(release29, release29 + 4, module29.firmwareRelease);
    module29.decoderRelease = 3;
    module29.temperatureC = 28.0;
    module29.voltageRampSpeedPercent = 10;
    module29.loadOhm = 5e7;
    config.modules.push_back(module29);
    return config;
}

bool parseVmeCrateConfig(const QByteArray& json, const QString& baseDirectory, VmeCrateConfig* config, QString* error)
{
    error->clear();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        *error = QStringLiteral("not valid JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("the top level is not an object");
        return false;
    }
    const QJsonObject top = document.object();
    Reader reader(error);
    VmeCrateConfig result;

    const QJsonValue serials = top.value(QStringLiteral("vmUsbSerials"));
    if (!serials.isUndefined()) {
        if (!serials.isArray())
            return reader.fail(QStringLiteral("\"vmUsbSerials\" is not a list"));
        for (const QJsonValue& serial : serials.toArray()) {
            if (!serial.isString() || serial.toString().size() != 7 || serial.toString().toLatin1().size() != 7)
                return reader.fail(QStringLiteral("\"vmUsbSerials\": every entry must be a text of 7 characters"));
            result.vmUsbSerials.append(serial.toString());
        }
    }
    if (!reader.boolean(top, QStringLiteral("v1718"), &result.v1718, QStringLiteral("crate")))
        return false;

    const QJsonValue modules = top.value(QStringLiteral("modules"));
    if (!modules.isUndefined()) {
        if (!modules.isArray())
            return reader.fail(QStringLiteral("\"modules\" is not a list"));
        const QJsonArray list = modules.toArray();
        for (int i = 0; i < list.size(); ++i) {
            const QString where = QStringLiteral("module %1").arg(i + 1);
            if (!list.at(i).isObject())
                return reader.fail(where + QStringLiteral(" is not an object"));
            VmeModuleConfig module;
            if (!readModule(list.at(i).toObject(), where, baseDirectory, reader, &module))
                return false;
            for (const VmeModuleConfig& other : result.modules) {
                if (module.base < other.base + other.windowBytes() && other.base < module.base + module.windowBytes())
                    return reader.fail(where + QStringLiteral(": its register window overlaps another module's"));
            }
            result.modules.push_back(module);
        }
    }
    *config = result;
    return true;
}

VmeCrateConfig vmeCrateConfigFromEnvironment()
{
    const QString path = QString::fromLocal8Bit(qgetenv("TESMAR_VME_SIM_CONFIG"));
    if (path.isEmpty())
        return vmeDemoCrateConfig();
    QFile file(path);
    VmeCrateConfig config;
    QString error;
    if (!file.open(QIODevice::ReadOnly))
        error = QStringLiteral("cannot read the file");
    else if (parseVmeCrateConfig(file.readAll(), QFileInfo(path).absolutePath(), &config, &error))
        return config;
    std::fprintf(stderr, "Simulated VME crate: configuration %s: %s; nothing is attached.\n",
        qPrintable(QDir::toNativeSeparators(path)), qPrintable(error));
    return VmeCrateConfig();
}
