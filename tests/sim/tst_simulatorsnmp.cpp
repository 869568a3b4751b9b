// The crate simulator seen from outside: a child process answering SNMP on a loopback port,
// driven through its control channel, checked with a plain net-snmp client.

#include "SnmpTestClient.h"
#include "TestPaths.h"
#include "common/SimulatorProcess.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

const QString crate = QStringLiteral("1.3.6.1.4.1.19947.1");
const QString sysDescr = QStringLiteral("1.3.6.1.2.1.1.1.0");
const QString sysUpTime = QStringLiteral("1.3.6.1.2.1.1.3.0");
const QString mainSwitch = crate + QStringLiteral(".1.1.0");
const QString sysStatus = crate + QStringLiteral(".1.2.0");
const QString outputNumber = crate + QStringLiteral(".3.1.0");
const QString groupsSwitchAll = crate + QStringLiteral(".3.4.1.9.64");

// Output table columns and channel status bits used below.
enum Column {
    Name = 2,
    Status = 4,
    Terminal = 6,
    Current = 7,
    Switch = 9,
    Voltage = 10,
    SetCurrent = 12,
    Behaviour = 15,
    TripTime = 27
};
enum ChannelBit {
    On = 0,
    Inhibit = 1,
    Trip = 5,
    CurrentLimited = 10,
    RampUp = 11,
    RampDown = 12,
    KillEnabled = 13,
    EmergencyOff = 14,
    ConstantVoltage = 16
};
enum ModuleBit { FineAdjustment = 0, InputError = 6, NoRamp = 9, EventActive = 11, KillEnable = 15 };
enum ModuleEventBit { EventInputError = 6, EventPowerFail = 16 };

QString out(int column, int slot, int channel)
{
    return QStringLiteral("%1.3.2.1.%2.%3").arg(crate).arg(column).arg(slot * 100 + channel + 1);
}

QString mod(const QString& column, int slot)
{
    return QStringLiteral("%1.3.6.1.%2.%3").arg(crate, column).arg(slot + 1);
}

// Numeric OID order, as an agent must walk.
bool oidLess(const QString& a, const QString& b)
{
    const QStringList x = a.split(QLatin1Char('.'));
    const QStringList y = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMin(x.size(), y.size()); ++i) {
        const qulonglong u = x[i].toULongLong(), v = y[i].toULongLong();
        if (u != v)
            return u < v;
    }
    return x.size() < y.size();
}

} // namespace

class SimulatorSnmpTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void identityAndWalkInOidOrder();
    void bulkReadOfAColumn();
    void writeWithReadCommunityIsRefused();
    void writeChecks_data();
    void writeChecks();
    void outOfRangeRaisesInputErrorUntilCleared();
    void rampFollowsModuleSpeedInScaledTime();
    void currentTrip_data();
    void currentTrip();
    void externalInhibit_data();
    void externalInhibit();
    void emergencyOffAndReset();
    void killEnableAndFineAdjustment();
    void mainSwitchOffRemovesModulesUntilBooted();
    void powerFailureAndReturn();
    void measurementModuleModes();
    void maxResponseAnswersTooBigAndServedCounts();
    void silentDropAndDelay();
    void controlChannelRejectsBadCommands();
    void startFailures();
    void configurationFile();
    void channelNominalValues();

private:
    // Starts a simulator (optionally with a configuration) and a write and a read client.
    void startSimulator(const QByteArray& configJson = QByteArray());
    void command(const QString& line);
    SnmpTestClient::Binding get(const QString& oid) { return m_read->value(oid); }
    void set(const QString& oid, char type, const QString& value);
    void prepareTripChannel(int action);

    QTemporaryDir m_dir;
    std::unique_ptr<SimulatorProcess> m_sim;
    std::unique_ptr<SnmpTestClient> m_read;
    std::unique_ptr<SnmpTestClient> m_write;
};

void SimulatorSnmpTest::init()
{
    m_sim.reset();
}

void SimulatorSnmpTest::cleanup()
{
    m_read.reset();
    m_write.reset();
    if (m_sim && m_sim->isRunning())
        m_sim->stop();
    m_sim.reset();
}

