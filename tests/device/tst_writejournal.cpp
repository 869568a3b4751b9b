// The write journal's file and the source of a write, without a crate.
#include "device/WriteJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        const QByteArray line =
            WriteJournal::formatLine(write, QDateTime(QDate(2026, 12, 7), QTime(3, 5, 12, 345), Qt::UTC));
        QCOMPARE(line,
            QByteArray(
                "2026-12-07T03:05:12.345Z\t127.0.0.1\t3\t4711004\t1\tvoltage set\t1 V\tscript\tbad value second line\n"));
    }
};

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--journal-writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]));
    QCoreApplication application(argc, argv);
    TestWriteJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_writejournal.moc"
