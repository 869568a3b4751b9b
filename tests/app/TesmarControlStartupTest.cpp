#include "IsolatedSettings.h"
#include "common/SimulatorProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <memory>

#ifndef TESMAR_PROBE_PATH
#error "TESMAR_PROBE_PATH must name the probe executable"
#endif

namespace {
IsolatedSettings* s_settings = nullptr;

const QString crateAddress = QStringLiteral("127.0.0.1");
const QString conflictText =
    QStringLiteral("It seems there is already a program accessing the crate with IP address 127.0.0.1."
                   "<ul><li>Press Ok to connect anyway.</li>"
                   "<li>Change the IP address and press Ok to connect to another MPOD.</li>"
                   "<li>Press Cancel to quit the program.</li></ul>");

// One run of the probe: the program's window with scripted dialogs.
struct Probe
{
    explicit Probe(const QStringList& environment = {}, const QStringList& arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PROBE_REPORT_LOCKS"), crateAddress);
        for (const QString& entry : environment) {
            const int equals = entry.indexOf(QLatin1Char('='));
            env.insert(entry.left(equals), entry.mid(equals + 1));
        }
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(TESMAR_PROBE_PATH), arguments);
    }

    ~Probe()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    bool waitForLine(const QString& line)
    {
        QElapsedTimer timer;
        timer.start();
        while (!output.contains(line + QLatin1Char('\n'))) {
            if (process.state() == QProcess::NotRunning || timer.hasExpired(60000))
                return false;
            process.waitForReadyRead(200);
            output += QString::fromLocal8Bit(process.readAllStandardOutput());
        }
        return true;
    }

    // Waits for the end; returns the exit status, -1 on a crash or hang.
    int finish()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(60000))
            return -1;
        output += QString::fromLocal8Bit(process.readAllStandardOutput());
        errors += QString::fromLocal8Bit(process.readAllStandardError());
        if (process.exitStatus() != QProcess::NormalExit)
            return -1;
        // A sanitizer's report (a leak at exit) changes the exit status: show why.
        if (process.exitCode() != 0 && process.exitCode() != 2)
            qWarning().noquote() << errors;
        return process.exitCode();
    }

    QProcess process;
    QString output;
    QString errors; // collected by finish()
};

int countLines(const QString& text, const QString& part)
{
    int count = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        count += line.contains(part) ? 1 : 0;
    return count;
}
} // namespace

class TesmarControlStartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void secondInstanceOnSameAddressIsAskedAndCancelEndsWithTwo();
    void secondInstanceOnSameAddressMayConnectAnyway();
    void otherAddressLockedStartsSilently();
    void staleLockOfEndedInstanceIsTakenSilently();
    void specialModeArgument_data();
    void specialModeArgument();
    void storedAddressChecked_data();
    void storedAddressChecked();

private:
    quint16 m_silentPort = 0;
};

void TesmarControlStartupTest::initTestCase()
{
    // Nothing listens on this loopback port: a connection attempt stays on this machine.
    m_silentPort = SimulatorProcess::freeUdpPort();
    QVERIFY(m_silentPort != 0);
    qputenv("TESMAR_SNMP_PORT", QByteArray::number(m_silentPort));
    qputenv("TESMAR_SNMP_TIMEOUT_MS", "100");
    qputenv("TESMAR_SNMP_RETRIES", "0");
    qputenv("QT_QPA_PLATFORM", "offscreen");

    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("IpAddress"), crateAddress);
}

void TesmarControlStartupTest::init()
{
    s_settings->clear(QStringLiteral("addresslock"));
}

void TesmarControlStartupTest::secondInstanceOnSameAddressIsAskedAndCancelEndsWithTwo()
{
    Probe first({QStringLiteral("PROBE_HOLD=1")});
    QVERIFY2(first.waitForLine(QStringLiteral("holding")), qPrintable(first.output));
    QVERIFY(!first.output.contains(QStringLiteral("address-dialog")));
    QVERIFY(first.output.contains(QStringLiteral("locked-by-me 127.0.0.1")));
    const qint64 firstPid = first.process.processId();
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), crateAddress).toLongLong(), firstPid);

    Probe second({QStringLiteral("PROBE_ADDRESS_ANSWER=cancel")});
    QCOMPARE(second.finish(), 2);
    QVERIFY2(second.output.contains(QStringLiteral("address-dialog ") + conflictText), qPrintable(second.output));
    QVERIFY(second.output.contains(QStringLiteral("address-dialog-title Tesmar SNMP Control\n")));
    QVERIFY(second.output.contains(QStringLiteral("address-dialog-prefilled 127.0.0.1\n")));
    QVERIFY(!second.output.contains(QStringLiteral("constructed")));
    // The cancelled instance leaves the holder's lock alone.
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), crateAddress).toLongLong(), firstPid);

    // The holder releases its lock when its window goes away.
    QCOMPARE(first.finish(), 0);
    QVERIFY(first.output.contains(QStringLiteral("destroyed")));
    QVERIFY(!s_settings->value(QStringLiteral("addresslock"), crateAddress).isValid());
}

