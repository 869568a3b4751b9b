// What a crate answer looks like on the wire, seen through net-snmp's command-line tools
// (package snmp), against what our library reads and writes: the library and other people's
// tools must agree on every encoding.
#include "SimulatedCrate.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {
const QString outputEntry = QStringLiteral("1.3.6.1.4.1.19947.1.3.2.1");
}

class TestSnmpTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void floatTravelsAsOpaqueFloat();
    void floatWrittenByToolReadsBack();
    void writeWithReadCommunityIsRefused();
    void channelIndexIsRowMinusOne();
    void bitsIntFormMatchesOctets();
    void ipAddressOrderOnTheWire();
    void walkListsEveryChannel();

private:
    // Runs a tool with version 2c, numeric OIDs and no MIB files; answers its output.
    QString run(const QString& tool, const QStringList& arguments, int* exitCode = nullptr,
        const QString& community = QStringLiteral("public"));

    SimulatedCrate m_crate;
    HSNMP m_handle = nullptr;
};

QString TestSnmpTools::run(const QString& tool, const QStringList& arguments, int* exitCode, const QString& community)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MIBS"), QString());
    environment.insert(QStringLiteral("MIBDIRS"), QString());
    process.setProcessEnvironment(environment);
    QStringList all{"-v2c", "-c", community, "-m", "", "-On", "-t", "2", "-r", "1", m_crate.simulator().address()};
    process.start(tool, all + arguments);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
    }
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromLocal8Bit(process.readAll());
}

void TestSnmpTools::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("snmpget")).isEmpty())
        QFAIL("net-snmp's tools (package snmp) are not installed");
    QVERIFY2(m_crate.start(), qPrintable(m_crate.errorText()));
    m_handle = m_crate.open();
    QVERIFY(m_handle);
    QTRY_VERIFY_WITH_TIMEOUT(getPsSerialNumber(m_handle) && *getPsSerialNumber(m_handle), 15000);
}

void TestSnmpTools::floatTravelsAsOpaqueFloat()
{
    // Nominal voltage of slot 0 channel 0 (row 1).
    const QString out = run("snmpget", {outputEntry + ".22.1"});
    QVERIFY2(out.contains(QRegularExpression("Opaque: Float: 4000(\\.0+)?\\b")), qPrintable(out));
}

void TestSnmpTools::floatWrittenByToolReadsBack()
{
    int exitCode = -1;
    const QString out = run("snmpset", {outputEntry + ".10.4", "F", "987.25"}, &exitCode, "guru");
    QVERIFY2(exitCode == 0, qPrintable(out));
    QVERIFY2(out.contains("Opaque: Float: 987.25"), qPrintable(out));
    QCOMPARE(getOutputVoltage(m_handle, 3), 987.25);

    QCOMPARE(setOutputCurrent(m_handle, 3, 0.00125), 1);
    const QString current = run("snmpget", {outputEntry + ".12.4"});
    QVERIFY2(current.contains("Opaque: Float: 0.00125"), qPrintable(current));
}

void TestSnmpTools::writeWithReadCommunityIsRefused()
{
    QCOMPARE(setOutputVoltage(m_handle, 6, 50.0), 1);
    int exitCode = 0;
    const QString out = run("snmpset", {outputEntry + ".10.7", "F", "2000"}, &exitCode);
    QVERIFY2(exitCode != 0, qPrintable(out));
    QVERIFY2(out.contains("noAccess") || out.contains("notWritable") || out.contains("authorizationError"), qPrintable(out));
    QCOMPARE(getOutputVoltage(m_handle, 6), 50.0);
}

void TestSnmpTools::channelIndexIsRowMinusOne()
{
    // Slot 3, channel 5: channel index 305, SNMP row 306.
    QCOMPARE(setOutputVoltage(m_handle, 305, 321.5), 1);
    const QString out = run("snmpget", {outputEntry + ".10.306", outputEntry + ".2.306"});
    QVERIFY2(out.contains(".10.306 = Opaque: Float: 321.5"), qPrintable(out));
    QVERIFY2(out.contains("\"U305\""), qPrintable(out));
}

