// The crate model, its configuration and the message rewriting without any network: the exact
// timing of ramps, trips and boot, which the end-to-end tests can only bound.

#include "BerMessage.h"
#include "CrateConfig.h"
#include "CrateMib.h"
#include "CrateModel.h"
#include "ModuleType.h"

#include <QTest>

#include <cmath>

class CrateModelTest : public QObject
{
    Q_OBJECT

private slots:
    void defaultCrateUsesKnownTypes();
    void configErrors_data();
    void configErrors();
    void rampTakesNominalOverSpeed();
    void tripFiresExactlyAfterTripTime();
    void killEnableTurnsRampDownIntoHardOff();
    void bootDelay();
    void inhibitWhileCrateOffActsAtPowerOn();
    void bitsAndOidOrder();
    void tooBigRewriting();
};

namespace {

CrateModel quietCrate()
{
    CrateModel model(CrateConfig::defaultCrate());
    model.setNoise(false);
    return model;
}

} // namespace

void CrateModelTest::defaultCrateUsesKnownTypes()
{
    const CrateConfig config = CrateConfig::defaultCrate();
    QVERIFY(config.modules.size() >= 4);
    int previousSlot = -2;
    bool measurement = false, bipolar = false;
    for (const ModuleConfig& module : config.modules) {
        QVERIFY(module.slot > previousSlot + 1); // non-adjacent
        previousSlot = module.slot;
        QVERIFY(module.channels >= 8 && module.channels <= 32);
        // Name digits: channel count and nominal kV x 10.
        const QString name = QString::fromLatin1(module.type->name);
        QCOMPARE(name.mid(3, 2).toInt(), module.channels);
        if (!module.type->isMeasurement())
            QCOMPARE(name.mid(5, 2).toInt() * 100.0, module.nominalVoltage);
        QVERIFY(module.description().size() <= 39);
        measurement = measurement || name == QLatin1String("TMM0800m");
        bipolar = bipolar || name == QLatin1String("THX0830b");
    }
    QVERIFY(measurement && bipolar);
}

void CrateModelTest::configErrors_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");
    QTest::newRow("not json") << QByteArray("{\"crate\": ") << "not valid JSON";
    QTest::newRow("array") << QByteArray("[]") << "must be a JSON object";
    QTest::newRow("unknown type") << QByteArray(R"({"modules": [{"slot": 1, "type": "THE1640x"}]})")
                                  << "unknown module type";
    QTest::newRow("slot 10") << QByteArray(R"({"modules": [{"slot": 10, "type": "THE1640p"}]})") << "\"slot\"";
    QTest::newRow("no slot") << QByteArray(R"({"modules": [{"type": "THE1640p"}]})") << "without a \"slot\"";
    QTest::newRow("slot twice") << QByteArray(
        R"({"modules": [{"slot": 1, "type": "THE1640p"}, {"slot": 1, "type": "THC3210p"}]})")
                                << "used twice";
    QTest::newRow("101 channels") << QByteArray(R"({"modules": [{"slot": 1, "type": "THE1640p", "channels": 101}]})")
                                  << "\"channels\"";
    QTest::newRow("load count") << QByteArray(R"({"modules": [{"slot": 1, "type": "THX0830b", "load": [1, 2]}]})")
                                << "needs 8 values";
    QTest::newRow("negative load") << QByteArray(R"({"modules": [{"slot": 1, "type": "THX0830b", "load": -1}]})")
                                   << "\"load\"";
    QTest::newRow("channel nominal voltage count")
        << QByteArray(R"({"modules": [{"slot": 1, "type": "THX0830b", "channelNominalVoltages": [3000, 2000]}]})")
        << "\"channelNominalVoltages\" needs 8 values";
    QTest::newRow("channel nominal voltage above module") << QByteArray(
        R"({"modules": [{"slot": 1, "type": "THX0830b", "channelNominalVoltages": [3000, 3000, 3000, 3001, 3000, 3000, 3000, 3000]}]})")
                                                          << "value 3 must be a number from 1 to the module's 3000";
    QTest::newRow("channel nominal voltage not a number") << QByteArray(
        R"({"modules": [{"slot": 1, "type": "THX0830b", "channelNominalVoltages": [3000, 3000, "x", 3000, 3000, 3000, 3000, 3000]}]})")
                                                          << "value 2 must be a number";
    QTest::newRow("channel nominal voltage single number")
        << QByteArray(R"({"modules": [{"slot": 1, "type": "THX0830b", "channelNominalVoltages": 2000}]})")
        << "must be an array with one value per channel";
    QTest::newRow("channel nominal current zero") << QByteArray(
        R"({"modules": [{"slot": 1, "type": "THA0830p", "channelNominalCurrents": [0, 1e-3, 1e-3, 1e-3, 1e-3, 1e-3, 1e-3, 1e-3]}]})")
                                                  << "\"channelNominalCurrents\" value 0";
    QTest::newRow("channel nominals on measurement module") << QByteArray(
        R"({"modules": [{"slot": 1, "type": "TMM0800m", "channelNominalVoltages": [1, 1, 1, 1, 1, 1, 1, 1]}]})")
                                                            << "no per-channel nominal values";
    QTest::newRow("long description") << QByteArray(
        R"({"modules": [{"slot": 1, "type": "THE1640p", "vendor": "A very long vendor name"}]})")
                                      << "longer than 39";
    QTest::newRow("serial not digits") << QByteArray(R"({"crate": {"serialNumber": "12a"}})") << "digits";
    QTest::newRow("firmware without MPOD") << QByteArray(R"({"crate": {"firmware": "2.1.9.0"}})") << "MPOD";
}

