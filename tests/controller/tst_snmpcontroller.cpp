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

const char* const loadFailure = "Tesmar SNMP Control: Error while loading shared library 'WIENER_SNMP' or one of "
                                "it's dependencies!\n\nProgram will be terminated.";
const char* const initFailure = "Tesmar SNMP Control: Error while initializing SNMP!\nMost likely the "
                                "WIENER-CRATE-MIB.txt is missing in /usr/share/snmp/mibs.\n\nProgram will be "
                                "terminated.";

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
        QVERIFY2(run.out.contains(QLatin1String("constructed ready=1 failures=0")), qPrintable(run.out));
        QVERIFY2(run.err.contains(QLatin1String("loaded succesfully")), qPrintable(run.err));
        // One line per group with "true" per resolved entry: all 85 are there.
        QCOMPARE(run.err.count(QLatin1String("true")), 85);
        QVERIFY(!run.err.contains(QLatin1String("false")));
    }

    void missingLibraryEndsTheProgram()
    {
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        const ProbeRun run = runProbe(empty.path());
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QLatin1String(loadFailure)), qPrintable(run.err));
        QVERIFY(!run.out.contains(QLatin1String("constructed")));
    }

    void failingInitialisationEndsTheProgram()
    {
        const ProbeRun run = runProbe(QStringLiteral(INITFAILS_DIR));
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QLatin1String(initFailure)), qPrintable(run.err));
        // The stand-in exports only snmpInit: the others are reported as not resolved.
        QVERIFY(run.err.contains(QLatin1String("false")));
    }

    void handlerThatReturnsLeavesAnInertController()
    {
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        const ProbeRun run = runProbe(empty.path(), {QStringLiteral("record")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QLatin1String("recorded 1: Tesmar SNMP Control: Error while loading shared library")),
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
