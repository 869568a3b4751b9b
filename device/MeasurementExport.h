#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class ChannelHistory;
class ChannelStateLog;
struct ModuleIdentity;

// "Export Measurements...": one module's recorded history over a time span as CSV, for a
// logbook. UTF-8, comma separated, one row per channel and point of the history:
//
//   # Tesmar SNMP Control measurements
//   # crate,127.0.0.1:57048          (as the write journal names it)
//   # slot,Slot 3
//   # serial number,4711004
//   # channels,8
//   # units,time ISO 8601 UTC; voltage V; current A; period s; status: the channel status word in hexadecimal
//   # from,2026-12-07T20:00:00.000Z
//   # to,2026-12-07T21:00:00.000Z
//   time,channel,period,voltage set,voltage measured,voltage min,voltage max,current set,
//   current measured,current min,current max,status
//
// A read is a row with period 0 (measured = min = max); older history folded into 10 s periods
// gives one row per period with the mean as the measured value, the set values and status
// being those at the period's end. Where the module was not read (a gap) or nothing is known of
// a channel's set values, the fields are empty: never a value that was not read.
namespace MeasurementExport {

// The text of the export of [fromMs, toMs] (ModuleSnapshot::nowMs() clock); `wallOffsetMs`
// turns that clock into milliseconds since the epoch (UTC).
QByteArray csv(const ModuleIdentity& module, const ChannelHistory& history, const ChannelStateLog& states, qint64 fromMs,
    qint64 toMs, qint64 wallOffsetMs);

// "measurements-slot-3-4711004-2026-12-07-2105.csv" (UTC date and time of `nowUtc`).
QString defaultFileName(const ModuleIdentity& module, const QDateTime& nowUtc);

// Writes `text` to `path` (replacing the file as a whole, never leaving half of it). False with
// `error` naming the full path and the reason.
bool write(const QString& path, const QByteArray& text, QString* error);

} // namespace MeasurementExport
