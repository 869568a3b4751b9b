#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

#include <limits>

// One entry of the event log: what happened, where and when, with the channel's values at that
// moment. Times are UTC milliseconds since the epoch. Values are in volts and amperes; NaN where
// the event has none (a module or crate event) or the read did not reach them.
struct ArchiveEvent
{
    qint64 atUtcMs = 0;
    QString station; // host that recorded it (several stations may share one database)
    QString crate;   // crate address as the connection names it
    QString address; // "Slot 3" or "VME BA 0x4000"; empty for crate and connection events
    int serialNumber = 0;
    int channel = -1; // -1: not a channel event
    QString kind;     // one of EventKind's names
    QString detail;   // free text (script name, connection text, alarm limit)
    float voltageSet = std::numeric_limits<float>::quiet_NaN();
    float voltageMeasured = std::numeric_limits<float>::quiet_NaN();
    float currentSet = std::numeric_limits<float>::quiet_NaN();
    float currentMeasured = std::numeric_limits<float>::quiet_NaN();
};
Q_DECLARE_METATYPE(ArchiveEvent)

// A current in amperes for people: "1.0000 mA", "6.002 µA"; empty for no value.
inline QString amperesText(float amperes)
{
    if (amperes != amperes)
        return {};
    const double value = amperes < 0 ? -double(amperes) : double(amperes);
    if (value > 0 && value < 1e-3)
        return QStringLiteral("%1 µA").arg(double(amperes) * 1e6, 0, 'f', 3);
    if (value > 0 && value < 1)
        return QStringLiteral("%1 mA").arg(double(amperes) * 1e3, 0, 'f', 4);
    return QStringLiteral("%1 A").arg(double(amperes), 0, 'f', 6);
}

// The kinds of events, by the names they are stored and shown with.
namespace EventKind {
// Channel status bits that came on (ramp ended: the ramping bit went off while the channel is on).
inline const QString currentTrip = QStringLiteral("Current trip");
inline const QString voltageBounds = QStringLiteral("Voltage bounds");
inline const QString currentBounds = QStringLiteral("Current bounds");
inline const QString voltageLimit = QStringLiteral("Voltage limit");
inline const QString currentLimit = QStringLiteral("Current limit");
inline const QString externalInhibit = QStringLiteral("External inhibit");
inline const QString emergencyOff = QStringLiteral("Emergency off");
inline const QString rampEnded = QStringLiteral("Ramp ended");
// The operator's current alarms.
inline const QString alarmFired = QStringLiteral("Current alarm");
inline const QString alarmAcknowledged = QStringLiteral("Alarm acknowledged");
// Modules and crate.
inline const QString moduleFound = QStringLiteral("Module found");
inline const QString moduleLost = QStringLiteral("Module lost");
inline const QString moduleNotConnected = QStringLiteral("Module not connected");
inline const QString moduleAnswers = QStringLiteral("Module answers again");
inline const QString crateNotConnected = QStringLiteral("Crate not connected");
inline const QString crateAnswers = QStringLiteral("Crate answers again");
inline const QString powerOff = QStringLiteral("Power off");
inline const QString powerOn = QStringLiteral("Power on");
// The program.
inline const QString connected = QStringLiteral("Connected");
inline const QString disconnected = QStringLiteral("Disconnected");
inline const QString scriptStarted = QStringLiteral("Script started");
inline const QString scriptStopped = QStringLiteral("Script stopped");

inline QStringList all()
{
    return {currentTrip, voltageBounds, currentBounds, voltageLimit, currentLimit, externalInhibit, emergencyOff, rampEnded,
        alarmFired, alarmAcknowledged, moduleFound, moduleLost, moduleNotConnected, moduleAnswers, crateNotConnected,
        crateAnswers, powerOff, powerOn, connected, disconnected, scriptStarted, scriptStopped};
}
// What switched a channel off or kept it off: the "Trips" preset of the Events window.
inline QStringList trips()
{
    return {currentTrip, voltageBounds, currentBounds, externalInhibit, emergencyOff};
}
// What the status cell of a channel explains in its tool tip.
inline QStringList channelConditions()
{
    return {
        currentTrip, voltageBounds, currentBounds, voltageLimit, currentLimit, externalInhibit, emergencyOff, alarmFired};
}
} // namespace EventKind

// Which events to find; an empty field matches everything. Newest first, at most `limit`.
struct EventFilter
{
    qint64 fromUtcMs = 0;
    qint64 toUtcMs = std::numeric_limits<qint64>::max();
    QString crate;
    QString address;
    int serialNumber = -1; // -1: any
    int channel = -1;      // -1: any
    QStringList kinds;
    int limit = 10000;
};
