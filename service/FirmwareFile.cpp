#include "FirmwareFile.h"

#include "SRecord.h"

#include <QCoreApplication>
#include <QFile>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("FirmwareFile", text);
}

QString hexByteText(int value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString problemText(const SRecord::Check& check, const QByteArray& text)
{
    using Problem = SRecord::Problem;
    switch (check.problem) {
    case Problem::NotARecord:
        return tr("not an S-record (a record starts with S0 to S9)");
    case Problem::ReservedType:
        return tr("record type S%1 is reserved").arg(QLatin1Char(text.at(1)));
    case Problem::TooLong:
        return tr("%1 characters, a record has at most %2").arg(check.actual).arg(SRecord::maxLength);
    case Problem::NoByteCount:
        return tr("the line ends before its byte count");
    case Problem::NotHex:
        return tr("character %1 is not a hexadecimal digit").arg(check.column);
    case Problem::LengthMismatch:
        return tr("the byte count calls for %1 characters, the line has %2").arg(check.expected).arg(check.actual);
    case Problem::TooShort:
        return tr("the byte count is too small for an S%1 record").arg(QLatin1Char(text.at(1)));
    case Problem::Checksum:
        return tr("checksum is %1, the record gives %2").arg(hexByteText(check.expected), hexByteText(check.actual));
    case Problem::None:
        break;
    }
    return QString();
}

} // namespace

FirmwareFile::Result FirmwareFile::refuse(const QString& text)
{
    m_lines.clear();
    m_size = 0;
    m_error = text;
    return Result::Refused;
}

FirmwareFile::Result FirmwareFile::load(const QString& fileName)
{
    m_lines.clear();
    m_size = 0;
    m_error.clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return Result::CannotOpen;
    }
    // One byte more than allowed is enough to refuse a larger file (or an endless device).
    const QByteArray contents = file.read(maxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        m_error = file.errorString();
        return Result::CannotOpen;
    }
    if (contents.size() > maxFileBytes) {
        const qint64 bytes = qMax(file.size(), qint64(contents.size()));
        return refuse(tr("The HEX file has %1 bytes; a firmware file has at most %2.").arg(bytes).arg(maxFileBytes));
    }
    return check(contents);
}

FirmwareFile::Result FirmwareFile::check(const QByteArray& contents)
{
    QVector<Line> lines;
    bool data = false;
    int lineNumber = 0;
    qint64 start = 0;
    while (start < contents.size()) {
        qint64 end = contents.indexOf('\n', start);
        if (end < 0)
            end = contents.size();
        else
            ++end;
        const QByteArray text = contents.mid(start, end - start).trimmed();
        ++lineNumber;
        start = end;
        if (text.isEmpty())
            continue;
        SRecord record;
        const SRecord::Check check = SRecord::check(text, &record);
        if (!check.ok())
            return refuse(tr("Line %1 of the HEX file: %2.").arg(lineNumber).arg(problemText(check, text)));
        data = data || record.isDataRecord();
        lines.append(Line{text, lineNumber, end});
    }
    if (!data)
        return refuse(tr("The HEX file holds no data records."));
    m_lines = lines;
    m_size = contents.size();
    return Result::Ok;
}