void CrateModelTest::configErrors()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, message);
    CrateConfig config;
    QString error;
    QVERIFY(!CrateConfig::fromJson(json, &config, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
}

void CrateModelTest::rampTakesNominalOverSpeed()
{
    CrateModel model = quietCrate();
    QCOMPARE(model.setVoltage(0, 0, 1000), CrateModel::Result::Ok);
    QCOMPARE(model.switchChannel(0, 0, CrateModel::SwitchOn), CrateModel::Result::Ok);
    // 5 %/s of 4000 V: 200 V/s, so 1000 V take 5 s.
    model.advance(4.9);
    QVERIFY(std::fabs(model.measuredVoltage(0, 0) - 980.0) < 1e-6);
    QVERIFY(model.channelStatus(0, 0) & (1u << 11));
    model.advance(0.2);
    QCOMPARE(model.measuredVoltage(0, 0), 1000.0);
    QVERIFY(!(model.channelStatus(0, 0) & (1u << 11)));
    // A bipolar channel ramps through zero at its own module's speed.
    QCOMPARE(model.setVoltage(3, 0, -300), CrateModel::Result::Ok);
    model.switchChannel(3, 0, CrateModel::SwitchOn);
    model.advance(1.0); // 150 V/s
    QVERIFY(std::fabs(model.measuredVoltage(3, 0) + 150.0) < 1e-6);
}

void CrateModelTest::tripFiresExactlyAfterTripTime()
{
    CrateModel model = quietCrate();
    model.setLoad(0, 1, 0); // short circuit: limited as soon as there is voltage
    model.writableChannel(0, 1)->tripTimeMs = 100;
    model.writableChannel(0, 1)->behaviour = CrateModel::ActionOff << 6;
    model.setVoltage(0, 1, 100);
    model.switchChannel(0, 1, CrateModel::SwitchOn);
    model.advance(0.09);
    QVERIFY(model.channel(0, 1)->currentLimited);
    QVERIFY(!model.channel(0, 1)->tripEvent);
    model.advance(0.02);
    QVERIFY(model.channel(0, 1)->tripEvent);
    QVERIFY(!model.channel(0, 1)->on);
    // Limiting that stops before the trip time restarts the count.
    model.switchChannel(0, 1, CrateModel::SwitchClearEvents);
    model.switchChannel(0, 1, CrateModel::SwitchOn);
    model.advance(0.08);
    model.setLoad(0, 1, 1e9);
    model.advance(0.01);
    model.setLoad(0, 1, 0);
    model.advance(0.08);
    QVERIFY(!model.channel(0, 1)->tripEvent);
    model.advance(0.03);
    QVERIFY(model.channel(0, 1)->tripEvent);
}

void CrateModelTest::killEnableTurnsRampDownIntoHardOff()
{
    CrateModel model = quietCrate();
    model.groupsSwitch(CrateModel::allChannelsGroup, CrateModel::GroupKillEnable);
    QVERIFY(model.moduleEventStatus(0) & (1u << 15)); // kill enable changed
    model.writableChannel(0, 2)->behaviour = CrateModel::ActionRampDown << 12;
    model.setVoltage(0, 2, 400);
    model.switchChannel(0, 2, CrateModel::SwitchOn);
    model.advance(3);
    QCOMPARE(model.measuredVoltage(0, 2), 400.0);
    model.setInhibit(0, 2, true);
    QCOMPARE(model.measuredVoltage(0, 2), 0.0);
}

void CrateModelTest::bootDelay()
{
    CrateModel model = quietCrate();
    QCOMPARE(model.setMainSwitch(false), CrateModel::Result::Ok);
    QVERIFY(!model.module(0));
    QCOMPARE(model.outputCount(), 0);
    model.setMainSwitch(true);
    model.advance(2.99); // default boot delay 3 s
    QVERIFY(!model.module(0));
    model.advance(0.02);
    QVERIFY(model.module(0));
    QCOMPARE(model.outputCount(), 64);
}

void CrateModelTest::inhibitWhileCrateOffActsAtPowerOn()
{
    CrateModel model = quietCrate();
    model.writableChannel(0, 0)->behaviour = CrateModel::ActionOff << 12;
    model.setMainSwitch(false);
    QVERIFY(model.setInhibit(0, 0, true)); // wired to the module, remembered while off
    model.setMainSwitch(true);
    model.advance(4);
    model.setVoltage(0, 0, 100);
    model.switchChannel(0, 0, CrateModel::SwitchOn);
    QVERIFY(!model.channel(0, 0)->on);
    QVERIFY(model.channelStatus(0, 0) & (1u << 1));
}

void CrateModelTest::bitsAndOidOrder()
{
    QCOMPARE(CrateMib::bitsOctets(1u << 0, 2), QByteArray("\x80\x00", 2));
    QCOMPARE(CrateMib::bitsOctets((1u << 14) | (1u << 16), 3), QByteArray("\x00\x02\x80", 3));

    CrateModel model = quietCrate();
    CrateMib mib(model);
    // GETNEXT from the last row of slot 0's voltage column continues in slot 3, then slot 5.
    const CrateMib::Oid voltage = {1, 3, 6, 1, 4, 1, 19947, 1, 3, 2, 1, 10};
    CrateMib::Oid at = voltage;
    at.push_back(16);
    const CrateMib::Instance* next = mib.next(at);
    QVERIFY(next);
    QCOMPARE(next->oid.back(), 301u);
    at.back() = 308;
    QCOMPARE(mib.next(at)->oid.back(), 501u);
    CrateMib::Error error = CrateMib::Error::NoError;
    at.back() = 17;
    QVERIFY(!mib.find(at, &error));
    QCOMPARE(error, CrateMib::Error::NoSuchInstance);
    // With the crate off, the walk skips the whole output table.
    model.setMainSwitch(false);
    at.back() = 1;
    QVERIFY(mib.next(voltage)->oid.size() >= 9);
    QVERIFY(!std::equal(voltage.begin(), voltage.end() - 2, mib.next(voltage)->oid.begin()));
}

void CrateModelTest::tooBigRewriting()
{
    // A v2c response, community "public", request id 0x1234, two bindings of NULL values.
    const QByteArray response = QByteArray::fromHex("302a"
                                                    "020101"
                                                    "0406"
                                                    "7075626c6963"
                                                    "a21d"
                                                    "02021234"
                                                    "020100"
                                                    "020100"
                                                    "3011"
                                                    "3007"
                                                    "06032b0601"
                                                    "0500"
                                                    "3006"
                                                    "06022b06"
                                                    "0500");
    QCOMPARE(response.size(), 0x2c);
    QCOMPARE(BerMessage::countVarbinds(response), 2);
    const QByteArray tooBig = BerMessage::tooBigResponse(response);
    QCOMPARE(tooBig.toHex(),
        QByteArray("3019"
                   "020101"
                   "04067075626c6963"
                   "a20c"
                   "02021234"
                   "020101"
                   "020100"
                   "3000"));
    QCOMPARE(BerMessage::countVarbinds(tooBig), 0);
    QCOMPARE(BerMessage::countVarbinds(response.left(20)), -1);
    QVERIFY(BerMessage::tooBigResponse(QByteArray("\x30\x05", 2)).isEmpty());
}

QTEST_GUILESS_MAIN(CrateModelTest)
#include "tst_cratemodel.moc"
