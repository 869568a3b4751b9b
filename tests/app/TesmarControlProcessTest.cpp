// The program as a process, as a user and the system see it: a normal start against the
// crate simulator prints nothing, SIGTERM and SIGINT end it as closing its window does (its
// address lock removed, the close's writes journaled, no "already a program accessing" at the
// next start), and a command line it cannot use or a missing display end it with their exit codes.
#include "IsolatedSettings.h"
#include "common/SimulatorProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#ifndef TESMAR_PROGRAM_PATH
#error "TESMAR_PROGRAM_PATH must name the program"
#endif

namespace {
IsolatedSettings* s_settings = nullptr;
const QString crateAddress = QStringLiteral("127.0.0.1");

struct Program
{
    explicit Program(const QStringList& arguments = {}, const QProcessEnvironment& environment = programEnvironment())
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TESMAR_PROGRAM_PATH), arguments);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    static QProcessEnvironment programEnvironment()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment;
    }
    // Exit code after a normal exit, -1 after a crash or when it did not end in time.
    int finish()
    {
        if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        output = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
        return process.exitCode();
    }
    QProcess process;
    QString output;
};

qint64 lockHolder()
{
    return s_settings->value(QStringLiteral("addresslock"), crateAddress).toLongLong();
}
} // namespace

class TesmarControlProcessTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void terminationClosesLikeTheWindow_data();
    void terminationClosesLikeTheWindow();
    void unusableStartsEndWithTheirCodes_data();
    void unusableStartsEndWithTheirCodes();

private:
    SimulatorProcess m_simulator;
    QTemporaryDir m_runtime;
};

void TesmarControlProcessTest::initTestCase()
{
    QVERIFY(m_simulator.start());
    m_simulator.exportLibraryEnvironment();
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("IpAddress"), crateAddress);
    // Qt warns about a missing runtime folder; the program's own output is what is checked.
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_DATA_HOME", (m_runtime.path() + QStringLiteral("/data")).toLocal8Bit());
}

void TesmarControlProcessTest::terminationClosesLikeTheWindow_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("closeBehavior");
    // 0 (ask) leaves the high voltage as it is; 1 switches everything off as a close does.
    QTest::newRow("SIGTERM, ask") << int(SIGTERM) << 0;
    QTest::newRow("SIGINT, switch off") << int(SIGINT) << 1;
}

void TesmarControlProcessTest::terminationClosesLikeTheWindow()
{
    QFETCH(int, signalNumber);
    QFETCH(int, closeBehavior);
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("CloseBehavior"), closeBehavior);
    const QString journalPath = m_runtime.path() + QStringLiteral("/data/Tesmar/tesmarcontrol/journal.txt");
    QFile::remove(journalPath);

    // Run twice: the second start finds the crate free (it would stop at the prompt otherwise
    // and never take the lock).
    for (int run = 0; run < 2; ++run) {
        Program program;
        QVERIFY(program.process.waitForStarted());
        const qint64 pid = program.process.processId();
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), pid, 15000);
        QTest::qWait(1500); // connected and refreshing (about two refresh cycles)
        ::kill(pid_t(pid), signalNumber);
        QCOMPARE(program.finish(), 0);
        QVERIFY2(program.output.isEmpty(), qPrintable(program.output));
        QCOMPARE(lockHolder(), 0);
    }
    QFile journal(journalPath);
    const QByteArray lines = journal.open(QIODevice::ReadOnly) ? journal.readAll() : QByteArray();
    // The default crate has modules: switching off at the close reaches the journal.
    QCOMPARE(lines.contains("\tclose\t"), closeBehavior == 1);
}

void TesmarControlProcessTest::unusableStartsEndWithTheirCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << true << 2
                                    << "tesmarcontrol: unknown option \"--bogus\"\nUsage: tesmarcontrol";
    QTest::newRow("unknown controller") << QStringList{"--controller", "vme"} << true << 2
                                        << "tesmarcontrol: unknown controller \"vme\"";
    QTest::newRow("no display") << QStringList{} << false << 3 << "tesmarcontrol: no display:";
    // Without a display the line is checked first; Qt's own options are not ours to refuse.
    QTest::newRow("unknown option, no display")
        << QStringList{"--bogus"} << false << 2 << "tesmarcontrol: unknown option \"--bogus\"";
    QTest::newRow("Qt's options, no display")
        << QStringList{"-style", "fusion", "--reverse", "-platform", "xcb"} << false << 3 << "tesmarcontrol: no display:";
}

void TesmarControlProcessTest::unusableStartsEndWithTheirCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QProcessEnvironment environment = Program::programEnvironment();
    if (!display) {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QLatin1String(name));
    }
    Program program(arguments, environment);
    QCOMPARE(program.finish(), exitCode);
    QVERIFY2(program.output.startsWith(message), qPrintable(program.output));
    QCOMPARE(lockHolder(), 0); // ended before anything was connected
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QCoreApplication application(argc, argv);
    TesmarControlProcessTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TesmarControlProcessTest.moc"
