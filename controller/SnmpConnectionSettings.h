#pragma once

#include <QString>

class QSettings;

// How the program talks SNMP to a crate: port, read and write community, time-out and retries.
// Stored in the settings file, group [Snmp] (keys Port, ReadCommunity, WriteCommunity, TimeoutMs,
// Retries); an environment variable TESMAR_SNMP_* that is set to a valid value wins over the file
// (the library reads the variables itself, so this class only reports them).
struct SnmpConnectionSettings
{
    enum Field { Port, ReadCommunity, WriteCommunity, TimeoutMs, Retries };
    static constexpr int fieldCount = 5;

    static constexpr int minimumPort = 1;
    static constexpr int maximumPort = 65535;
    static constexpr int minimumTimeoutMs = 1;
    static constexpr int maximumTimeoutMs = 60000;
    static constexpr int minimumRetries = 0;
    static constexpr int maximumRetries = 10;

    int port = 161;
    QString readCommunity = QStringLiteral("public");
    QString writeCommunity = QStringLiteral("guru");
    int timeoutMs = 200;
    int retries = 1;

    // The file's values; a key that is missing, malformed or out of range keeps its default
    // (with a warning for the malformed ones).
    static SnmpConnectionSettings load(QSettings& settings);
    void save(QSettings& settings) const;

    // "Snmp/Port", ... and "TESMAR_SNMP_PORT", ...
    static QString key(Field field);
    static QString environmentVariable(Field field);
    // The variable's value when it is set and valid (and so wins over the file), else empty.
    static QString environmentOverride(Field field);

    // Why `text` is not a valid value of `field` ("" when it is).
    static QString problem(Field field, const QString& text);

    QString value(Field field) const;
    // False (and nothing changed) when `text` is not valid for `field`.
    bool setValue(Field field, const QString& text);

    bool operator==(const SnmpConnectionSettings& other) const;
};
