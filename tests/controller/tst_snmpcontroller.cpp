// Binding the SNMP library at run time: success, a missing library and a failing initialisation.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct ProbeRun
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

ProbeRun runProbe(const QString& libraryDir, const QStringList& arguments = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!libraryDir.isNull())
        environment.insert(QStringLiteral("LD_LIBRARY_PATH"), libraryDir);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PROBE_PATH), arguments);
    ProbeRun run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

const char* const firstLine = "Tesmar SNMP Control: Error while initializing SNMP!\n";
const char* const lastLine = "\n\nProgram will be terminated.\n";

} // namespace

class TestSnmpController : public QObject
{
    Q_OBJECT

private slots:
    void bindsEveryEntryOfOurLibrary()
    {
        // The test environment's LD_LIBRARY_PATH points at the build's library folder.
        const ProbeRun run = runProbe(QString());
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QLatin1String("constructed ready=1 failures=0\nmissing=\n")), qPrintable(run.out));
    }

    // The fatal text names the real reason between its first and last line.
    void startupFailureEndsTheProgramWithTheReason_data()
    {
        QTest::addColumn<QString>("libraryDir");
        QTest::addColumn<QString>("reason");
        QTest::newRow("library missing") << QString() << "Cannot load library WIENER_SNMP";
        QTest::newRow("initialisation fails, library tells why")
            << QStringLiteral(INITFAILS_DIR) << "cannot open a UDP socket: Permission denied\n\nProgram";
        QTest::newRow("initialisation fails, library cannot tell")
            << QStringLiteral(INITFAILS_SILENT_DIR) << "WIENER_SNMP.so gave no reason.";
    }

    void startupFailureEndsTheProgramWithTheReason()
    {
        QFETCH(QString, libraryDir);
        QFETCH(QString, reason);
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        const ProbeRun run = runProbe(libraryDir.isEmpty() ? empty.path() : libraryDir);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 1);
        QVERIFY(!run.out.contains(QLatin1String("constructed")));
        const int first = run.err.indexOf(QLatin1String(firstLine));
        QVERIFY2(first >= 0 && run.err.endsWith(QLatin1String(lastLine)), qPrintable(run.err));
        const QString middle = run.err.mid(first + int(qstrlen(firstLine)));
        QVERIFY2(middle.contains(reason), qPrintable(run.err));
        QVERIFY(!run.err.contains(QLatin1String("MIB")));
    }

    void handlerThatReturnsLeavesAnInertController()
    {
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        const ProbeRun run = runProbe(empty.path(), {QStringLiteral("record")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QLatin1String("recorded 1: Tesmar SNMP Control: Error while initializing SNMP!")),
            qPrintable(run.out));
        QVERIFY(run.out.contains(QLatin1String("constructed ready=0 failures=1")));
        QVERIFY(run.out.contains(QLatin1String("inert=1")));

        const ProbeRun init = runProbe(QStringLiteral(INITFAILS_DIR), {QStringLiteral("record")});
        QCOMPARE(init.exitCode, 0);
        QVERIFY(init.out.contains(QLatin1String("constructed ready=0 failures=1")));
        QVERIFY(init.out.contains(QLatin1String("inert=1")));
    }
};

QTEST_GUILESS_MAIN(TestSnmpController)
#include "tst_snmpcontroller.moc"
