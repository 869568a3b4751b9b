#include "device/MeasurementExport.h"

#include "device/ChannelHistory.h"
#include "device/ChannelStateLog.h"
#include "device/TrendRecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

namespace {

QByteArray number(double value)
{
    return std::isfinite(value) ? QByteArray::number(value, 'g', 7) : QByteArray();
}

// A header field: quoted when it holds a comma or a quote.
QByteArray csvField(const QString& text)
{
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n'))
        field = '"' + field.replace('"', "\"\"").replace('\n', ' ') + '"';
    return field;
}

QString utcText(qint64 wallMs)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace

QByteArray MeasurementExport::csv(const ModuleIdentity& module, const ChannelHistory& history, const ChannelStateLog& states,
    qint64 fromMs, qint64 toMs, qint64 wallOffsetMs)
{
    QByteArray text;
    text += "# Tesmar SNMP Control measurements\n";
    text += "# crate," + csvField(module.crateAddress) + '\n';
    text += "# slot," + csvField(module.address) + '\n';
    text += "# serial number," + QByteArray::number(module.serialNumber) + '\n';
    text += "# channels," + QByteArray::number(module.channels) + '\n';
    text += "# units,time ISO 8601 UTC; voltage V; current A; period s; status: the channel status word in "
            "hexadecimal\n";
    text += "# from," + utcText(fromMs + wallOffsetMs).toUtf8() + '\n';
    text += "# to," + utcText(toMs + wallOffsetMs).toUtf8() + '\n';
    text += "time,channel,period,voltage set,voltage measured,voltage min,voltage max,current set,current "
            "measured,current min,current max,status\n";
    for (int channel = 0; channel < history.channelCount(); ++channel) {
        for (const ChannelHistory::Point& point : history.points(channel, fromMs, toMs)) {
            QByteArray row = utcText(point.atMs + wallOffsetMs).toUtf8() + ',' + QByteArray::number(channel) + ','
                + number(double(point.durationMs) / 1000.0) + ',';
            const ChannelStateLog::State state = states.at(channel, point.atMs + std::max<qint64>(0, point.durationMs - 1));
            const bool known = !point.isGap() && state.isKnown();
            row += (known ? number(double(state.voltageSetV)) : QByteArray()) + ',' + number(double(point.voltageMean)) + ','
                + number(double(point.voltageMin)) + ',' + number(double(point.voltageMax)) + ',';
            row += (known ? number(double(state.currentSetA)) : QByteArray()) + ',' + number(double(point.currentMean)) + ','
                + number(double(point.currentMin)) + ',' + number(double(point.currentMax)) + ',';
            if (known)
                row += "0x" + QByteArray::number(state.status, 16).rightJustified(4, '0');
            text += row + '\n';
        }
    }
    return text;
}

QString MeasurementExport::defaultFileName(const ModuleIdentity& module, const QDateTime& nowUtc)
{
    QString place = module.address.toLower();
    place.replace(QLatin1Char(' '), QLatin1Char('-'));
    place.remove(QLatin1Char('#'));
    return QStringLiteral("measurements-%1-%2-%3.csv")
        .arg(place)
        .arg(module.serialNumber)
        .arg(nowUtc.toUTC().toString(QStringLiteral("yyyy-MM-dd-HHmm")));
}

bool MeasurementExport::write(const QString& path, const QByteArray& text, QString* error)
{
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    QSaveFile file(fullPath);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(fullPath), file.errorString());
        return false;
    }
    file.write(text);
    if (!file.commit()) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(fullPath), file.errorString());
        return false;
    }
    return true;
}
