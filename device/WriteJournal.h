#pragma once

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

// The write journal: every write the program sends to a crate or module, so an operator can tell
// afterwards who wrote what to which channel and whether the crate took it.
//
// File: "journal.txt" in the user's data folder (<data home>/Tesmar/tesmarcontrol/, the
// AppDataLocation of the program's identity, so the window and the script runner share it; under
// QStandardPaths test mode a test folder). At 10 MB it is renamed to "journal.txt.1" (the older
// ones move up to ".4", the oldest is dropped): five files at most.
//
// Line format, fields separated by one tab, UTF-8, no header:
//   time (ISO 8601 UTC with milliseconds)  crate address  slot ("-" for the crate)  serial number
//   channel (a number, "module" or "crate")  quantity  value with unit  source  user  host
//   program  entry  result
// e.g. "2026-12-07T03:05:12.345Z  127.0.0.1  0  4711001  3  voltage set  1000 V  table  anna
//       lab-pc2  tesmarcontrol  4242.17  ok".
// Every write gives two lines with the same entry ("<process id>.<number>", unique within the
// program on its host): one with the result "sent", written and handed to the operating system
// before the write goes out, and one with its result after: "ok" or the refusal reason (the
// module's lastError()). A program killed while a write is in flight leaves the "sent" line.
// Tabs and line breaks in a field become spaces. Lines of older versions have only the first
// eight fields and the result; they are read as well.
//
// Crate address: the host, with ":port" when the crate is not reached on the SNMP port 161
// (snmpCrateAddress()), the same from every program; VME modules have none (their slot is the
// base address), OPC modules their server's address.
//
// Each line is written with one write() call on a file opened for appending and closed again
// (nothing stays in a buffer of this process): a process killed between two writes leaves only
// whole lines. Several processes append to the same journal: the size check, the rotation and
// the append happen under a lock on a lock file ("journal.txt.lock", flock()), so two programs
// never rotate the same file twice.
//
// A line that cannot be written makes the journal failing (isFailing(), failingChanged()): the
// windows show a red banner until a line is written again. The first line written after a
// failure is preceded by a gap line (quantity "journal gap", result "gap") that says how many
// lines and writes were not recorded and between which times.
//
// How modules and crates write to it: every operation that sends a write calls
// BaseModule::journalSent() / BaseCrate::journalSent() before it and journalResult() after its
// succeed()/fail(). The source of a line is the calling thread's WriteSource (below).
//
// Thread safety: everything is locked inside; callable from any thread. failingChanged() is
// emitted on the thread that wrote the line.

// One write, as its journal lines name it.
struct JournalWrite
{
    // Crate (controller) address, e.g. "127.0.0.1" (see snmpCrateAddress()).
    QString crateAddress;
    // The module's slot ("0".."9" in an MPOD crate, the base address of a VME module), "-" for a
    // write to the crate itself.
    QString slot = QStringLiteral("-");
    // Serial number of the module (of the crate for crate writes).
    int serialNumber = 0;
    // A channel number, "module" or "crate" (writes whose effect reaches every module).
    QString channel = QStringLiteral("module");
    // What was written: "voltage set", "switch", "voltage ramp speed", ...
    QString quantity;
    // The value with its unit ("1000 V", "500 µA", "on", "5 %/s").
    QString value;
    // Who sent it; empty takes WriteSource::current() of the calling thread.
    QString source;
    // "sent" (before the write goes out), "ok" or the refusal reason.
    QString result;
    // Pairs the result line with its "sent" line; WriteJournal::sent() sets it.
    QString entry;

    // `channel` >= 0 gives its number, -1 (moduleWide) "module", -2 (crateWide) "crate".
    static constexpr int moduleWide = -1;
    static constexpr int crateWide = -2;
    static QString channelText(int channel);
    // "1000 V": the number with up to 7 significant digits, a space and the unit.
    static QString valueText(double value, const QString& unit);
    // The journal's name of an SNMP crate `address` ("host" or "host:port"): "host" when the
    // crate is reached on port 161, else "host:port". Without a port in the address the port is
    // the one every program takes from TESMAR_SNMP_PORT (161 when unset or malformed).
    static QString snmpCrateAddress(const QString& address);
};

// One parsed journal line (what the journal window shows).
struct JournalLine
{
    QString time;
    QString crateAddress;
    QString slot;
    QString serialNumber;
    QString channel;
    QString quantity;
    QString value;
    QString source;
    QString user;
    QString host;
    QString program;
    QString entry;
    QString result;