void TestSnmpTools::bitsIntFormMatchesOctets()
{
    const int channel = 9;
    QCOMPARE(setModuleRampSpeedVoltage(m_handle, 0, 1.0), 1);
    QCOMPARE(setOutputVoltage(m_handle, channel, 3000.0), 1);
    QCOMPARE(setChannelSwitch(m_handle, channel, 1), 1);
    const int status = getChannelStatus(m_handle, channel);
    QVERIFY2((status & 0x80) && (status & 0x1000), qPrintable(QString::number(status, 16)));

    // -Ox prints the octets of the OCTET STRING in hex.
    const QString out = run("snmpget", {"-Ox", outputEntry + ".4." + QString::number(channel + 1)});
    const QRegularExpressionMatch match = QRegularExpression("Hex-STRING: ([0-9A-Fa-f ]+)").match(out);
    QVERIFY2(match.hasMatch(), qPrintable(out));
    const QStringList octets = match.captured(1).split(' ', Qt::SkipEmptyParts);
    QVERIFY(octets.size() >= 2);
    // outputOn is the most significant bit of octet 0, outputRampUp (bit 11) bit 4 of octet 1.
    QCOMPARE(octets[0].toInt(nullptr, 16) & 0x80, 0x80);
    QCOMPARE(octets[1].toInt(nullptr, 16) & 0x10, 0x10);
    // Octet i of the wire is byte i of the int form. Compare with a fresh read of the
    // library so that a change of state between the two reads does not matter for octet 0.
    const int again = getChannelStatus(m_handle, channel);
    QCOMPARE(again & 0xff, octets[0].toInt(nullptr, 16));

    QCOMPARE(setChannelSwitch(m_handle, channel, 0), 1);
    QCOMPARE(setModuleRampSpeedVoltage(m_handle, 0, 5.0), 1);
}

void TestSnmpTools::ipAddressOrderOnTheWire()
{
    const QString ipOid = QStringLiteral("1.3.6.1.4.1.19947.1.5.1.12.0");
    const uint32_t address = 192u | (168u << 8) | (17u << 16) | (20u << 24);
    QCOMPARE(setIpStaticAddress(m_handle, address), 1);
    QString out = run("snmpget", {ipOid});
    QVERIFY2(out.contains("IpAddress: 192.168.17.20"), qPrintable(out));

    int exitCode = -1;
    out = run("snmpset", {ipOid, "a", "10.1.2.3"}, &exitCode, "guru");
    QVERIFY2(exitCode == 0, qPrintable(out));
    QCOMPARE(getIpStaticAddress(m_handle), 10u | (1u << 8) | (2u << 16) | (3u << 24));
    QCOMPARE(setIpStaticAddress(m_handle, 0), 1);
}

void TestSnmpTools::walkListsEveryChannel()
{
    int exitCode = -1;
    const QString out = run("snmpwalk", {outputEntry + ".2"}, &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(out));
    QStringList names;
    const QRegularExpression line("\\.2\\.(\\d+) = STRING: \"(U\\d+)\"");
    for (QRegularExpressionMatchIterator it = line.globalMatch(out); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        // Row = channel index + 1, and the name carries the channel index.
        QCOMPARE(m.captured(2), QString("U%1").arg(m.captured(1).toInt() - 1));
        names << m.captured(2);
    }
    QStringList expected;
    const int layout[][2] = {{0, 16}, {1, 48}, {2, 100}, {3, 8}, {8, 8}};
    for (const auto& module : layout) {
        for (int channel = 0; channel < module[1]; ++channel)
            expected << QString("U%1").arg(module[0] * 100 + channel);
    }
    QCOMPARE(names, expected);
    QCOMPARE(getOutputNumber(m_handle), int(expected.size()));
}

QTEST_GUILESS_MAIN(TestSnmpTools)
#include "tst_SnmpTools.moc"
