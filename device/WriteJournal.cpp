#include "device/WriteJournal.h"

#include "app/ApplicationIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

namespace {

constexpr int fieldCount = 9;

QString field(QString text)
{
    // A tab or line break inside a field would shift or split the line.
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    return text;
}

// The outermost source of this thread; empty while no WriteSource lives.
thread_local QString t_source;

} // namespace

QString JournalWrite::channelText(int channel)
{
    if (channel >= 0)
        return QString::number(channel);
    return channel == crateWide ? QStringLiteral("crate") : QStringLiteral("module");
}

QString JournalWrite::valueText(double value, const QString& unit)
{
    return QString::number(value, 'g', 7) + QLatin1Char(' ') + unit;
}

bool JournalLine::parse(const QString& line, JournalLine* parsed)
{
    QString text = line;
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    const QStringList fields = text.split(QLatin1Char('\t'));
    if (fields.size() != fieldCount)
        return false;
    *parsed = JournalLine{fields.at(0), fields.at(1), fields.at(2), fields.at(3), fields.at(4), fields.at(5), fields.at(6),
        fields.at(7), fields.at(8)};
    return true;
}

WriteJournal::WriteJournal(const QString& filePath, qint64 maxFileBytes)
    : m_filePath(filePath)
    , m_maxFileBytes(maxFileBytes)
{
}

WriteJournal& WriteJournal::instance()
{
    static WriteJournal journal(defaultFilePath());
    return journal;
}

QString WriteJournal::defaultFilePath()
{
    // The AppDataLocation of the program's identity, whichever program (window, script runner,
    // test) writes: they all record into the one journal.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/')
        + QLatin1String(ApplicationIdentity::organisationName) + QLatin1Char('/')
        + QLatin1String(ApplicationIdentity::settingsApplicationName) + QStringLiteral("/journal.txt");
}

QByteArray WriteJournal::formatLine(const JournalWrite& write, const QDateTime& utc)
{
    const QString source = write.source.isEmpty() ? WriteSource::current() : write.source;
    const QStringList fields{utc.toString(Qt::ISODateWithMs), field(write.crateAddress), field(write.slot),
        QString::number(write.serialNumber), field(write.channel), field(write.quantity), field(write.value), field(source),
        field(write.result)};
    return fields.join(QLatin1Char('\t')).toUtf8() + '\n';
}

bool WriteJournal::append(const JournalWrite& write)
{
    const QByteArray line = formatLine(write, QDateTime::currentDateTimeUtc());
    QMutexLocker locker(&m_mutex);
    if (!m_folderMade)
        m_folderMade = QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    // Opened for each line: nothing waits in a buffer, and a journal renamed or removed by
    // another process is followed at once.
    QFile file(m_filePath);
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    if (written && file.size() > 0 && file.size() + line.size() > m_maxFileBytes) {
        file.close();
        rotate();
        written = file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }
    // One write() of the whole line: a kill cannot leave half of it.
    written = written && file.write(line) == line.size();
    if (!written && !m_warned) {
        m_warned = true;
        qWarning("The write journal %s cannot be written: %s", qPrintable(m_filePath), qPrintable(file.errorString()));
    }
    return written;
}

void WriteJournal::rotate()
{
    QFile::remove(rotatedPath(keptFiles - 1));
    for (int index = keptFiles - 2; index >= 0; --index)
        QFile::rename(rotatedPath(index), rotatedPath(index + 1));
}

QString WriteJournal::filePath() const
{
    return m_filePath;
}

qint64 WriteJournal::maxFileBytes() const
{
    QMutexLocker locker(&m_mutex);
    return m_maxFileBytes;
}

void WriteJournal::setMaxFileBytes(qint64 bytes)
{
    QMutexLocker locker(&m_mutex);
    m_maxFileBytes = bytes;
}

QString WriteJournal::rotatedPath(int index) const
{
    return index == 0 ? m_filePath : m_filePath + QLatin1Char('.') + QString::number(index);
}

QStringList WriteJournal::latestLines(int count) const
{
    // Only the tail of each file is read: a full journal is 10 MB.
    constexpr qint64 averageLineBytes = 160;
    QStringList lines;
    for (int index = 0; index < keptFiles && lines.size() < count; ++index) {
        QFile file(rotatedPath(index));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const int needed = count - lines.size();
        QStringList older;
        for (qint64 wanted = qint64(needed) * averageLineBytes * 2;; wanted *= 4) {
            const qint64 start = qMax<qint64>(0, file.size() - wanted);
            file.seek(start);
            QList<QByteArray> chunk = file.readAll().split('\n');
            if (start > 0 && !chunk.isEmpty())
                chunk.removeFirst(); // cut in the middle of a line
            older.clear();
            for (const QByteArray& text : chunk) {
                if (!text.isEmpty())
                    older.append(QString::fromUtf8(text));
            }
            // Longer lines than usual: read further back rather than leave a gap.
            if (older.size() >= needed || start == 0)
                break;
        }
        const int take = std::min<int>(older.size(), needed);
        lines = older.mid(older.size() - take) + lines;
    }
    return lines;
}

WriteSource::WriteSource(const char* name)
    : WriteSource(QString::fromUtf8(name))
{
}

WriteSource::WriteSource(const QString& name)
{
    if (t_source.isEmpty()) {
        t_source = name;
        m_outermost = true;
    }
}

WriteSource::~WriteSource()
{
    if (m_outermost)
        t_source.clear();
}

QString WriteSource::current()
{
    if (!t_source.isEmpty())
        return t_source;
    const QCoreApplication* application = QCoreApplication::instance();
    const bool guiThread = application && QThread::currentThread() == application->thread();
    return guiThread ? QStringLiteral("window") : QStringLiteral("script");
}
