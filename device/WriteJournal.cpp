#include "device/WriteJournal.h"

#include "controller/ApplicationIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Lines of this version; older lines have no user, host, program and entry.
constexpr int fieldCount = 13;
constexpr int olderFieldCount = 9;
constexpr int snmpDefaultPort = 161;

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

std::atomic<int> s_nextEntry{1};

QString userName()
{
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
    return QStringLiteral("uid %1").arg(::getuid());
}

// The program's file name, once the application exists ("-" before).
QString programName()
{
    if (!QCoreApplication::instance())
        return QStringLiteral("-");
    static const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return name;
}

// Who writes, the same for every line of this process.
QStringList writerFields()
{
    static const QString user = userName();
    static const QString host = QSysInfo::machineHostName();
    return {field(user), field(host), field(programName())};
}

// An exclusive lock on the journal's lock file between programs, held while it lives. flock()
// rather than QLockFile: the kernel hands the lock over as soon as it is released (QLockFile
// polls in steps of 100 ms and more, which two busy programs feel on every line) and drops it
// when its holder dies, so a program killed while holding it blocks nobody.
class ProgramLock
{
public:
    ProgramLock(const QString& path, int waitMs)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0)
            return;
        for (int waitedMs = 0;; ++waitedMs) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
                m_locked = true;
                return;
            }
            if (errno != EWOULDBLOCK || waitedMs >= waitMs)
                return;
            ::usleep(1000);
        }
    }
    ~ProgramLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    ProgramLock(const ProgramLock&) = delete;
    ProgramLock& operator=(const ProgramLock&) = delete;
    bool locked() const { return m_locked; }

private:
    int m_fd = -1;
    bool m_locked = false;
};

QString timeText(const QDateTime& utc)
{
    return utc.toUTC().toString(Qt::ISODateWithMs);
}

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

QString JournalWrite::snmpCrateAddress(const QString& address)
{
    QString host = address.trimmed();
    int port = snmpDefaultPort;
    bool portGiven = false;
    const int colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && host.indexOf(QLatin1Char(':')) == colon) {
        const int given = host.mid(colon + 1).toInt(&portGiven);
        if (portGiven && given >= 1 && given <= 65535)
            port = given;
        host.truncate(colon);
    }
    if (!portGiven) {
        // The port every program takes for a crate address without one (as the SNMP library).
        bool valid = false;
        const int fromEnvironment = qEnvironmentVariable("TESMAR_SNMP_PORT").trimmed().toInt(&valid);
        if (valid && fromEnvironment >= 1 && fromEnvironment <= 65535)
            port = fromEnvironment;
    }
    return port == snmpDefaultPort ? host : host + QLatin1Char(':') + QString::number(port);
}

bool JournalLine::parse(const QString& line, JournalLine* parsed)
{
    QString text = line;
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    const QStringList fields = text.split(QLatin1Char('\t'));
    if (fields.size() == olderFieldCount) {
        *parsed = JournalLine{fields.at(0), fields.at(1), fields.at(2), fields.at(3), fields.at(4), fields.at(5),
            fields.at(6), fields.at(7), QString(), QString(), QString(), QString(), fields.at(8)};
        return true;
    }
    if (fields.size() != fieldCount)
        return false;
    *parsed = JournalLine{fields.at(0), fields.at(1), fields.at(2), fields.at(3), fields.at(4), fields.at(5), fields.at(6),
        fields.at(7), fields.at(8), fields.at(9), fields.at(10), fields.at(11), fields.at(12)};
    return true;
}

WriteJournal::WriteJournal(const QString& filePath, qint64 maxFileBytes)
    : m_filePath(filePath)
    , m_maxFileBytes(maxFileBytes)
{
}

WriteJournal::~WriteJournal() = default;

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
    QStringList fields{timeText(utc), field(write.crateAddress), field(write.slot), QString::number(write.serialNumber),
        field(write.channel), field(write.quantity), field(write.value), field(source)};
    fields += writerFields();
    fields += {write.entry.isEmpty() ? QStringLiteral("-") : field(write.entry), field(write.result)};
    return fields.join(QLatin1Char('\t')).toUtf8() + '\n';
}

