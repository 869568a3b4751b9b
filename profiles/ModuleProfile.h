#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class BaseModule;

// Every writable setting of one module and its channels, as a profile file holds it (INI,
// group "Module" and one group "Channel%d" per channel). Qt Core only.
//
// Voltages and currents are in the units named by voltageUnit and currentUnit ("V" or "kV";
// "nA", "uA", "mA" or "A"); an empty unit means the file recorded none. A profile is always
// converted to the module's display units before it is written (convertedTo).
struct ModuleProfile
{
    struct Channel
    {
        quint32 control = 0;
        quint32 eventMask = 0;
        double voltageSet = 0;
        double currentSet = 0;
        double voltageInterlockMinSet = 0;
        double voltageInterlockMaxSet = 0;
        double currentInterlockMinSet = 0;
        double currentInterlockMaxSet = 0;
        double voltageNominal = 0; // "VoltageMaxSet"
        double currentNominal = 0; // "CurrentMaxSet"
    };

    quint16 control = 0;
    quint32 eventMask = 0;
    quint32 eventChannelMask = 0;
    quint32 eventGroupMask = 0;
    quint32 restartTimeMs = 0;
    quint32 adcSamplesPerSecond = 500;
    quint32 digitalFilter = 64;
    double voltageRampSpeedPercentPerSecond = 1.0;
    double currentRampSpeedPercentPerSecond = 50.0;
    QString voltageUnit;
    QString currentUnit;
    QVector<Channel> channels;

    // Reads every setting of `module` through reads that tell a failure from a value (readControl(),
    // readChannels(), readModuleValues(), the tool-window groups). False, with `error` naming the
    // first value not read and why, when any read was not answered: such a profile must not be
    // saved. Quantities the module does not report keep the constants its getters answer.
    static bool readFromModule(BaseModule* module, ModuleProfile* profile, QString* error);

    // Writes the profile into `fileName`: the keys of this profile are replaced, other groups and
    // keys stay, except channel groups beyond this profile's channel count, which are removed (they
    // would belong to another module). The file is replaced only once the new one is complete on
    // disk: a failed write (disk full, program stopped) leaves the old file as it was. False on
    // failure.
    bool save(const QString& fileName) const;

    // Reads a profile file for a module with `channelCount` channels: missing keys and groups give
    // their defaults. False, with `error` saying why, for a file that cannot be read, holds no
    // key, or has a value that does not convert (named by its key).
    static bool load(const QString& fileName, int channelCount, ModuleProfile* profile, QString* error);

    // Every voltage and current against the channels' hardware nominal values (in this profile's
    // units, one entry per channel): false with `error` naming the first value above it.
    bool checkAgainst(
        const QVector<float>& voltageHardwareNominal, const QVector<float>& currentHardwareNominal, QString* error) const;

    // The profile in other units; a profile without recorded units is taken to be in them already.
    ModuleProfile convertedTo(const QString& toVoltageUnit, const QString& toCurrentUnit) const;
    // The preview of writing this profile (as loaded from `fileName`) into a module shown in these
    // units, one entry per line: the values as they will be written, labelled with their units,
    // and a line on the conversion, or a warning when the file records no units.
    QStringList previewLines(const QString& fileName, const QString& toVoltageUnit, const QString& toCurrentUnit) const;
    bool recordsUnits() const { return !voltageUnit.isEmpty() && !currentUnit.isEmpty(); }

    // Parsers of the text forms: the prefix rule (0x/0X hexadecimal, leading 0 octal, otherwise
    // decimal), decimal digits only, and finite floats with a point. Text that does not convert
    // gives 0 and `ok` false.
    static quint32 parsePrefixed(const QString& text, bool* ok = nullptr);
    static quint32 parseDecimal(const QString& text, bool* ok = nullptr);
    static double parseFloat(const QString& text, bool* ok = nullptr);
    // A float in fixed notation with at least `minDecimals` decimals and at least six significant
    // digits, point as decimal separator.
    static QString formatFloat(double value, int minDecimals);
    // "V"/"kV" and "nA"/"uA"/"mA"/"A" as stored in a file; empty for text that names no unit.
    static QString storedVoltageUnit(const QString& unit);
    static QString storedCurrentUnit(const QString& unit);
};
