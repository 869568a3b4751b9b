// The write journal's file and the source of a write, without a crate: rotation, kills, two
// programs at once, a file that cannot be written.
#include "device/WriteJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/resource.h>

#include <csignal>
#include <memory>
#include <thread>
#include <vector>

namespace {

JournalWrite numberedWrite(int number)
{
    JournalWrite write;
    write.crateAddress = QStringLiteral("127.0.0.1");
    write.slot = QStringLiteral("3");
    write.serialNumber = 4711004;
    write.channel = JournalWrite::channelText(number % 8);
    write.quantity = QStringLiteral("voltage set");
    write.value = JournalWrite::valueText(number, QStringLiteral("V"));
    write.source = QStringLiteral("script");
    write.result = QStringLiteral("ok");
    return write;
}

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The child side of wholeLinesAfterKill: appends numbered lines until it is killed.
int runWriter(const QString& path)
{
    WriteJournal journal(path);
    for (int number = 0;; ++number)
        journal.append(numberedWrite(number));
}

// The child side of twoProgramsRotating: `count` writes (two lines each) tagged with `writer`.
int runRotatingWriter(const QString& path, const QString& writer, int count, qint64 maxBytes, qint64 startMs)
{
    WriteJournal journal(path, maxBytes);
    // Both writers start at the same moment, so that they rotate at the same time.
    while (QDateTime::currentMSecsSinceEpoch() < startMs)
        QThread::usleep(200);
    for (int number = 0; number < count; ++number) {
        JournalWrite write = numberedWrite(number);
        write.source = writer;
        if (!journal.sent(&write))
            return 1;
        write.result = QStringLiteral("ok");
        if (!journal.finished(write))
            return 1;
        // A program does other work between its writes: the other one gets the lock meanwhile.
        QThread::usleep(100);
    }
    return 0;
}

const int rotatingWrites = 1000;

} // namespace

class TestWriteJournal : public QObject
{
    Q_OBJECT

private slots:
    void rotatesAtTheSizeLimitKeepingFiveFiles()
    {
        QTemporaryDir folder;
        WriteJournal journal(folder.filePath(QStringLiteral("journal/journal.txt")), 1000);
        const int lineBytes = int(WriteJournal::formatLine(numberedWrite(100), QDateTime::currentDateTimeUtc()).size());
        const int linesPerFile = 1000 / lineBytes;
        const int total = linesPerFile * 7 + 3;
        for (int number = 100; number < 100 + total; ++number)
            QVERIFY(journal.append(numberedWrite(number)));

        QStringList all;
        for (int index = WriteJournal::keptFiles - 1; index >= 0; --index) {
            const QString path = journal.rotatedPath(index);
            QVERIFY2(QFileInfo(path).size() <= 1000, qPrintable(path));
            const QStringList lines = linesOf(path);
            QCOMPARE(lines.size(), index == 0 ? 3 : linesPerFile);
            all += lines;
        }
        QVERIFY(!QFileInfo::exists(journal.rotatedPath(WriteJournal::keptFiles)));
        // The newest lines, in order, none lost between the files.
        for (int i = 0; i < all.size(); ++i) {
            JournalLine line;
            QVERIFY(JournalLine::parse(all.at(i), &line));
            QCOMPARE(line.value, QStringLiteral("%1 V").arg(100 + total - all.size() + i));
        }
        QCOMPARE(journal.latestLines(5), all.mid(all.size() - 5));
        QCOMPARE(journal.latestLines(1000), all);
    }