    bool ok() const { return result == QLatin1String("ok"); }
    // The line written before the write went out.
    bool isSent() const { return result == sentResult(); }
    // A gap line: lines that could not be written.
    bool isGap() const { return result == gapResult(); }
    static QString sentResult() { return QStringLiteral("sent"); }
    static QString gapResult() { return QStringLiteral("gap"); }
    // False for text that is not a journal line (wrong number of fields).
    static bool parse(const QString& line, JournalLine* parsed);
};

class WriteJournal : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 defaultMaxFileBytes = 10 * 1024 * 1024;
    // The current file and four older ones.
    static constexpr int keptFiles = 5;
    // How long a program waits for another one's lock before it appends without it (the append
    // itself is safe; only rotation needs the lock).
    static constexpr int lockWaitMs = 2000;

    explicit WriteJournal(const QString& filePath, qint64 maxFileBytes = defaultMaxFileBytes);
    ~WriteJournal() override;
    WriteJournal(const WriteJournal&) = delete;
    WriteJournal& operator=(const WriteJournal&) = delete;

    // The journal of this process, at defaultFilePath() (decided at its first use).
    static WriteJournal& instance();
    // "journal.txt" in the user's data folder (see the file comment).
    static QString defaultFilePath();

    // The "sent" line of `write` before it goes out: sets write->entry and write->result.
    // False when the line could not be written; the write goes out all the same.
    bool sent(JournalWrite* write);
    // The result line of a write sent() recorded: write.result is "ok" or the reason.
    bool finished(const JournalWrite& write);
    // Appends `write` as one line as it is (a write without a "sent" line). False (the journal
    // failing, see the file comment) when the file cannot be written; the write itself is not
    // affected.
    bool append(const JournalWrite& write);
    // The line append() writes for `write` at `utc`, line feed included.
    static QByteArray formatLine(const JournalWrite& write, const QDateTime& utc);

    // Whether the last line could not be written, and why (a sentence for the operator).
    bool isFailing() const;
    QString failure() const;

    QString filePath() const;
    qint64 maxFileBytes() const;
    // Tests: a smaller rotation size.
    void setMaxFileBytes(qint64 bytes);
    // The file that rotation number `index` renames the journal to (0 is the journal itself).
    QString rotatedPath(int index) const;
    // The latest `count` lines of the journal (older files read as far as needed), oldest first.
    QStringList latestLines(int count) const;

signals:
    // The journal started failing (with the message for the operator) or works again.
    void failingChanged(bool failing, const QString& message);

private:
    // Writes `lines` to the file (rotating first when they would pass the size), under m_mutex.
    bool writeLines(const QByteArray& lines, QString* reason);
    // Moves journal.txt to .1, .1 to .2, ...; the oldest kept file is dropped. Under the lock.
    void rotate();
    // The gap line for what was missed since the journal failed.
    QByteArray gapLine(const QDateTime& utc) const;

    mutable QMutex m_mutex;
    const QString m_filePath;
    qint64 m_maxFileBytes;
    // Since the journal failed: the reason, lines and writes not recorded, first and last time.
    QString m_failure;
    int m_missedLines = 0;
    int m_missedWrites = 0;
    QDateTime m_firstMissed;
    QDateTime m_lastMissed;
};

// Names the source of the writes the calling thread sends while the object lives, e.g.
//   const WriteSource source("table");
// Scopes nest and the outermost one wins: the code that started an action (a script run, the
// profile writer, automatic stepping) names it, even when it goes through helpers that name
// their own source. Without any scope the GUI thread's writes are "window" and other threads'
// writes "script".
//
// Sources used so far: "table" (edits in the channel table), "prompt" (values typed into a
// prompt of the main window), "command" (menu and context-menu commands), "tool window" (the
// slots through which tool windows write), "close" (ramping down when the window closes).
// Tool windows, profiles, automatic stepping and scripts tag their own call sites the same way
// ("profile", "automatic", "script", the window's name, ...). A program without a window (the
// script runner) names its source once in main(): its main thread is the application's thread,
// which would otherwise count as "window".
class WriteSource
{
public:
    explicit WriteSource(const char* name);
    explicit WriteSource(const QString& name);
    ~WriteSource();
    WriteSource(const WriteSource&) = delete;
    WriteSource& operator=(const WriteSource&) = delete;

    // The calling thread's source (see the class comment).
    static QString current();

private:
    bool m_outermost = false;
};
