// tesmar-script end to end against the crate simulator: the manual's ramp example, what goes to
// standard output and error, the exit status of each way a run can end, what a script's calls
// send and read, the signals that end it, and the journal line of a write that a kill interrupted.
#include "app/IsolatedSettings.h"
#include "common/SimulatorProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestTesmarScript : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_simulator.start(), qPrintable(m_simulator.output()));
        QVERIFY(m_simulator.command(QStringLiteral("noise off")));
    }
    void cleanupTestCase() { m_simulator.stop(); }

    // The example: steps of 100 V on channel 0, each measured once the ramp is done.
    void rampExample()
    {
        QCOMPARE(run({"--crate", m_simulator.address(), TESMAR_RAMP_EXAMPLE}), 0);
        QCOMPARE(m_lines.size(), 6);
        const QRegularExpression step(QStringLiteral(R"(^step (\d): set (\d+) V, measured ([\d.]+) V$)"));
        for (int index = 0; index < 5; ++index) {
            const QRegularExpressionMatch match = step.match(m_lines.at(index));
            QVERIFY2(match.hasMatch() && match.captured(2).toInt() == (index + 1) * 100
                    && qAbs(match.captured(3).toDouble() - (index + 1) * 100) < 1.0,
                qPrintable(m_lines.at(index)));
        }
        QCOMPARE(m_lines.last(), QStringLiteral("Script exited with result ramped channel 0 to 500 V"));
    }

    void exitStatus_data()
    {
        QTest::addColumn<QString>("script"); // null: no file
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("error");

        const QStringList slot3{"--slot", "3"};
        QTest::newRow("normal end, slot 3") << "script.print(mod.serialNumber());\n1+1" << slot3 << 0
                                            << QStringList{"4711004", "Script exited with result 2"} << QString();
        QTest::newRow("syntax error") << "mod.setChannelOn(0);\nif (1) {" << slot3 << 1
                                      << QStringList{"Error: Script has syntax errors!"} << QString();
        QTest::newRow("uncaught exception") << "script.print('a'); throw 'x'" << QStringList() << 1
                                            << QStringList{"a", "Error: Script threw an uncaught exception: x"} << QString();
        QTest::newRow("missing file") << QString() << QStringList() << 1 << QStringList()
                                      << "Error: Can not find script file";
        QTest::newRow("silent crate") << "1" << QStringList{"silent"} << 1 << QStringList() << "does not answer";
        QTest::newRow("empty slot") << "1" << QStringList{"--slot", "2"} << 1 << QStringList() << "slot 2 of the crate at";
        QTest::newRow("slot out of range")
            << "1" << QStringList{"--slot", "10"} << 2 << QStringList() << "--slot takes a slot number from 0 to 9";
    }
    void exitStatus()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);
        QFETCH(QString, error);

        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("script.js"));
        QFile out(file);
        QVERIFY(script.isNull() || (out.open(QIODevice::WriteOnly) && out.write(script.toUtf8()) >= 0));
        out.close();
        const bool silent = options.removeAll(QStringLiteral("silent"));
        QVERIFY(!silent || m_simulator.command(QStringLiteral("silent on")));
        // A silent crate costs one short time-out; the other runs keep the library's own time-out
        // and retries, so a loaded machine (sanitizers, parallel tests) does not fail them.
        if (silent) {
            qputenv("TESMAR_SNMP_TIMEOUT_MS", "200");
            qputenv("TESMAR_SNMP_RETRIES", "0");
        }
        const int exitStatus = run(QStringList{"--crate", m_simulator.address()} + options + QStringList{file});
        qunsetenv("TESMAR_SNMP_TIMEOUT_MS");
        qunsetenv("TESMAR_SNMP_RETRIES");
        QVERIFY(!silent || m_simulator.command(QStringLiteral("silent off")));
        QCOMPARE(exitStatus, exitCode);
        QCOMPARE(m_lines, lines);
        QVERIFY2(m_errors.contains(error), qPrintable(m_errors));

        // Nothing of a script that did not run reached the crate: slot 3's channel 0 stays off.
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("mod.channelControl(0) & 8") > 0);
        out.close();
        QCOMPARE(run({"--crate", m_simulator.address(), "--slot", "3", file}), 0);
        QCOMPARE(m_lines, QStringList{"Script exited with result 0"});
    }

    // What a script reads and sends: fresh values of any channel, numbers checked before
    // sending, volts and amperes whatever the display settings say.
    void callsChecked_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("last");
        QTest::newRow("any channel reads what was just written")
            << "mod.setChannelVoltageSet(3, 300); mod.setChannelVoltageSet(0, 10);\n"
               "[mod.channelVoltageSet(3), mod.channelVoltageSet(0), mod.channelVoltageSet(5)].join()"
            << "Script exited with result 300,10,0";
        QTest::newRow("volts and amperes, not the window's kV")
            << "mod.setChannelVoltageSet(1, 3); [mod.voltageUnit(), mod.currentUnit(), mod.channelVoltageSet(1)].join()"
            << "Script exited with result V,A,3";
        QTest::newRow("fractional channel")
            << "mod.setChannelVoltageSet(1.5, 10)"
            << "Error: Script threw an uncaught exception: RangeError: mod.setChannelVoltageSet(1.5, 10): channel 1.5 is "
               "not a whole number";
        QTest::newRow("channel that would wrap to 0")
            << "mod.setChannelVoltageSet(4294967296, 11)"
            << "Error: Script threw an uncaught exception: RangeError: mod.setChannelVoltageSet(4294967296, 11): channel "
               "4294967296 is outside 0..15";
        QTest::newRow("mask beyond the channels")
            << "mod.setSelectedChannelsOn(0x10000)"
            << "Error: Script threw an uncaught exception: RangeError: mod.setSelectedChannelsOn(65536): mask 0x10000 has "
               "bits beyond channel 15";
        QTest::newRow("NaN") << "mod.setChannelVoltageSet(2, NaN)"
                             << "Error: Script threw an uncaught exception: RangeError: mod.setChannelVoltageSet(2, NaN): "
                                "vset NaN is not a finite number";
        QTest::newRow("read outside the channels, caught") << "try { mod.channelVoltageMeasure(16) } catch (e) { e.name }"
                                                           << "Script exited with result RangeError";
        QTest::newRow("read the module cannot tell from a failure")
            << "mod.digitalFilter()"
            << "Error: Script threw an uncaught exception: Error: mod.digitalFilter(): not offered to scripts (this read "
               "cannot tell a failed read from a value)";
        QTest::newRow("top-level return") << "mod.setChannelVoltageSet(2, 20);\nreturn 5"
                                          << "Error: Script has syntax errors!";
    }
    void callsChecked()
    {
        QFETCH(QString, script);
        QFETCH(QString, last);
        // The window's settings show this module type in kV.
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"))
            .setValue(QStringLiteral("THE1640p/voltageUnit"), QStringLiteral("kV"));
        QCOMPARE(runScript("for (var c = 0; c < 16; ++c) mod.setChannelVoltageSet(c, 0)"), 0);
        runScript(script.toUtf8());
        QCOMPARE(m_lines.value(m_lines.size() - 1), last);
        // A refused write is journaled with its reason, though nothing was sent.
        const QRegularExpression refusedWrite(QStringLiteral(R"(RangeError: mod\.(set\w+)\((.*)\): (.*)$)"));
        const QRegularExpressionMatch refusal = refusedWrite.match(last);
        if (refusal.hasMatch()) {
            QFile journal(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                + QStringLiteral("/Tesmar/tesmarcontrol/journal.txt"));
            QVERIFY(journal.open(QIODevice::ReadOnly));
            const QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            const QStringList fields = lines.value(lines.size() - 1).split(QLatin1Char('\t'));
            QVERIFY2(fields.contains(refusal.captured(1)) && fields.contains(refusal.captured(2))
                    && fields.contains(QStringLiteral("refused: ") + refusal.captured(3)),
                qPrintable(lines.value(lines.size() - 1)));
        }
        // Nothing of a refused call reached the crate.
        if (last.contains(QStringLiteral("Error")))
            QCOMPARE(runScript("[0, 1, 2].map(function (c) { return mod.channelVoltageSet(c); }).join()"), 0);
        if (last.contains(QStringLiteral("Error")))
            QCOMPARE(m_lines.last(), QStringLiteral("Script exited with result 0,0,0"));
    }

    // At most 50 writes a second: 26 writes take half a second at least.
    void writesArePaced()
    {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runScript("for (var i = 0; i < 26; ++i) mod.setChannelVoltageSet(0, i); 1"), 0);
        QVERIFY2(clock.elapsed() >= 500, qPrintable(QString::number(clock.elapsed())));
    }

    // SIGINT and SIGTERM stop the script and name the channels it left on.
    void signalsStopAndReport_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGINT") << int(SIGINT) << 130;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    }
    void signalsStopAndReport()
    {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QProcess process;
        process.start(QStringLiteral(TESMAR_SCRIPT_PATH),
            {"--crate", m_simulator.address(),
                writeScript("mod.setChannelOn(2); mod.setChannelOn(4); mod.setChannelOff(4); script.print('on');\n"
                            "for (;;) script.delay(100);")});
        QVERIFY(process.waitForReadyRead(30000));
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), exitCode);
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("still on (slot 0): 2\n")), qPrintable(errors));
        QCOMPARE(runScript("mod.setChannelOff(2)"), 0);
    }

    // A crate that goes off stops the script, which never writes on against a rebooted crate.
    void crateOffStopsScript()
    {
        QProcess process;
        process.start(QStringLiteral(TESMAR_SCRIPT_PATH),
            {"--crate", m_simulator.address(),
                writeScript("script.print('running');\n"
                            "for (;;) { try { mod.setChannelVoltageSet(1, 5); } catch (e) {} script.delay(50); }")});
        QVERIFY(process.waitForReadyRead(30000));
        QVERIFY(m_simulator.command(QStringLiteral("power off")));
        const bool ended = process.waitForFinished(15000);
        QVERIFY(m_simulator.command(QStringLiteral("power on")));
        QVERIFY(ended);
        QCOMPARE(process.exitCode(), 1);
        const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
        QVERIFY2(output.contains(QStringLiteral("Script stopped: the module has not answered for 2 s")), qPrintable(output));
        QTRY_VERIFY_WITH_TIMEOUT(runScript("1") == 0, 30000);
    }

    void version()
    {
        QCOMPARE(run({"--version"}), 0);
        QCOMPARE(m_lines, QStringList{"tesmar-script 1.0.8.6"});
    }

    // Killed while a write waits for the crate's answer, the program leaves the write's "sent"
    // line in the journal, naming the crate as the window does (host and port).
    void killDuringWriteLeavesTheIntent()
    {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("script.js"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("script.print('connected'); script.delay(1000); mod.setChannelVoltageSet(1, 123.5);");
        out.close();
        // The program's journal in a data folder of this test's own.
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toLocal8Bit());
        const auto restoreDataHome = qScopeGuard([&dataHome] {
            if (dataHome.isNull())
                qunsetenv("XDG_DATA_HOME");
            else
                qputenv("XDG_DATA_HOME", dataHome);
        });
        const QString journalPath = folder.filePath(QStringLiteral("data/Tesmar/tesmarcontrol/journal.txt"));
        const auto writeLines = [&journalPath] {
            QFile journal(journalPath);
            QStringList lines;
            if (journal.open(QIODevice::ReadOnly))
                lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            return lines.filter(QStringLiteral("\tvoltage set\t123.5 V\t"));
        };
        QVERIFY(writeLines().isEmpty());

        // Every answer of the crate takes 2 s: the kill lands while the write is in flight.
        qputenv("TESMAR_SNMP_TIMEOUT_MS", "20000");
        qputenv("TESMAR_SNMP_RETRIES", "0");
        QProcess process;
        process.start(QStringLiteral(TESMAR_SCRIPT_PATH), {"--crate", m_simulator.address(), "--slot", "3", file});
        qunsetenv("TESMAR_SNMP_TIMEOUT_MS");
        qunsetenv("TESMAR_SNMP_RETRIES");
        QByteArray output;
        QTRY_VERIFY2_WITH_TIMEOUT((output += process.readAllStandardOutput()).contains("connected"),
            (output + process.readAllStandardError()).constData(), 20000);
        QVERIFY(m_simulator.command(QStringLiteral("delay 2000")));
        QTRY_VERIFY_WITH_TIMEOUT(!writeLines().isEmpty(), 20000);
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(m_simulator.command(QStringLiteral("delay 0")));

        const QStringList lines = writeLines();
        QCOMPARE(lines.size(), 1);
        const QStringList fields = lines.first().split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 13);
        QCOMPARE(fields.at(1), m_simulator.address()); // "127.0.0.1:port"
        QCOMPARE(fields.mid(2, 1) + fields.mid(4, 1), (QStringList{"3", "1"}));
        QCOMPARE(fields.at(10), QStringLiteral("tesmar-script"));
        QCOMPARE(fields.at(12), QStringLiteral("sent"));
    }

private:
    QString writeScript(const QByteArray& text)
    {
        const QString file = m_folder.filePath(QStringLiteral("s%1.js").arg(++m_files));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
            return QString();
        return file;
    }
    int runScript(const QByteArray& text) { return run({"--crate", m_simulator.address(), writeScript(text)}); }

    // Runs tesmar-script; its exit status, or -1 when it crashed or did not end.
    int run(const QStringList& arguments)
    {
        QProcess process;
        process.start(QStringLiteral(TESMAR_SCRIPT_PATH), arguments);
        const bool ended = process.waitForFinished(60000);
        m_lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        m_errors = QString::fromLocal8Bit(process.readAllStandardError());
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    SimulatorProcess m_simulator;
    QTemporaryDir m_folder;
    int m_files = 0;
    QStringList m_lines; // standard output of the latest run
    QString m_errors;    // standard error of the latest run
};

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QCoreApplication application(argc, argv);
    TestTesmarScript test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tesmarscript.moc"