void SimulatorSnmpTest::startSimulator(const QByteArray& configJson)
{
    m_sim = std::make_unique<SimulatorProcess>();
    if (!configJson.isEmpty()) {
        const QString path = m_dir.filePath(QStringLiteral("crate-%1.json").arg(QTest::currentTestFunction()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(configJson);
        file.close();
        m_sim->setConfigFile(path);
    }
    QVERIFY2(m_sim->start(), qPrintable(m_sim->output()));
    m_read = std::make_unique<SnmpTestClient>(m_sim->address(), QStringLiteral("public"));
    m_write = std::make_unique<SnmpTestClient>(m_sim->address(), QStringLiteral("guru"));
    command(QStringLiteral("noise off"));
}

void SimulatorSnmpTest::command(const QString& line)
{
    QString answer;
    QVERIFY2(m_sim->command(line, &answer), qPrintable(line + QStringLiteral(" -> ") + answer));
}

void SimulatorSnmpTest::set(const QString& oid, char type, const QString& value)
{
    const SnmpTestClient::Result result = m_write->set(oid, type, value);
    QVERIFY2(result.ok(), qPrintable(QStringLiteral("SET %1 = %2 failed with %3").arg(oid, value).arg(result.error)));
}

void SimulatorSnmpTest::identityAndWalkInOidOrder()
{
    startSimulator();
    const QByteArray descr = get(sysDescr).bytes;
    QVERIFY(
        QRegularExpression(QStringLiteral("MPOD \\d+\\.\\d+\\.\\d+\\.\\d+")).match(QString::fromLatin1(descr)).hasMatch());
    QCOMPARE(QRegularExpression(QStringLiteral("\\((\\d+),")).match(QString::fromLatin1(descr)).captured(1),
        QStringLiteral("4711042"));
    QCOMPARE(get(crate + QStringLiteral(".6.2.0")).bytes, QByteArray("4711042"));
    QCOMPARE(get(outputNumber).integer, 64L);
    QCOMPARE(get(crate + QStringLiteral(".3.5.0")).integer, 4L);

    SnmpTestClient::Result end;
    const std::vector<SnmpTestClient::Binding> tree = m_read->walk(QStringLiteral("1.3.6.1.4.1.19947"), &end);
    QVERIFY(end.ok()); // the walk ended by leaving the tree, not by an error
    QVERIFY(tree.size() > 64 * 26);
    QStringList names, descriptions;
    int floats = 0;
    for (size_t i = 0; i < tree.size(); ++i) {
        if (i > 0)
            QVERIFY2(
                oidLess(tree[i - 1].oid, tree[i].oid), qPrintable(tree[i - 1].oid + QStringLiteral(" !< ") + tree[i].oid));
        if (tree[i].oid.startsWith(crate + QStringLiteral(".3.2.1.2.")))
            names << QString::fromLatin1(tree[i].bytes);
        if (tree[i].oid.startsWith(crate + QStringLiteral(".3.6.1.2.")))
            descriptions << QString::fromLatin1(tree[i].bytes);
        floats += tree[i].type == ASN_OPAQUE_FLOAT;
    }
    QStringList expectedNames;
    for (int slot : {0, 3, 5, 8}) {
        const int channels = slot == 5 ? 32 : slot == 0 ? 16 : 8;
        for (int ch = 0; ch < channels; ++ch)
            expectedNames << QStringLiteral("U%1").arg(slot * 100 + ch);
    }
    QCOMPARE(names, expectedNames);
    QCOMPARE(descriptions,
        QStringList({QStringLiteral("Tesmar, THE1640p, 16, 4711001, 01.23"),
            QStringLiteral("Tesmar, THX0830b, 8, 4711004, 01.23"), QStringLiteral("Tesmar, THC3210p, 32, 4711006, 01.23"),
            QStringLiteral("Tesmar, TMM0800m, 8, 4711009, 01.23")}));
    QVERIFY(floats > 64 * 10);

    // The system group walks too, and an absent module row is no instance.
    const std::vector<SnmpTestClient::Binding> system = m_read->walk(QStringLiteral("1.3.6.1.2.1.1"));
    QVERIFY(system.size() >= 3);
    QCOMPARE(system.front().oid, sysDescr);
    const SnmpTestClient::Result absent = m_read->get({mod(QStringLiteral("2"), 1), out(Voltage, 1, 0)});
    QVERIFY(absent.ok());
    QCOMPARE(absent.bindings[0].type, int(SNMP_NOSUCHINSTANCE));
    QCOMPARE(absent.bindings[1].type, int(SNMP_NOSUCHINSTANCE));
    const SnmpTestClient::Result unknown = m_read->get({crate + QStringLiteral(".3.2.1.99.1")});
    QCOMPARE(unknown.bindings[0].type, int(SNMP_NOSUCHOBJECT));
}

void SimulatorSnmpTest::bulkReadOfAColumn()
{
    startSimulator();
    set(out(Voltage, 5, 3), 'F', QStringLiteral("123.5"));
    const SnmpTestClient::Result bulk = m_read->getBulk(crate + QStringLiteral(".3.2.1.10.500"), 32);
    QVERIFY(bulk.ok());
    QCOMPARE(int(bulk.bindings.size()), 32);
    for (int ch = 0; ch < 32; ++ch) {
        QCOMPARE(bulk.bindings[size_t(ch)].oid, out(Voltage, 5, ch));
        QCOMPARE(bulk.bindings[size_t(ch)].real, ch == 3 ? 123.5 : 0.0);
    }
}

void SimulatorSnmpTest::writeWithReadCommunityIsRefused()
{
    startSimulator();
    const SnmpTestClient::Result refused = m_read->set(out(Switch, 0, 0), 'i', QStringLiteral("1"));
    QCOMPARE(refused.error, int(SNMP_ERR_NOACCESS));
    QCOMPARE(get(out(Switch, 0, 0)).integer, 0L);
    // Another community is not answered at all, like a crate.
    SnmpTestClient stranger(m_sim->address(), QStringLiteral("nobody"), 300, 0);
    QCOMPARE(stranger.get({sysDescr}).error, SnmpTestClient::timedOut);
}

void SimulatorSnmpTest::writeChecks_data()
{
    QTest::addColumn<QString>("oid");
    QTest::addColumn<char>("type");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("error");

    QTest::newRow("voltage within nominal") << out(Voltage, 0, 1) << 'F' << "3999" << int(SNMP_ERR_NOERROR);
    QTest::newRow("voltage above nominal") << out(Voltage, 0, 1) << 'F' << "4001" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("negative voltage, unipolar") << out(Voltage, 0, 1) << 'F' << "-10" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("negative voltage, bipolar") << out(Voltage, 3, 2) << 'F' << "-2999" << int(SNMP_ERR_NOERROR);
    QTest::newRow("below -nominal, bipolar") << out(Voltage, 3, 2) << 'F' << "-3001" << int(SNMP_ERR_WRONGVALUE);
    // 1 mA is not exact in single precision: the nominal value as a client reads and sends it.
    QTest::newRow("current at nominal") << out(SetCurrent, 5, 0) << 'F' << "0.001" << int(SNMP_ERR_NOERROR);
    QTest::newRow("current above nominal") << out(SetCurrent, 5, 0) << 'F' << "0.0011" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("voltage as integer") << out(Voltage, 0, 1) << 'i' << "100" << int(SNMP_ERR_WRONGTYPE);
    QTest::newRow("switch as float") << out(Switch, 0, 1) << 'F' << "1" << int(SNMP_ERR_WRONGTYPE);
    QTest::newRow("unknown switch value") << out(Switch, 0, 1) << 'i' << "7" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("measured voltage") << out(Terminal, 0, 1) << 'F' << "1" << int(SNMP_ERR_NOTWRITABLE);
    QTest::newRow("module description") << mod(QStringLiteral("2"), 0) << 's' << "x" << int(SNMP_ERR_NOTWRITABLE);
    QTest::newRow("set voltage of a measurement channel") << out(Voltage, 8, 0) << 'F' << "1" << int(SNMP_ERR_NOTWRITABLE);
    QTest::newRow("channel of an empty slot") << out(Voltage, 1, 0) << 'F' << "1" << int(SNMP_ERR_NOCREATION);
    QTest::newRow("trip time range") << out(TripTime, 0, 1) << 'i' << "65536" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("behaviour") << out(Behaviour, 0, 1) << 'i' << "4160" << int(SNMP_ERR_NOERROR);
    QTest::newRow("main switch value") << mainSwitch << 'i' << "2" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("ramp speed") << mod(QStringLiteral("6"), 0) << 'F' << "12.5" << int(SNMP_ERR_NOERROR);
    QTest::newRow("ramp speed zero") << mod(QStringLiteral("6"), 0) << 'F' << "0" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("fan speed not allowed") << crate + QStringLiteral(".7.6.0") << 'i' << "600" << int(SNMP_ERR_WRONGVALUE);
    QTest::newRow("static address") << crate + QStringLiteral(".5.1.12.0") << 'a' << "10.1.2.3" << int(SNMP_ERR_NOERROR);
}

void SimulatorSnmpTest::writeChecks()
{
    QFETCH(QString, oid);
    QFETCH(char, type);
    QFETCH(QString, value);
    QFETCH(int, error);
    startSimulator();
    const SnmpTestClient::Binding before = get(oid);
    const SnmpTestClient::Result result = m_write->set(oid, type, value);
    QCOMPARE(result.error, error);
    const SnmpTestClient::Binding after = m_read->get({oid}).bindings.at(0);
    if (error == SNMP_ERR_NOERROR) {
        if (type == 'F')
            QCOMPARE(after.real, double(value.toFloat()));
        else if (type == 'i')
            QCOMPARE(after.integer, value.toLong());
        else if (type == 'a')
            QCOMPARE(after.bytes, QByteArray("\x0a\x01\x02\x03", 4));
    } else {
        // A refused write changes nothing.
        QCOMPARE(after.type, before.type);
        QCOMPARE(after.real, before.real);
        QCOMPARE(after.integer, before.integer);
        QCOMPARE(after.bytes, before.bytes);
    }
}

void SimulatorSnmpTest::outOfRangeRaisesInputErrorUntilCleared()
{
    startSimulator();
    QVERIFY(!get(mod(QStringLiteral("8"), 0)).bit(InputError));
    QCOMPARE(m_write->set(out(Voltage, 0, 4), 'F', QStringLiteral("4500")).error, int(SNMP_ERR_WRONGVALUE));
    SnmpTestClient::Binding status = get(mod(QStringLiteral("8"), 0));
    QVERIFY(status.bit(InputError));
    QVERIFY(status.bit(EventActive));
    QVERIFY(get(mod(QStringLiteral("9"), 0)).bit(EventInputError));
    QVERIFY(!get(mod(QStringLiteral("8"), 5)).bit(InputError)); // only the module written to
    set(out(Switch, 0, 4), 'i', QStringLiteral("10"));
    QVERIFY(!get(mod(QStringLiteral("8"), 0)).bit(InputError));
    QVERIFY(!get(mod(QStringLiteral("9"), 0)).bit(EventInputError));

    // The module's own clear does the same.
    QCOMPARE(m_write->set(out(SetCurrent, 0, 4), 'F', QStringLiteral("1")).error, int(SNMP_ERR_WRONGVALUE));
    QVERIFY(get(mod(QStringLiteral("8"), 0)).bit(InputError));
    set(mod(QStringLiteral("11"), 0), 'i', QStringLiteral("1"));
    QVERIFY(!get(mod(QStringLiteral("8"), 0)).bit(InputError));
}

void SimulatorSnmpTest::rampFollowsModuleSpeedInScaledTime()
{
    startSimulator();
    command(QStringLiteral("timescale 10"));
    set(mod(QStringLiteral("6"), 0), 'F', QStringLiteral("1")); // 1 %/s of 4000 V: 40 V/s
    QCOMPARE(get(out(13, 0, 0)).real, 40.0);                    // the channel's rise rate
    set(out(Voltage, 0, 0), 'F', QStringLiteral("4000"));
    set(out(Switch, 0, 0), 'i', QStringLiteral("1"));

    // Two samples of simulated time and voltage during the ramp give its speed, independent of
    // how fast this machine runs.
    const QStringList sample{sysUpTime, out(Terminal, 0, 0), out(Status, 0, 0)};
    SnmpTestClient::Result first;
    QTRY_VERIFY_WITH_TIMEOUT((first = m_read->get(sample)).ok() && first.bindings[1].real > 1.0, 10000);
    QVERIFY(first.bindings[2].bit(RampUp));
    QVERIFY(first.bindings[2].bit(On));
    QVERIFY(!get(mod(QStringLiteral("8"), 0)).bit(NoRamp));
    SnmpTestClient::Result second;
    QTRY_VERIFY_WITH_TIMEOUT(
        (second = m_read->get(sample)).ok() && second.bindings[0].integer - first.bindings[0].integer >= 300, 20000);
    QVERIFY(second.bindings[2].bit(RampUp));
    const double seconds = (second.bindings[0].integer - first.bindings[0].integer) / 100.0;
    const double speed = (second.bindings[1].real - first.bindings[1].real) / seconds;
    QVERIFY2(std::fabs(speed - 40.0) < 1.5, qPrintable(QString::number(speed)));

    // A faster ramp reaches the set value; the channel then regulates at constant voltage.
    set(mod(QStringLiteral("6"), 0), 'F', QStringLiteral("20"));
    QTRY_COMPARE_WITH_TIMEOUT(get(out(Terminal, 0, 0)).real, 4000.0, 10000);
    const SnmpTestClient::Binding status = get(out(Status, 0, 0));
    QVERIFY(!status.bit(RampUp));
    QVERIFY(status.bit(ConstantVoltage));
    QVERIFY(get(mod(QStringLiteral("8"), 0)).bit(NoRamp));
    QCOMPARE(get(out(Current, 0, 0)).real, double(float(4000.0 / 10e6))); // default load 10 MOhm

    // Switched off it ramps down to zero.
    set(out(Switch, 0, 0), 'i', QStringLiteral("0"));
    QVERIFY(get(out(Status, 0, 0)).bit(RampDown));
    QTRY_COMPARE_WITH_TIMEOUT(get(out(Terminal, 0, 0)).real, 0.0, 10000);
}

void SimulatorSnmpTest::prepareTripChannel(int action)
{
    // Channel 2 of slot 0 into 1 MOhm, limited at 0.5 mA, so it holds 500 V instead of 1000 V.
    command(QStringLiteral("timescale 10"));
    command(QStringLiteral("load 0 2 1e6"));
    set(mod(QStringLiteral("6"), 0), 'F', QStringLiteral("20"));
    set(out(SetCurrent, 0, 2), 'F', QStringLiteral("0.0005"));
    set(out(TripTime, 0, 2), 'i', QStringLiteral("20000"));
    set(out(Behaviour, 0, 2), 'i', QString::number(action << 6));
    set(out(Voltage, 0, 2), 'F', QStringLiteral("1000"));
    set(out(Voltage, 0, 3), 'F', QStringLiteral("100"));
    set(out(Switch, 0, 3), 'i', QStringLiteral("1"));
    set(out(Switch, 0, 2), 'i', QStringLiteral("1"));
}

void SimulatorSnmpTest::currentTrip_data()
{
    QTest::addColumn<int>("action");
    QTest::newRow("ignore") << 0;
    QTest::newRow("ramp down") << 1;
    QTest::newRow("off without ramp") << 2;
    QTest::newRow("module off") << 3;
}

void SimulatorSnmpTest::currentTrip()
{
    QFETCH(int, action);
    startSimulator();
    prepareTripChannel(action);

    // Current limited: constant current at the set current, the voltage the load allows. The
    // limit began after the last simulated time at which the channel was seen unlimited.
    long unlimitedAt = 0;
    auto limited = [&] {
        const SnmpTestClient::Result r = m_read->get({out(Status, 0, 2), sysUpTime});
        if (!r.ok() || r.bindings[0].bit(CurrentLimited))
            return r.ok();
        unlimitedAt = r.bindings[1].integer;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(limited(), 10000);
    const long limitedAt = get(sysUpTime).integer;
    SnmpTestClient::Binding status = get(out(Status, 0, 2));
    QVERIFY(!status.bit(Trip));
    QVERIFY(!status.bit(ConstantVoltage));
    QCOMPARE(get(out(Current, 0, 2)).real, double(0.0005f));
    QVERIFY(std::fabs(get(out(Terminal, 0, 2)).real - 500.0) < 0.01);
    // A slow module ramp from now on makes a ramp down visible after the trip.
    set(mod(QStringLiteral("6"), 0), 'F', QStringLiteral("0.1"));

    if (action == 0) {
        QTRY_VERIFY_WITH_TIMEOUT(get(sysUpTime).integer > limitedAt + 2500, 20000);
        status = get(out(Status, 0, 2));
        QVERIFY(status.bit(On));
        QVERIFY(status.bit(CurrentLimited));
        QVERIFY(!status.bit(Trip));
        return;
    }
    const QStringList trip{out(Status, 0, 2), out(Terminal, 0, 2), out(Switch, 0, 2), out(Status, 0, 3), sysUpTime,
        mod(QStringLiteral("8"), 0)};
    SnmpTestClient::Result after;
    QTRY_VERIFY_WITH_TIMEOUT((after = m_read->get(trip)).ok() && after.bindings[0].bit(Trip), 20000);
    QVERIFY(after.bindings[4].integer >= unlimitedAt + 2000 - 1); // not before the trip time passed
    QVERIFY(!after.bindings[0].bit(On));
    QCOMPARE(after.bindings[2].integer, 0L);
    QVERIFY(after.bindings[5].bit(EventActive));
    if (action == 1) {
        QVERIFY(after.bindings[0].bit(RampDown));
        QVERIFY(after.bindings[1].real > 0);
    } else {
        QCOMPARE(after.bindings[1].real, 0.0);
        QVERIFY(!after.bindings[0].bit(RampDown));
    }
    QCOMPARE(after.bindings[3].bit(On), action != 3); // the neighbour only goes with the module

    // A tripped channel stays off until its events are cleared.
    set(out(Switch, 0, 2), 'i', QStringLiteral("1"));
    QVERIFY(!get(out(Status, 0, 2)).bit(On));
    set(out(Switch, 0, 2), 'i', QStringLiteral("10"));
    QVERIFY(!get(out(Status, 0, 2)).bit(Trip));
    set(out(Switch, 0, 2), 'i', QStringLiteral("1"));
    QVERIFY(get(out(Status, 0, 2)).bit(On));
}

void SimulatorSnmpTest::externalInhibit_data()
{
    currentTrip_data();
}

void SimulatorSnmpTest::externalInhibit()
{
    QFETCH(int, action);
    startSimulator();
    command(QStringLiteral("timescale 10"));
    set(mod(QStringLiteral("6"), 3), 'F', QStringLiteral("20"));
    set(out(Behaviour, 3, 1), 'i', QString::number(action << 12));
    set(out(Voltage, 3, 1), 'F', QStringLiteral("-600"));
    set(out(Voltage, 3, 2), 'F', QStringLiteral("600"));
    set(out(Switch, 3, 1), 'i', QStringLiteral("1"));
    set(out(Switch, 3, 2), 'i', QStringLiteral("1"));
    QTRY_COMPARE_WITH_TIMEOUT(get(out(Terminal, 3, 1)).real, -600.0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(get(out(Terminal, 3, 2)).real, 600.0, 10000);
    set(mod(QStringLiteral("6"), 3), 'F', QStringLiteral("0.1")); // 3 V/s: a ramp down lasts

    command(QStringLiteral("inhibit 3 1 on"));
    const SnmpTestClient::Result after = m_read->get({out(Status, 3, 1), out(Terminal, 3, 1), out(Status, 3, 2)});
    QVERIFY(after.ok());
    QVERIFY(after.bindings[0].bit(Inhibit));
    QCOMPARE(after.bindings[0].bit(On), action == 0);
    QCOMPARE(after.bindings[0].bit(RampDown), action == 1);
    if (action >= 2)
        QCOMPARE(after.bindings[1].real, 0.0);
    else
        QVERIFY(after.bindings[1].real < -500.0);
    QCOMPARE(after.bindings[2].bit(On), action != 3);

    if (action != 0) {
        // No switching on while the inhibit is applied, nor before its event is cleared.
        set(out(Switch, 3, 1), 'i', QStringLiteral("1"));
        QVERIFY(!get(out(Status, 3, 1)).bit(On));
        command(QStringLiteral("inhibit 3 1 off"));
        set(out(Switch, 3, 1), 'i', QStringLiteral("1"));
        QVERIFY(!get(out(Status, 3, 1)).bit(On));
        QVERIFY(get(out(Status, 3, 1)).bit(Inhibit)); // latched
        set(out(Switch, 3, 1), 'i', QStringLiteral("10"));
        QVERIFY(!get(out(Status, 3, 1)).bit(Inhibit));
        set(out(Switch, 3, 1), 'i', QStringLiteral("1"));
        QVERIFY(get(out(Status, 3, 1)).bit(On));
    } else {
        command(QStringLiteral("inhibit 3 1 off"));
        QVERIFY(!get(out(Status, 3, 1)).bit(Inhibit));
    }
    QVERIFY(!m_sim->command(QStringLiteral("inhibit 8 0 on"))); // measurement channels have none
    QVERIFY(!m_sim->command(QStringLiteral("inhibit 1 0 on"))); // empty slot
}

void SimulatorSnmpTest::emergencyOffAndReset()
{
    startSimulator();
    command(QStringLiteral("timescale 10"));
    set(mod(QStringLiteral("6"), 5), 'F', QStringLiteral("20"));
    set(out(Voltage, 5, 7), 'F', QStringLiteral("800"));
    set(out(Switch, 5, 7), 'i', QStringLiteral("1"));
    QTRY_COMPARE_WITH_TIMEOUT(get(out(Terminal, 5, 7)).real, 800.0, 10000);
    set(mod(QStringLiteral("6"), 5), 'F', QStringLiteral("0.1"));

    set(out(Switch, 5, 7), 'i', QStringLiteral("3"));
    const SnmpTestClient::Result off =
        m_read->get({out(Status, 5, 7), out(Terminal, 5, 7), out(Voltage, 5, 7), out(Switch, 5, 7)});
    QVERIFY(off.bindings[0].bit(EmergencyOff));
    QVERIFY(!off.bindings[0].bit(On));
    QCOMPARE(off.bindings[1].real, 0.0); // no ramp
    QCOMPARE(off.bindings[2].real, 0.0); // the set voltage is reset
    QCOMPARE(off.bindings[3].integer, 3L);

    set(out(Voltage, 5, 7), 'F', QStringLiteral("100"));
    set(out(Switch, 5, 7), 'i', QStringLiteral("1"));
    QVERIFY(!get(out(Status, 5, 7)).bit(On));
    set(out(Switch, 5, 7), 'i', QStringLiteral("2"));
    QVERIFY(!get(out(Status, 5, 7)).bit(EmergencyOff));
    QCOMPARE(get(out(Switch, 5, 7)).integer, 0L);
    set(out(Switch, 5, 7), 'i', QStringLiteral("1"));
    QVERIFY(get(out(Status, 5, 7)).bit(On));

    // The crate-wide emergency off reaches every high-voltage channel.
    set(groupsSwitchAll, 'i', QStringLiteral("3"));
    QVERIFY(get(out(Status, 0, 0)).bit(EmergencyOff));
    QVERIFY(get(out(Status, 3, 7)).bit(EmergencyOff));
    QVERIFY(!get(out(Status, 5, 7)).bit(On));
    set(groupsSwitchAll, 'i', QStringLiteral("10"));
    QVERIFY(!get(out(Status, 0, 0)).bit(EmergencyOff));
}

void SimulatorSnmpTest::killEnableAndFineAdjustment()
{
    startSimulator();
    QVERIFY(!get(mod(QStringLiteral("8"), 0)).bit(KillEnable));
    set(groupsSwitchAll, 'i', QStringLiteral("5"));
    QVERIFY(get(mod(QStringLiteral("8"), 0)).bit(KillEnable));
    QVERIFY(get(mod(QStringLiteral("8"), 5)).bit(KillEnable));
    QVERIFY(get(out(Status, 5, 31)).bit(KillEnabled));
    set(groupsSwitchAll, 'i', QStringLiteral("4"));
    QVERIFY(!get(mod(QStringLiteral("8"), 0)).bit(KillEnable));
    QVERIFY(!get(out(Status, 5, 31)).bit(KillEnabled));

    QVERIFY(get(mod(QStringLiteral("8"), 3)).bit(FineAdjustment));
    set(groupsSwitchAll, 'i', QStringLiteral("6"));
    QVERIFY(!get(mod(QStringLiteral("8"), 3)).bit(FineAdjustment));
    set(groupsSwitchAll, 'i', QStringLiteral("7"));
    QVERIFY(get(mod(QStringLiteral("8"), 3)).bit(FineAdjustment));
    QCOMPARE(m_write->set(groupsSwitchAll, 'i', QStringLiteral("8")).error, int(SNMP_ERR_WRONGVALUE));
}

void SimulatorSnmpTest::mainSwitchOffRemovesModulesUntilBooted()
{
    startSimulator("{\"crate\": {\"bootDelayMs\": 3000}}");
    set(mod(QStringLiteral("6"), 0), 'F', QStringLiteral("20"));
    set(out(Voltage, 0, 0), 'F', QStringLiteral("500"));
    set(out(Switch, 0, 0), 'i', QStringLiteral("1"));

    set(mainSwitch, 'i', QStringLiteral("0"));
    QCOMPARE(get(mainSwitch).integer, 0L);
    QVERIFY(!get(sysStatus).bit(0));
    QCOMPARE(get(outputNumber).integer, 0L);
    QCOMPARE(m_read->get({mod(QStringLiteral("2"), 0)}).bindings.at(0).type, int(SNMP_NOSUCHINSTANCE));
    QVERIFY(m_read->walk(crate + QStringLiteral(".3.6.1")).empty());
    QVERIFY(m_read->walk(crate + QStringLiteral(".3.2.1")).empty());
    QVERIFY(!get(sysDescr).bytes.isEmpty()); // the controller still answers

    const long before = get(sysUpTime).integer;
    set(mainSwitch, 'i', QStringLiteral("1"));
    // Within the boot delay (in simulated time) the modules are still missing ...
    const SnmpTestClient::Result booting = m_read->get({sysUpTime, mod(QStringLiteral("2"), 0)});
    if (booting.bindings[0].integer < before + 300)
        QCOMPARE(booting.bindings[1].type, int(SNMP_NOSUCHINSTANCE));
    // ... and are back after it, their channels off.
    SnmpTestClient::Result booted;
    QTRY_VERIFY_WITH_TIMEOUT(
        (booted = m_read->get({sysUpTime, mod(QStringLiteral("2"), 0)})).ok() && booted.bindings[1].type == ASN_OCTET_STR,
        20000);
    QVERIFY(booted.bindings[0].integer >= before + 300);
    QCOMPARE(get(outputNumber).integer, 64L);
    QVERIFY(!get(out(Status, 0, 0)).bit(On));
    QCOMPARE(get(out(Terminal, 0, 0)).real, 0.0);
    QCOMPARE(get(out(Voltage, 0, 0)).real, 500.0); // set values survive
}

void SimulatorSnmpTest::powerFailureAndReturn()
{
    startSimulator("{\"crate\": {\"bootDelayMs\": 1000}}");
    command(QStringLiteral("power off"));
    QCOMPARE(get(mainSwitch).integer, 0L);
    QVERIFY(get(sysStatus).bit(3)); // input failure
    QCOMPARE(m_write->set(mainSwitch, 'i', QStringLiteral("1")).error, int(SNMP_ERR_RESOURCEUNAVAILABLE));
    command(QStringLiteral("power on"));
    QCOMPARE(get(mainSwitch).integer, 1L);
    QVERIFY(!get(sysStatus).bit(3));
    QTRY_VERIFY_WITH_TIMEOUT(m_read->get({mod(QStringLiteral("9"), 0)}).bindings.at(0).type == ASN_OCTET_STR, 20000);
    QVERIFY(get(mod(QStringLiteral("9"), 0)).bit(EventPowerFail));
    set(mod(QStringLiteral("11"), 0), 'i', QStringLiteral("1"));
    QVERIFY(!get(mod(QStringLiteral("9"), 0)).bit(EventPowerFail));
}

void SimulatorSnmpTest::measurementModuleModes()
{
    startSimulator();
    QCOMPARE(get(out(Switch, 8, 2)).integer, 20L);
    QCOMPARE(get(out(Terminal, 8, 2)).real, 0.0);
    set(out(Switch, 8, 2), 'i', QStringLiteral("21"));
    QCOMPARE(get(out(Switch, 8, 2)).integer, 21L);
    QCOMPARE(get(out(Terminal, 8, 2)).real, 1.5); // the external signal of channel 2
    set(out(Switch, 8, 2), 'i', QStringLiteral("22"));
    QCOMPARE(get(out(Terminal, 8, 2)).real, 0.0);
    QVERIFY(get(out(5, 8, 2)).real > 0.0); // ripple
    set(out(Switch, 8, 2), 'i', QStringLiteral("23"));
    QCOMPARE(get(out(Switch, 8, 2)).integer, 23L);
    QCOMPARE(m_write->set(out(Switch, 8, 2), 'i', QStringLiteral("1")).error, int(SNMP_ERR_WRONGVALUE));
    QCOMPARE(m_write->set(out(SetCurrent, 8, 2), 'F', QStringLiteral("0")).error, int(SNMP_ERR_NOTWRITABLE));
    QCOMPARE(m_write->set(mod(QStringLiteral("6"), 8), 'F', QStringLiteral("5")).error, int(SNMP_ERR_NOTWRITABLE));
    QCOMPARE(get(out(Voltage, 8, 2)).real, 0.0);
    // The crate-wide switch leaves measurement channels alone.
    set(groupsSwitchAll, 'i', QStringLiteral("0"));
    QCOMPARE(get(out(Switch, 8, 2)).integer, 23L);
}

void SimulatorSnmpTest::maxResponseAnswersTooBigAndServedCounts()
{
    startSimulator();
    QStringList names;
    for (int ch = 0; ch < 16; ++ch)
        names << out(Name, 0, ch);
    QVERIFY(m_read->get(names).ok()); // 1 request, 16 bindings
    command(QStringLiteral("maxresponse 300"));
    const SnmpTestClient::Result big = m_read->get(names); // 1 request, 0 bindings
    QCOMPARE(big.error, int(SNMP_ERR_TOOBIG));
    QVERIFY(big.bindings.empty());
    QVERIFY(m_read->get(names.mid(0, 2)).ok());                                 // 1 request, 2 bindings
    QCOMPARE(m_read->getBulk(out(Name, 0, 0), 40).error, int(SNMP_ERR_TOOBIG)); // 1, 0
    command(QStringLiteral("maxresponse 0"));
    QCOMPARE(int(m_read->getBulk(out(Name, 0, 0), 40).bindings.size()), 40);  // 1, 40
    QVERIFY(m_write->set(out(Voltage, 0, 0), 'F', QStringLiteral("1")).ok()); // 1, 1
    QVERIFY(m_sim->stop());
    QCOMPARE(m_sim->servedRequests(), 6LL);
    QCOMPARE(m_sim->servedVarbinds(), 59LL);
    const QStringList lines = m_sim->output().trimmed().split(QLatin1Char('\n'));
    QVERIFY(lines.last().startsWith(QLatin1String("served requests=6 varbinds=59")));
}

void SimulatorSnmpTest::silentDropAndDelay()
{
    startSimulator();
    SnmpTestClient impatient(m_sim->address(), QStringLiteral("public"), 300, 0);
    command(QStringLiteral("silent on"));
    QCOMPARE(impatient.get({sysDescr}).error, SnmpTestClient::timedOut);
    command(QStringLiteral("silent off"));
    QVERIFY(impatient.get({sysDescr}).ok());

    command(QStringLiteral("drop 100"));
    QCOMPARE(impatient.get({sysDescr}).error, SnmpTestClient::timedOut);
    command(QStringLiteral("drop 0"));
    QVERIFY(impatient.get({sysDescr}).ok());

    command(QStringLiteral("delay 1500"));
    QCOMPARE(impatient.get({sysDescr}).error, SnmpTestClient::timedOut);
    SnmpTestClient patient(m_sim->address(), QStringLiteral("public"), 10000, 0);
    QVERIFY(patient.get({sysDescr}).ok());
    command(QStringLiteral("delay 0"));
    QVERIFY(impatient.get({sysDescr}).ok());
    QVERIFY(m_sim->stop());
    // Unanswered requests are not counted; the late one is, once sent. The impatient client's
    // request that timed out during the delay is answered late as well.
    QCOMPARE(m_sim->servedRequests(), 5LL);
}

void SimulatorSnmpTest::controlChannelRejectsBadCommands()
{
    startSimulator();
    const QStringList bad{QStringLiteral("bogus"), QStringLiteral("timescale 0"), QStringLiteral("drop 101"),
        QStringLiteral("delay -1"), QStringLiteral("load 0 0 -5"), QStringLiteral("load 0 99 100"),
        QStringLiteral("inhibit 0 0 maybe"), QStringLiteral("silent"), QStringLiteral("power up"),
        QStringLiteral("maxresponse x"), QStringLiteral("noise 1")};
    for (const QString& line : bad) {
        QString answer;
        QVERIFY2(!m_sim->command(line, &answer), qPrintable(line));
        QVERIFY2(answer.startsWith(QLatin1String("error ")), qPrintable(line + QStringLiteral(" -> ") + answer));
    }
    QString answer;
    QVERIFY(m_sim->command(QStringLiteral("load 0 0 open"), &answer));
    QCOMPARE(answer, QStringLiteral("ok"));
    // "quit" ends the simulator with its served line.
    QVERIFY(m_sim->command(QStringLiteral("quit")));
    QTRY_VERIFY_WITH_TIMEOUT(!m_sim->isRunning(), 10000);
    QVERIFY(m_sim->stop()); // collects the served line of the finished process
    QCOMPARE(m_sim->servedRequests(), 0LL);
}

void SimulatorSnmpTest::startFailures()
{
    auto run = [](const QStringList& arguments, QString* output) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QString::fromLatin1(TestPaths::simulator), arguments);
        process.closeWriteChannel();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
            return -1000;
        }
        *output = QString::fromLocal8Bit(process.readAll());
        return process.exitCode();
    };
    QString output;
    QCOMPARE(run({QStringLiteral("--help")}, &output), 0);
    QVERIFY(output.contains(QLatin1String("--listen")));
    QVERIFY(run({QStringLiteral("--listen"), QStringLiteral("nonsense")}, &output) != 0);
    QVERIFY(output.contains(QLatin1String("nonsense")));

    QFile bad(m_dir.filePath(QStringLiteral("bad.json")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("{\"modules\": [{\"slot\": 2, \"type\": \"XYZ9999q\"}]}");
    bad.close();
    QVERIFY(run({QStringLiteral("--config"), bad.fileName()}, &output) != 0);
    QVERIFY2(output.contains(QLatin1String("XYZ9999q")), qPrintable(output));
    QVERIFY(run({QStringLiteral("--config"), m_dir.filePath(QStringLiteral("missing.json"))}, &output) != 0);

    // A port in use: a clear message and a failure exit code, not a silent agent.
    startSimulator();
    QVERIFY(run({QStringLiteral("--listen"), m_sim->address()}, &output) != 0);
    QVERIFY2(output.contains(QLatin1String("cannot listen")), qPrintable(output));
}

void SimulatorSnmpTest::configurationFile()
{
    startSimulator(R"({
        "crate": {"serialNumber": "815", "firmware": "MPOD 9.8.7.6", "writeCommunity": "admin"},
        "modules": [
            {"slot": 7, "type": "THB1620n", "serialNumber": 55, "firmwareRelease": "02.00",
             "load": 2e6, "rampSpeed": 2},
            {"slot": 2, "type": "THA0830p", "channels": 4, "nominalVoltage": 2500,
             "nominalCurrent": 0.001, "load": [1e6, 2e6, "open", 0]}
        ]})");
    QVERIFY(QString::fromLatin1(get(sysDescr).bytes).contains(QLatin1String("(815, MPOD 9.8.7.6")));
    QCOMPARE(get(outputNumber).integer, 20L);
    QCOMPARE(get(mod(QStringLiteral("2"), 2)).bytes, QByteArray("Tesmar, THA0830p, 4, 4711003, 01.23"));
    QCOMPARE(get(mod(QStringLiteral("2"), 7)).bytes, QByteArray("Tesmar, THB1620n, 16, 55, 02.00"));
    QCOMPARE(get(mod(QStringLiteral("6"), 7)).real, 2.0);
    QCOMPARE(get(out(22, 2, 0)).real, 2500.0);
    SnmpTestClient admin(m_sim->address(), QStringLiteral("admin"));
    QCOMPARE(admin.set(out(Voltage, 2, 0), 'F', QStringLiteral("2600")).error, int(SNMP_ERR_WRONGVALUE));
    // Without current control the set current is fixed.
    QCOMPARE(admin.set(out(SetCurrent, 7, 0), 'F', QStringLiteral("0.001")).error, int(SNMP_ERR_NOTWRITABLE));
    // The factory write community is gone.
    SnmpTestClient guru(m_sim->address(), QStringLiteral("guru"), 300, 0);
    QCOMPARE(guru.set(out(Switch, 2, 3), 'i', QStringLiteral("1")).error, SnmpTestClient::timedOut);

    // A short circuit limits at once.
    QVERIFY(admin.set(out(Voltage, 2, 3), 'F', QStringLiteral("100")).ok());
    QVERIFY(admin.set(out(Switch, 2, 3), 'i', QStringLiteral("1")).ok());
    QTRY_VERIFY_WITH_TIMEOUT(get(out(Status, 2, 3)).bit(CurrentLimited), 10000);
    QCOMPARE(get(out(Terminal, 2, 3)).real, 0.0);
}

void SimulatorSnmpTest::channelNominalValues()
{
    // Channel 5 of the bipolar module is rated 2000 V and 1 mA, the others have the module's
    // 3000 V and 3 mA; the set-value checks follow each channel's own rating.
    startSimulator(R"({"modules": [
        {"slot": 3, "type": "THX0830b",
         "channelNominalVoltages": [3000, 3000, 3000, 3000, 3000, 2000, 3000, 3000],
         "channelNominalCurrents": [3e-3, 3e-3, 3e-3, 3e-3, 3e-3, 1e-3, 3e-3, 3e-3]}]})");
    enum { ConfigMaxSense = 21, ConfigMaxTerminal = 22, ConfigMaxCurrent = 23, LimitVoltage = 28 };
    QCOMPARE(get(out(ConfigMaxTerminal, 3, 5)).real, 2000.0);
    QCOMPARE(get(out(ConfigMaxSense, 3, 5)).real, 2000.0);
    QCOMPARE(get(out(LimitVoltage, 3, 5)).real, 2000.0);
    QCOMPARE(float(get(out(ConfigMaxCurrent, 3, 5)).real), 1e-3f);
    QCOMPARE(get(out(ConfigMaxTerminal, 3, 4)).real, 3000.0);
    QCOMPARE(float(get(out(ConfigMaxCurrent, 3, 6)).real), 3e-3f);

    QVERIFY(m_write->set(out(Voltage, 3, 4), 'F', QStringLiteral("3000")).ok());
    QVERIFY(!get(mod(QStringLiteral("8"), 3)).bit(InputError));
    QVERIFY(m_write->set(out(Voltage, 3, 5), 'F', QStringLiteral("-2000")).ok());
    QVERIFY(m_write->set(out(SetCurrent, 3, 5), 'F', QStringLiteral("0.001")).ok());
    QCOMPARE(m_write->set(out(Voltage, 3, 5), 'F', QStringLiteral("2001")).error, int(SNMP_ERR_WRONGVALUE));
    QCOMPARE(m_write->set(out(Voltage, 3, 5), 'F', QStringLiteral("-2001")).error, int(SNMP_ERR_WRONGVALUE));
    QCOMPARE(m_write->set(out(SetCurrent, 3, 5), 'F', QStringLiteral("0.0011")).error, int(SNMP_ERR_WRONGVALUE));
    QCOMPARE(get(out(Voltage, 3, 5)).real, -2000.0);
    QVERIFY(get(mod(QStringLiteral("8"), 3)).bit(InputError));
    // The default set current is the channel's own nominal current.
    QCOMPARE(float(get(out(SetCurrent, 3, 6)).real), 3e-3f);
    QCOMPARE(float(get(out(SetCurrent, 3, 5)).real), 1e-3f);
}

QTEST_GUILESS_MAIN(SimulatorSnmpTest)
#include "tst_simulatorsnmp.moc"