    void wholeLinesAfterKill()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("journal.txt"));
        QProcess writer;
        writer.setProgram(QCoreApplication::applicationFilePath());
        writer.setArguments({QStringLiteral("--journal-writer"), path});
        writer.start();
        QVERIFY(writer.waitForStarted());
        // Thousands of lines: the kill lands somewhere in the middle of the writing.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 200000, 20000);
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished());

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.endsWith('\n'));
        const QList<QByteArray> lines = text.split('\n');
        for (int i = 0; i + 1 < lines.size(); ++i) {
            JournalLine line;
            QVERIFY2(JournalLine::parse(QString::fromUtf8(lines.at(i)), &line), lines.at(i).constData());
            QCOMPARE(line.value, QStringLiteral("%1 V").arg(i));
        }
    }

    // Two programs appending at once, each rotating when the file is full: every rotation is of a
    // full file (none twice), no line is lost between the kept files, five files at most.
    void twoProgramsRotating()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("journal.txt"));
        constexpr qint64 maxBytes = 12000;
        const qint64 startMs = QDateTime::currentMSecsSinceEpoch() + 500;
        std::vector<std::unique_ptr<QProcess>> writers;
        for (const char* name : {"a", "b"}) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--rotating-writer"), path, QString::fromLatin1(name), QString::number(rotatingWrites),
                    QString::number(maxBytes), QString::number(startMs)});
        }
        for (auto& writer : writers) {
            QVERIFY(writer->waitForFinished(60000));
            QCOMPARE(writer->exitCode(), 0);
        }

        WriteJournal journal(path, maxBytes);
        QVERIFY(!QFileInfo::exists(journal.rotatedPath(WriteJournal::keptFiles)));
        QHash<QString, QList<int>> numbers; // per writer, oldest first
        const int longestLine = 400;
        for (int index = WriteJournal::keptFiles - 1; index >= 0; --index) {
            const QString file = journal.rotatedPath(index);
            QVERIFY2(QFileInfo::exists(file), qPrintable(file));
            // A file rotated twice (the race between programs) is rotated short of the size.
            if (index > 0)
                QVERIFY2(QFileInfo(file).size() > maxBytes - longestLine && QFileInfo(file).size() <= maxBytes,
                    qPrintable(QStringLiteral("%1: %2 bytes").arg(file).arg(QFileInfo(file).size())));
            for (const QString& text : linesOf(file)) {
                JournalLine line;
                QVERIFY2(JournalLine::parse(text, &line), qPrintable(text));
                if (line.isSent())
                    numbers[line.source].append(line.value.section(QLatin1Char(' '), 0, 0).toInt());
            }
        }
        // Each writer's writes from its oldest kept one to its last, none missing.
        for (const QString& writer : {QStringLiteral("a"), QStringLiteral("b")}) {
            const QList<int>& kept = numbers.value(writer);
            QVERIFY(!kept.isEmpty());
            QCOMPARE(kept.last(), rotatingWrites - 1);
            for (int i = 1; i < kept.size(); ++i)
                QCOMPARE(kept.at(i), kept.at(i - 1) + 1);
        }
    }

    // A line that cannot be written makes the journal failing (signalled once); the first line
    // written afterwards comes after a gap line with what was missed.
    void failureAndGapLine_data()
    {
        QTest::addColumn<bool>("fileCannotGrow"); // else the journal's name is taken by a folder
        QTest::newRow("file cannot grow (full)") << true;
        QTest::newRow("file cannot be opened") << false;
    }
    void failureAndGapLine()
    {
        QFETCH(bool, fileCannotGrow);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("journal.txt"));
        WriteJournal journal(path);
        QSignalSpy failing(&journal, &WriteJournal::failingChanged);
        JournalWrite before = numberedWrite(1);
        QVERIFY(journal.sent(&before));
        const qint64 sizeBefore = QFileInfo(path).size();

        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit original = limit;
        if (fileCannotGrow) {
            // Room for a part of a line only: what a full disk does to a write.
            std::signal(SIGXFSZ, SIG_IGN);
            limit.rlim_cur = rlim_t(sizeBefore + 20);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        } else {
            QVERIFY(QFile::rename(path, path + QStringLiteral(".aside")));
            QVERIFY(QDir().mkdir(path));
        }
        before.result = QStringLiteral("ok");
        const bool resultWritten = journal.finished(before);
        JournalWrite during = numberedWrite(2);
        const bool sentWritten = journal.sent(&during);
        if (fileCannotGrow) {
            setrlimit(RLIMIT_FSIZE, &original);
            std::signal(SIGXFSZ, SIG_DFL);
        } else {
            QVERIFY(QDir().rmdir(path));
            QVERIFY(QFile::rename(path + QStringLiteral(".aside"), path));
        }
        QVERIFY(!resultWritten && !sentWritten);
        QVERIFY(journal.isFailing());
        QCOMPARE(failing.size(), 1);
        QCOMPARE(failing.at(0).at(0).toBool(), true);
        QVERIFY2(failing.at(0).at(1).toString().contains(path), qPrintable(failing.at(0).at(1).toString()));
        QCOMPARE(journal.failure(), failing.at(0).at(1).toString());

        during.result = QStringLiteral("ok");
        QVERIFY(journal.finished(during));
        QVERIFY(!journal.isFailing());
        QCOMPARE(failing.size(), 2);
        QCOMPARE(failing.at(1).at(0).toBool(), false);

        // Whole lines only (a part written into the full file was taken back).
        const QStringList lines = linesOf(path);
        QCOMPARE(lines.size(), 3);
        JournalLine sent, gap, result;
        QVERIFY(JournalLine::parse(lines.at(0), &sent) && sent.isSent());
        QVERIFY(JournalLine::parse(lines.at(1), &gap) && gap.isGap());
        QVERIFY(JournalLine::parse(lines.at(2), &result) && result.ok());
        QCOMPARE(result.entry, during.entry);
        const QRegularExpression missed(QStringLiteral(R"(^2 lines \(1 writes\) not recorded from (\S+Z) to (\S+Z)$)"));
        const QRegularExpressionMatch match = missed.match(gap.value);
        QVERIFY2(match.hasMatch(), qPrintable(gap.value));
        const QDateTime first = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        const QDateTime last = QDateTime::fromString(match.captured(2), Qt::ISODateWithMs);
        QVERIFY(first.isValid() && first <= last);
        QVERIFY(QDateTime::fromString(sent.time, Qt::ISODateWithMs) <= first);
        QVERIFY(last <= QDateTime::fromString(result.time, Qt::ISODateWithMs));
    }

    void sourceOfAWrite_data()
    {
        QTest::addColumn<QStringList>("scopes"); // outermost first
        QTest::addColumn<bool>("otherThread");
        QTest::addColumn<QString>("source");
        QTest::newRow("main thread") << QStringList{} << false << "window";
        QTest::newRow("another thread") << QStringList{} << true << "script";
        QTest::newRow("scope") << QStringList{"table"} << false << "table";
        QTest::newRow("outermost scope wins") << QStringList{"profile", "tool window"} << false << "profile";
        QTest::newRow("scope on another thread") << QStringList{"automatic"} << true << "automatic";
    }

    void sourceOfAWrite()
    {
        QFETCH(QStringList, scopes);
        QFETCH(bool, otherThread);
        QString source;
        QString afterScopes;
        const auto look = [&] {
            {
                std::vector<std::unique_ptr<WriteSource>> nested;
                for (const QString& scope : scopes)
                    nested.push_back(std::make_unique<WriteSource>(scope));
                source = QString::fromUtf8(WriteJournal::formatLine(JournalWrite(), QDateTime::currentDateTimeUtc()))
                             .split(QLatin1Char('\t'))
                             .value(7);
            }
            afterScopes = WriteSource::current();
        };
        if (otherThread)
            std::thread(look).join();
        else
            look();
        QTEST(source, "source");
        // A source lives as long as its scope: another thread never sees it.
        QCOMPARE(afterScopes, otherThread ? QStringLiteral("script") : QStringLiteral("window"));
        QCOMPARE(WriteSource::current(), QStringLiteral("window"));
    }

    void fieldsKeepTheLineWhole()
    {
        JournalWrite write = numberedWrite(1);
        write.result = QStringLiteral("bad\tvalue\nsecond line");
        write.entry = QStringLiteral("17.4");
        const QByteArray line =
            WriteJournal::formatLine(write, QDateTime(QDate(2026, 12, 7), QTime(3, 5, 12, 345), Qt::UTC));
        QVERIFY(line.endsWith('\n') && line.count('\n') == 1);
        QStringList fields = QString::fromUtf8(line.chopped(1)).split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 13);
        QVERIFY(!fields.at(8).isEmpty() && !fields.at(9).isEmpty()); // user and host
        QCOMPARE(fields.at(10), QStringLiteral("tst_writejournal"));
        fields.erase(fields.begin() + 8, fields.begin() + 11);
        QCOMPARE(fields,
            (QStringList{"2026-12-07T03:05:12.345Z", "127.0.0.1", "3", "4711004", "1", "voltage set", "1 V", "script",
                "17.4", "bad value second line"}));
        // Lines of the older format (no user, host, program, entry) still read.
        JournalLine older;
        QVERIFY(JournalLine::parse(QStringLiteral("2026-12-07T03:05:12.345Z\t127.0.0.1\t3\t4711004\t1\tvoltage "
                                                  "set\t1 V\tscript\tok"),
            &older));
        QVERIFY(older.ok() && older.user.isEmpty() && older.entry.isEmpty());
    }

    // The same crate is named the same from every program: the port only when it is not 161.
    void snmpCrateAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("portVariable");
        QTest::addColumn<QString>("named");
        QTest::newRow("default port") << "192.168.1.20"
                                      << ""
                                      << "192.168.1.20";
        QTest::newRow("161 given") << "192.168.1.20:161"
                                   << ""
                                   << "192.168.1.20";
        QTest::newRow("port given") << "127.0.0.1:57048"
                                    << ""
                                    << "127.0.0.1:57048";
        QTest::newRow("port from the environment") << "127.0.0.1"
                                                   << "57048"
                                                   << "127.0.0.1:57048";
        QTest::newRow("given port wins") << "127.0.0.1:57048"
                                         << "1610"
                                         << "127.0.0.1:57048";
        QTest::newRow("malformed variable") << "127.0.0.1"
                                            << "70000"
                                            << "127.0.0.1";
    }
    void snmpCrateAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, portVariable);
        if (portVariable.isEmpty())
            qunsetenv("TESMAR_SNMP_PORT");
        else
            qputenv("TESMAR_SNMP_PORT", portVariable.toLatin1());
        const QString named = JournalWrite::snmpCrateAddress(address);
        qunsetenv("TESMAR_SNMP_PORT");
        QTEST(named, "named");
    }
};

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--journal-writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]));
    if (argc == 7 && qstrcmp(argv[1], "--rotating-writer") == 0) {
        QCoreApplication application(argc, argv);
        return runRotatingWriter(
            QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]), atoll(argv[5]), atoll(argv[6]));
    }
    QCoreApplication application(argc, argv);
    TestWriteJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_writejournal.moc"
