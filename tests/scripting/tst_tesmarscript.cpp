// tesmar-script end to end against the crate simulator: the manual's ramp example, what goes to
// standard output and error, and the exit status of each way a run can end.
#include "app/IsolatedSettings.h"
#include "common/SimulatorProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct Result
{
    int exitCode = -1;
    QStringList lines; // standard output
    QString errors;    // standard error
};
} // namespace

class TestTesmarScript : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_simulator.start(), qPrintable(m_simulator.output()));
        QVERIFY(m_simulator.command(QStringLiteral("noise off")));
        // A silent crate costs one short time-out, not the default's two.
        qputenv("TESMAR_SNMP_TIMEOUT_MS", "200");
        qputenv("TESMAR_SNMP_RETRIES", "0");
    }
    void cleanupTestCase() { m_simulator.stop(); }

    // The example: steps of 100 V on channel 0, each measured once the ramp is done.
    void rampExample()
    {
        const Result result = run({"--crate", m_simulator.address(), TESMAR_RAMP_EXAMPLE});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.lines.size(), 6);
        const QRegularExpression step(QStringLiteral(R"(^step (\d): set (\d+) V, measured ([\d.]+) V$)"));
        for (int index = 0; index < 5; ++index) {
            const QRegularExpressionMatch match = step.match(result.lines.at(index));
            QVERIFY2(match.hasMatch(), qPrintable(result.lines.at(index)));
            QCOMPARE(match.captured(2).toInt(), (index + 1) * 100);
            QVERIFY2(qAbs(match.captured(3).toDouble() - (index + 1) * 100) < 1.0, qPrintable(result.lines.at(index)));
        }
        QCOMPARE(result.lines.last(), QStringLiteral("Script exited with result ramped channel 0 to 500 V"));
    }

    void exitStatus_data()
    {
        QTest::addColumn<QString>("script"); // empty: no file
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("silentCrate");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("error");

        const QStringList slot3{"--slot", "3"};
        QTest::newRow("normal end, slot 3") << "script.print(mod.serialNumber());\n1+1" << slot3 << false << 0
                                            << QStringList{"4711004", "Script exited with result 2"} << QString();
        QTest::newRow("syntax error") << "mod.setChannelOn(0);\nif (1) {" << slot3 << false << 1
                                      << QStringList{"Error: Script has syntax errors!"} << QString();
        QTest::newRow("uncaught exception") << "script.print('a'); throw 'x'" << QStringList() << false << 1
                                            << QStringList{"a", "Error: Script threw an uncaught exception: x"} << QString();
        QTest::newRow("missing file") << QString() << QStringList() << false << 1 << QStringList()
                                      << "Error: Can not find script file";
        QTest::newRow("silent crate") << "1" << QStringList() << true << 1 << QStringList() << "does not answer";
        QTest::newRow("empty slot") << "1" << QStringList{"--slot", "2"} << false << 1 << QStringList()
                                    << "slot 2 of the crate at";
        QTest::newRow("slot out of range")
            << "1" << QStringList{"--slot", "10"} << false << 2 << QStringList() << "--slot takes a slot number from 0 to 9";
    }
    void exitStatus()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, options);
        QFETCH(bool, silentCrate);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);
        QFETCH(QString, error);

        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("script.js"));
        if (!script.isNull()) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(script.toUtf8());
        }
        if (silentCrate)
            QVERIFY(m_simulator.command(QStringLiteral("silent on")));
        const Result result = run(QStringList{"--crate", m_simulator.address()} + options + QStringList{file});
        if (silentCrate)
            QVERIFY(m_simulator.command(QStringLiteral("silent off")));
        QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(result.lines, lines);
        QVERIFY2(result.errors.contains(error), qPrintable(result.errors));
        // A run that did not start a script touches no channel: the syntax error's switch-on
        // never reached the crate.
        const Result check = run({"--crate", m_simulator.address(), "--slot", "3", checkFile()});
        QCOMPARE(check.lines, QStringList{"Script exited with result 0"});
    }

private:
    Result run(const QStringList& arguments)
    {
        QProcess process;
        process.start(QStringLiteral(TESMAR_SCRIPT_PATH), arguments);
        Result result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        result.lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        result.errors = QString::fromLocal8Bit(process.readAllStandardError());
        return result;
    }
    // A script answering the switch state of channel 0 of the module in slot 3.
    QString checkFile()
    {
        if (!m_check.isOpen()) {
            m_check.open();
            m_check.write("mod.channelControl(0) & 8");
            m_check.flush();
        }
        return m_check.fileName();
    }

    SimulatorProcess m_simulator;
    QTemporaryFile m_check;
};

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QCoreApplication application(argc, argv);
    TestTesmarScript test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tesmarscript.moc"
