#pragma once

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>

// The write journal: one line for every write the program sends to a crate or module, so an
// operator can tell afterwards who wrote what to which channel and whether the crate took it.
//
// File: "journal.txt" in the user's data folder (<data home>/Tesmar/tesmarcontrol/, the
// AppDataLocation of the program's identity, so the window and the script runner share it; under
// QStandardPaths test mode a test folder). At 10 MB it is renamed to "journal.txt.1" (the older
// ones move up to ".4", the oldest is dropped): five files at most.
//
// Line format, fields separated by one tab, UTF-8, no header:
//   time (ISO 8601 UTC with milliseconds)  crate address  slot ("-" for the crate)  serial number
//   channel (a number, "module" or "crate")  quantity  value with unit  source  result
// e.g. "2026-12-07T03:05:12.345Z  127.0.0.1  0  4711001  3  voltage set  1000 V  table  ok".
// The result is "ok" or the refusal reason (the module's lastError()). Tabs and line breaks in a
// field become spaces.
//
// Each line is written with one write() call on a file opened for appending and closed again
// (nothing stays in a buffer of this process): a process killed between two writes leaves only
// whole lines, and several processes may append to the same journal.
//
// How modules and crates write to it: through BaseModule::journalWrite() and
// BaseCrate::journalWrite(), called by every operation that sends a write, after the write's
// succeed()/fail(). The source of a line is the calling thread's WriteSource (below).
//
// Thread safety: append() is locked inside; callable from any thread.

// One write, as its journal line names it.
struct JournalWrite
{
    // Crate (controller) address, e.g. "127.0.0.1".
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
    // "ok" or the refusal reason.
    QString result;

    // `channel` >= 0 gives its number, -1 (moduleWide) "module", -2 (crateWide) "crate".
    static constexpr int moduleWide = -1;
    static constexpr int crateWide = -2;
    static QString channelText(int channel);
    // "1000 V": the number with up to 7 significant digits, a space and the unit.
    static QString valueText(double value, const QString& unit);
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
    QString result;

    bool ok() const { return result == QLatin1String("ok"); }
    // False for text that is not a journal line (wrong number of fields).
    static bool parse(const QString& line, JournalLine* parsed);
};

class WriteJournal
{
public:
    static constexpr qint64 defaultMaxFileBytes = 10 * 1024 * 1024;
    // The current file and four older ones.
    static constexpr int keptFiles = 5;

    explicit WriteJournal(const QString& filePath, qint64 maxFileBytes = defaultMaxFileBytes);
    WriteJournal(const WriteJournal&) = delete;
    WriteJournal& operator=(const WriteJournal&) = delete;

    // The journal of this process, at defaultFilePath() (decided at its first use).
    static WriteJournal& instance();
    // "journal.txt" in the user's data folder (see the file comment).
    static QString defaultFilePath();

    // Appends the write's line stamped with the current time. False (with one warning on
    // standard error per run) when the file cannot be written; the write itself is not affected.
    bool append(const JournalWrite& write);
    // The line append() writes for `write` at `utc`, line feed included.
    static QByteArray formatLine(const JournalWrite& write, const QDateTime& utc);

    QString filePath() const;
    qint64 maxFileBytes() const;
    // Tests: a smaller rotation size.
    void setMaxFileBytes(qint64 bytes);
    // The file that rotation number `index` renames the journal to (0 is the journal itself).
    QString rotatedPath(int index) const;
    // The latest `count` lines of the journal (older files read as far as needed), oldest first.
    QStringList latestLines(int count) const;

private:
    // Moves journal.txt to .1, .1 to .2, ...; the oldest kept file is dropped. Under m_mutex.
    void rotate();

    mutable QMutex m_mutex;
    const QString m_filePath;
    qint64 m_maxFileBytes;
    bool m_folderMade = false;
    bool m_warned = false;
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