bool WriteJournal::sent(JournalWrite* write)
{
    write->entry = QStringLiteral("%1.%2").arg(QCoreApplication::applicationPid()).arg(s_nextEntry++);
    write->result = JournalLine::sentResult();
    return append(*write);
}

bool WriteJournal::finished(const JournalWrite& write)
{
    return append(write);
}

bool WriteJournal::append(const JournalWrite& write)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray line = formatLine(write, now);
    bool changed = false;
    QString message;
    {
        QMutexLocker locker(&m_mutex);
        const bool wasFailing = !m_failure.isEmpty();
        // What was missed goes first, in the same write() as the line.
        const QByteArray lines = wasFailing ? gapLine(now) + line : line;
        QString reason;
        if (writeLines(lines, &reason)) {
            m_failure.clear();
            m_missedLines = m_missedWrites = 0;
            changed = wasFailing;
        } else {
            if (m_missedLines == 0)
                m_firstMissed = now;
            m_lastMissed = now;
            ++m_missedLines;
            if (write.result == JournalLine::sentResult() || write.entry.isEmpty())
                ++m_missedWrites;
            const QString failure = tr("Writes are not being journaled: %1 cannot be written (%2).").arg(m_filePath, reason);
            changed = failure != m_failure;
            if (!wasFailing)
                qWarning("%s", qPrintable(failure));
            m_failure = failure;
            message = failure;
        }
    }
    if (changed)
        emit failingChanged(!message.isEmpty(), message);
    return message.isEmpty();
}

bool WriteJournal::writeLines(const QByteArray& lines, QString* reason)
{
    const QFileInfo info(m_filePath);
    if (!info.absoluteDir().exists() && !QDir().mkpath(info.absolutePath())) {
        *reason = tr("its folder cannot be made");
        return false;
    }
    // Size check, rotation and append under one lock between programs: another program may have
    // rotated since this one looked. A lock that cannot be had (a folder that takes no new file,
    // a program stuck holding it) does not stop the append, which is whole on its own; only the
    // rotation waits for the next line.
    const ProgramLock lock(m_filePath + QStringLiteral(".lock"), lockWaitMs);
    const bool locked = lock.locked();
    // Opened for each line: nothing waits in a buffer, and a journal renamed or removed by
    // another program is followed at once.
    QFile file(m_filePath);
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    if (written && locked && file.size() > 0 && file.size() + lines.size() > m_maxFileBytes) {
        file.close();
        rotate();
        written = file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }
    // One write() of the whole text: a kill cannot leave half a line.
    const qint64 before = written ? file.size() : 0;
    errno = 0;
    const qint64 count = written ? file.write(lines) : -1;
    const int writeError = errno; // of the write() that failed ("No space left on device")
    if (written && count != lines.size()) {
        written = false;
        *reason = writeError ? QString::fromLocal8Bit(std::strerror(writeError)) : tr("the file takes no more");
        // Text cut short by a full disk is taken back, so the next line starts a line (only
        // under the lock: another program may be appending).
        if (locked)
            file.resize(before);
    }
    if (!written && reason->isEmpty())
        *reason = file.errorString();
    return written;
}

QByteArray WriteJournal::gapLine(const QDateTime& utc) const
{
    JournalWrite gap;
    gap.crateAddress = QStringLiteral("-");
    gap.channel = QStringLiteral("-");
    gap.quantity = QStringLiteral("journal gap");
    gap.value = tr("%1 lines (%2 writes) not recorded from %3 to %4")
                    .arg(m_missedLines)
                    .arg(m_missedWrites)
                    .arg(timeText(m_firstMissed), timeText(m_lastMissed));
    gap.source = QStringLiteral("journal");
    gap.result = JournalLine::gapResult();
    return formatLine(gap, utc);
}

void WriteJournal::rotate()
{
    QFile::remove(rotatedPath(keptFiles - 1));
    for (int index = keptFiles - 2; index >= 0; --index)
        QFile::rename(rotatedPath(index), rotatedPath(index + 1));
}

bool WriteJournal::isFailing() const
{
    QMutexLocker locker(&m_mutex);
    return !m_failure.isEmpty();
}

QString WriteJournal::failure() const
{
    QMutexLocker locker(&m_mutex);
    return m_failure;
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
