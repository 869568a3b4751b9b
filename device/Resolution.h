#pragma once

#include <QObject>
#include <QString>

// The display resolution of a module (units and decimals), stored per user in the INI settings
// "Tesmar"/"resolution" at one of three scopes: all modules (group "default"), all modules of a
// firmware name (group = the firmware name) or one module (group = serial number in decimal).
// load() takes each key from the most specific group that has it.
//
// Current units have a stored form in which micro-ampere is "uA"; currentUnit() answers the
// display form with the micro sign.
class Resolution : public QObject
{
    Q_OBJECT
public:
    enum Scope { AllModules = 0, FirmwareNameScope = 1, SerialNumberScope = 2 };

    explicit Resolution(QObject* parent = nullptr);

    QString organisationName() const { return m_organisationName; }
    QString applicationName() const { return m_applicationName; }
    QString defaultGroupName() const { return m_defaultGroupName; }

    QString firmwareName() const { return m_firmwareName; }
    int serialNumber() const { return m_serialNumber; }
    // Scope at which "currentPrecision" was found by the last load(), or the last saved scope.
    int scope() const { return m_scope; }

    bool useControllerUnits() const { return m_useControllerUnits != 0; }
    void setUseControllerUnits(bool value) { m_useControllerUnits = value ? 1 : 0; }
    QString voltageUnit() const { return m_voltageUnit; }
    void setVoltageUnit(const QString& unit) { m_voltageUnit = unit; }
    int voltagePrecision() const { return m_voltagePrecision; }
    void setVoltagePrecision(int precision) { m_voltagePrecision = precision; }
    // Display form ("µA" for micro-ampere).
    QString currentUnit() const;
    // Accepts the display or the stored form.
    void setCurrentUnit(const QString& unit);
    int currentPrecision() const { return m_currentPrecision; }
    void setCurrentPrecision(int precision) { m_currentPrecision = precision; }

    // Reads the five values with fallback serial number -> firmware name -> "default" ->
    // built-in default, key by key. A group without a name (empty firmware name) is skipped.
    void load();
    // Writes the five values into the group of `scope`. Moving to a broader scope first removes
    // the group of the previous, narrower scope (serial-number group when it was 2, else the
    // firmware-name group when it was 1). Returns false (and writes nothing) for a firmware-name
    // scope without a firmware name or a scope out of range.
    bool save(int scope);

public slots:
    void setSerialNumber(int value);
    void setFirmwareName(QString value);

private:
    QString groupName(int scope) const;
    QString lookup(const QString& key, const QString& fallback);

    QString m_organisationName;
    QString m_applicationName;
    QString m_defaultGroupName;
    QString m_firmwareName;
    int m_scope = AllModules;
    int m_serialNumber = 0;
    int m_useControllerUnits = 1;
    QString m_voltageUnit;
    int m_voltagePrecision = 2;
    QString m_currentUnit; // stored form
    int m_currentPrecision = 2;
};
