#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// A firmware file (Motorola S-records, one per line) read and checked whole before any of it
// goes to a module: every line must be a sound record (see SRecord), and at least one must carry
// data (S1, S2 or S3). Empty lines are skipped. Nothing is kept of a file that fails.
class FirmwareFile
{
public:
    struct Line
    {
        QByteArray text;      // the record, without surrounding white space
        int lineNumber = 0;   // in the file, from 1
        qint64 endOffset = 0; // file position after the line
    };

    // Firmware images of these modules are a few hundred KiB; a larger file is no firmware.
    static constexpr qint64 maxFileBytes = 16 * 1024 * 1024;

    enum class Result { Ok, CannotOpen, Refused };

    // Reads and checks `fileName`. On Refused, errorString() names the line and the reason.
    Result load(const QString& fileName);
    QString errorString() const { return m_error; }
    const QVector<Line>& lines() const { return m_lines; }
    qint64 size() const { return m_size; }

private:
    // Checks a whole file's contents line by line.
    Result check(const QByteArray& contents);
    Result refuse(const QString& text);

    QVector<Line> m_lines;
    qint64 m_size = 0;
    QString m_error;
};