void TesmarControlStartupTest::secondInstanceOnSameAddressMayConnectAnyway()
{
    Probe first({QStringLiteral("PROBE_HOLD=1")});
    QVERIFY2(first.waitForLine(QStringLiteral("holding")), qPrintable(first.output));

    Probe second({QStringLiteral("PROBE_HOLD=1")});
    QVERIFY2(second.waitForLine(QStringLiteral("holding")), qPrintable(second.output));
    QVERIFY(second.output.contains(QStringLiteral("address-dialog ") + conflictText));
    QVERIFY(second.output.contains(QStringLiteral("locked-by-me 127.0.0.1")));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), crateAddress).toLongLong(), second.process.processId());

    // The first instance no longer holds the entry, so its exit leaves it in place.
    QCOMPARE(first.finish(), 0);
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), crateAddress).toLongLong(), second.process.processId());
    QCOMPARE(second.finish(), 0);
    QVERIFY(!s_settings->value(QStringLiteral("addresslock"), crateAddress).isValid());
}

void TesmarControlStartupTest::otherAddressLockedStartsSilently()
{
    // This test process is running and holds another crate's address.
    const QString otherCrate = QStringLiteral("192.0.2.17");
    s_settings->setValue(QStringLiteral("addresslock"), otherCrate, QCoreApplication::applicationPid());

    Probe probe;
    QCOMPARE(probe.finish(), 0);
    QVERIFY2(!probe.output.contains(QStringLiteral("address-dialog")), qPrintable(probe.output));
    QVERIFY(probe.output.contains(QStringLiteral("locked-by-me 127.0.0.1")));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), otherCrate).toLongLong(), QCoreApplication::applicationPid());
    QVERIFY(!s_settings->value(QStringLiteral("addresslock"), crateAddress).isValid());
}

void TesmarControlStartupTest::staleLockOfEndedInstanceIsTakenSilently()
{
    // As if an instance had crashed without releasing its lock.
    QProcess gone;
    gone.start(QStringLiteral("/bin/true"), {});
    QVERIFY(gone.waitForStarted(10000));
    const qint64 endedPid = gone.processId();
    QVERIFY(gone.waitForFinished(10000));
    QVERIFY(endedPid > 0);
    s_settings->setValue(QStringLiteral("addresslock"), crateAddress, endedPid);

    Probe probe({QStringLiteral("PROBE_HOLD=1")});
    QVERIFY2(probe.waitForLine(QStringLiteral("holding")), qPrintable(probe.output));
    QVERIFY(!probe.output.contains(QStringLiteral("address-dialog")));
    QCOMPARE(s_settings->value(QStringLiteral("addresslock"), crateAddress).toLongLong(), probe.process.processId());
    QCOMPARE(probe.finish(), 0);
}

void TesmarControlStartupTest::specialModeArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("none") << QStringList() << false;
    QTest::newRow("vrok first") << QStringList{QStringLiteral("vrok")} << true;
    QTest::newRow("vrok first of two") << QStringList{QStringLiteral("vrok"), QStringLiteral("x")} << true;
    QTest::newRow("vrok second") << QStringList{QStringLiteral("x"), QStringLiteral("vrok")} << false;
    QTest::newRow("other word") << QStringList{QStringLiteral("vrokk")} << false;
    QTest::newRow("capitalised") << QStringList{QStringLiteral("Vrok")} << false;
}

void TesmarControlStartupTest::specialModeArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, enabled);
    Probe probe({}, arguments);
    QCOMPARE(probe.finish(), 0);
    QVERIFY2(
        probe.output.contains(QStringLiteral("special-mode-enabled %1\n").arg(enabled ? 1 : 0)), qPrintable(probe.output));
    QVERIFY(probe.output.contains(QStringLiteral("special-mode-hidden 1\n")));
}

void TesmarControlStartupTest::storedAddressChecked_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("malformed");
    QTest::newRow("loopback") << crateAddress << false;
    QTest::newRow("parts above 255") << QStringLiteral("999.999.999.999") << true;
    QTest::newRow("leading zero") << QStringLiteral("127.0.0.01") << true;
    QTest::newRow("three parts") << QStringLiteral("127.0.1") << true;
    QTest::newRow("host name") << QStringLiteral("crate.local") << true;
    QTest::newRow("with port") << QStringLiteral("127.0.0.1:161") << true;
    QTest::newRow("blank around") << QStringLiteral(" 127.0.0.1") << true;
    QTest::newRow("empty") << QString() << true;
}

// A malformed stored address counts as a missing one: the default address with one warning.
void TesmarControlStartupTest::storedAddressChecked()
{
    QFETCH(QString, stored);
    QFETCH(bool, malformed);
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("IpAddress"), stored);
    Probe probe;
    const int status = probe.finish();
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("IpAddress"), crateAddress);
    QCOMPARE(status, 0);
    QVERIFY2(probe.output.contains(QStringLiteral("locked-by-me 127.0.0.1")), qPrintable(probe.output));
    const QString errors = probe.errors;
    QCOMPARE(countLines(errors, QStringLiteral("IpAddress")), malformed ? 1 : 0);
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QCoreApplication application(argc, argv);
    TesmarControlStartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TesmarControlStartupTest.moc"
