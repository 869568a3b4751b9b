// The stored display resolution: fallback key by key, scope removal on save, micro sign.
#include "device/Resolution.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

namespace {

QSettings* openStore()
{
    return new QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"));
}

QString micro()
{
    return QString(QChar(0xB5)) + QLatin1Char('A');
}

Resolution* moduleResolution(QObject* parent)
{
    auto* resolution = new Resolution(parent);
    resolution->setFirmwareName(QStringLiteral("THE1640p"));
    resolution->setSerialNumber(4711001);
    return resolution;
}

} // namespace

class TestResolution : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        QScopedPointer<QSettings> store(openStore());
        store->clear();
    }

    void cleanupTestCase() { init(); }

    void defaultsWhenNothingIsStored()
    {
        QScopedPointer<Resolution> resolution(moduleResolution(nullptr));
        resolution->load();
        QVERIFY(resolution->useControllerUnits());
        QCOMPARE(resolution->voltageUnit(), QStringLiteral("V"));
        QCOMPARE(resolution->voltagePrecision(), 2);
        QCOMPARE(resolution->currentUnit(), QStringLiteral("mA"));
        QCOMPARE(resolution->currentPrecision(), 2);
        QCOMPARE(resolution->scope(), int(Resolution::AllModules));
    }

    void serialNumberGroupOverridesKeyByKey()
    {
        {
            QScopedPointer<QSettings> store(openStore());
            store->setValue(QStringLiteral("default/useControllerUnits"), 0);
            store->setValue(QStringLiteral("default/voltageUnit"), QStringLiteral("V"));
            store->setValue(QStringLiteral("default/voltagePrecision"), 5);
            store->setValue(QStringLiteral("default/currentUnit"), QStringLiteral("A"));
            store->setValue(QStringLiteral("default/currentPrecision"), 1);
            store->setValue(QStringLiteral("THE1640p/voltageUnit"), QStringLiteral("kV"));
            store->setValue(QStringLiteral("THE1640p/currentUnit"), QStringLiteral("nA"));
            store->setValue(QStringLiteral("4711001/currentUnit"), QStringLiteral("uA"));
            store->setValue(QStringLiteral("4711001/currentPrecision"), 4);
            // Another module's group must not leak in.
            store->setValue(QStringLiteral("4711002/voltagePrecision"), 9);
        }
        QScopedPointer<Resolution> resolution(moduleResolution(nullptr));
        resolution->load();
        QVERIFY(!resolution->useControllerUnits());
        QCOMPARE(resolution->voltageUnit(), QStringLiteral("kV"));
        QCOMPARE(resolution->voltagePrecision(), 5);
        QCOMPARE(resolution->currentUnit(), micro());
        QCOMPARE(resolution->currentPrecision(), 4);
        QCOMPARE(resolution->scope(), int(Resolution::SerialNumberScope));

        // A module of another type sees only the default group.
        Resolution other;
        other.setFirmwareName(QStringLiteral("THX0830b"));
        other.setSerialNumber(4711003);
        other.load();
        QCOMPARE(other.voltageUnit(), QStringLiteral("V"));
        QCOMPARE(other.currentUnit(), QStringLiteral("A"));
        QCOMPARE(other.scope(), int(Resolution::AllModules));
    }

    // What a hand-edited file may hold: a value outside what can be shown falls back to the
    // default with one warning; an unconvertible number reads as 0 (a valid precision).
    void storedValueChecked_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("warns");
        QTest::newRow("unconvertible precision") << "voltagePrecision"
                                                 << "three"
                                                 << "0" << false;
        QTest::newRow("largest precision") << "currentPrecision"
                                           << "6"
                                           << "6" << false;
        QTest::newRow("precision 7") << "currentPrecision"
                                     << "7"
                                     << "2" << true;
        QTest::newRow("negative precision") << "voltagePrecision"
                                            << "-1"
                                            << "2" << true;
        QTest::newRow("precision 1000000") << "voltagePrecision"
                                           << "1000000"
                                           << "2" << true;
        QTest::newRow("precision INT_MAX") << "voltagePrecision"
                                           << "2147483647"
                                           << "2" << true;
        QTest::newRow("kilovolts") << "voltageUnit"
                                   << "kV"
                                   << "kV" << false;
        QTest::newRow("unknown voltage unit") << "voltageUnit"
                                              << "MV"
                                              << "V" << true;
        QTest::newRow("micro sign") << "currentUnit" << micro() << micro() << false;
        QTest::newRow("unknown current unit") << "currentUnit"
                                              << "pA"
                                              << "mA" << true;
        QTest::newRow("lower-case unit") << "currentUnit"
                                         << "ma"
                                         << "mA" << true;
    }

    void storedValueChecked()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QFETCH(bool, warns);
        {
            QScopedPointer<QSettings> store(openStore());
            store->setValue(QStringLiteral("default/") + key, stored);
        }
        if (warns)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^resolution: ") + key));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        Resolution resolution;
        resolution.load();
        const QString loaded = key == QLatin1String("voltagePrecision") ? QString::number(resolution.voltagePrecision())
            : key == QLatin1String("currentPrecision")                  ? QString::number(resolution.currentPrecision())
            : key == QLatin1String("voltageUnit")                       ? resolution.voltageUnit()
                                                                        : resolution.currentUnit();
        QCOMPARE(loaded, expected);
    }

    // A group full of garbage: every value falls back, one warning each.
    void garbageGroupFallsBack()
    {
        {
            QScopedPointer<QSettings> store(openStore());
            for (const char* key : {"voltageUnit", "voltagePrecision", "currentUnit", "currentPrecision"})
                store->setValue(QStringLiteral("4711001/") + QLatin1String(key), QStringLiteral("\x01\xff;-99e9"));
        }
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^resolution: .*Unit")));
        QScopedPointer<Resolution> resolution(moduleResolution(nullptr));
        resolution->load();
        QCOMPARE(resolution->voltageUnit(), QStringLiteral("V"));
        QCOMPARE(resolution->voltagePrecision(), 0);
        QCOMPARE(resolution->currentUnit(), QStringLiteral("mA"));
        QCOMPARE(resolution->currentPrecision(), 0);
    }

    void savingBroaderRemovesNarrowerGroup()
    {
        QScopedPointer<Resolution> resolution(moduleResolution(nullptr));
        resolution->setVoltageUnit(QStringLiteral("kV"));
        QVERIFY(resolution->save(Resolution::FirmwareNameScope));
        QVERIFY(resolution->save(Resolution::SerialNumberScope));
        {
            QScopedPointer<QSettings> store(openStore());
            QVERIFY(store->childGroups().contains(QStringLiteral("4711001")));
            QVERIFY(store->childGroups().contains(QStringLiteral("THE1640p")));
        }
        resolution->setVoltageUnit(QStringLiteral("V"));
        QVERIFY(resolution->save(Resolution::AllModules));
        QScopedPointer<QSettings> store(openStore());
        QVERIFY(!store->childGroups().contains(QStringLiteral("4711001")));
        // Going from the serial number straight to all modules keeps the firmware-name group.
        QVERIFY(store->childGroups().contains(QStringLiteral("THE1640p")));
        QCOMPARE(store->value(QStringLiteral("default/voltageUnit")).toString(), QStringLiteral("V"));

        // A fresh record learns its scope from load() and removes the firmware-name group.
        QScopedPointer<Resolution> fresh(moduleResolution(nullptr));
        fresh->load();
        QCOMPARE(fresh->scope(), int(Resolution::FirmwareNameScope));
        QVERIFY(fresh->save(Resolution::AllModules));
        store->sync();
        QVERIFY(!store->childGroups().contains(QStringLiteral("THE1640p")));
    }

    void firmwareScopeNeedsAFirmwareName()
    {
        Resolution resolution;
        QVERIFY(!resolution.save(Resolution::FirmwareNameScope));
        QVERIFY(!resolution.save(7));
        QScopedPointer<QSettings> store(openStore());
        QVERIFY(store->allKeys().isEmpty());
    }

    void microSignRoundTrip()
    {
        QScopedPointer<Resolution> resolution(moduleResolution(nullptr));
        resolution->setCurrentUnit(micro());
        QCOMPARE(resolution->currentUnit(), micro());
        QVERIFY(resolution->save(Resolution::SerialNumberScope));
        {
            QScopedPointer<QSettings> store(openStore());
            QCOMPARE(store->value(QStringLiteral("4711001/currentUnit")).toString(), QStringLiteral("uA"));
        }
        QScopedPointer<Resolution> loaded(moduleResolution(nullptr));
        loaded->load();
        QCOMPARE(loaded->currentUnit(), micro());
        loaded->setCurrentUnit(QStringLiteral("mA"));
        QCOMPARE(loaded->currentUnit(), QStringLiteral("mA"));
    }
};

QTEST_GUILESS_MAIN(TestResolution)
#include "tst_resolution.moc"
