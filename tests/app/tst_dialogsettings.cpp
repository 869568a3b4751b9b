// The "Settings..." flow: what the dialog saves and which modules it changes.
#include "../device/CrateFixture.h"

#include "app/DialogSettings.h"
#include "controller/SnmpController.h"
#include "device/Resolution.h"
#include "device/SnmpModule.h"

#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {

QSettings* openStore()
{
    return new QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"));
}

template <typename T>
T* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(QLatin1String(name));
}

} // namespace

class TestDialogSettings : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CrateFixture> m_crate;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QScopedPointer<QSettings>(openStore())->clear();
        m_crate = std::make_unique<CrateFixture>(QStringLiteral(R"([
            {"slot": 1, "type": "THE1640p", "serialNumber": 100},
            {"slot": 2, "type": "THE1640p", "serialNumber": 200},
            {"slot": 3, "type": "THX0830b", "serialNumber": 300}])"));
        QString error;
        QVERIFY2(m_crate->start(&error), qPrintable(error));
    }

    void cleanupTestCase()
    {
        QScopedPointer<QSettings>(openStore())->clear();
        m_crate.reset();
    }

    void formShowsTheModule()
    {
        DialogSettings dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Resolution Settings"));
        dialog.setFirmwareName(QStringLiteral("THE1640p"));
        dialog.setSerialNumber(4711);
        QCOMPARE(
            child<QRadioButton>(&dialog, "modulesWithFirmwareName")->text(), QStringLiteral("All modules of type THE1640p"));
        QCOMPARE(child<QRadioButton>(&dialog, "moduleWithSerialNumber")->text(),
            QStringLiteral("Selected module (serial number 4711)"));
        dialog.setUseControllerUnits(true);
        QVERIFY(!child<QGroupBox>(&dialog, "grpVoltageFormat")->isEnabled());
        child<QRadioButton>(&dialog, "userSettings")->click();
        QVERIFY(child<QGroupBox>(&dialog, "grpVoltageFormat")->isEnabled());
        QVERIFY(child<QGroupBox>(&dialog, "grpCurrentFormat")->isEnabled());
        dialog.setCurrentUnit(QStringLiteral("uA"));
        QCOMPARE(dialog.currentUnit(), BaseModule::microAmpereUnit());
    }

    void firmwareScopeAppliesToModulesOfThatType()
    {
        SnmpModule first(m_crate->controller(), 1);
        SnmpModule second(m_crate->controller(), 2);
        SnmpModule bipolar(m_crate->controller(), 3);
        first.setConnectionState(BaseModule::ModuleStateInitialised);
        second.setConnectionState(BaseModule::ModuleStateInitialised);
        const QList<BaseModule*> modules{&first, &second, &bipolar};

        DialogSettings dialog;
        dialog.setFirmwareName(first.firmwareName());
        dialog.setSerialNumber(first.serialNumber());
        dialog.setUseControllerUnits(false);
        dialog.setVoltageUnit(QStringLiteral("kV"));
        dialog.setVoltagePrecision(4);
        dialog.setCurrentUnit(BaseModule::microAmpereUnit());
        dialog.setCurrentPrecision(1);
        child<QRadioButton>(&dialog, "modulesWithFirmwareName")->setChecked(true);
        dialog.accept();
        DialogSettings::applyToModules(dialog, &first, modules);

        QCOMPARE(first.connectionState(), BaseModule::ModuleStateUnknown);
        QCOMPARE(second.connectionState(), BaseModule::ModuleStateInitialised);
        for (BaseModule* module : {&first, &second}) {
            QCOMPARE(module->voltageUnit(0), QStringLiteral("kV"));
            QCOMPARE(module->voltagePrecision(), 4);
            QCOMPARE(module->currentUnit(0), BaseModule::microAmpereUnit());
            QCOMPARE(module->currentPrecision(), 1);
        }
        QCOMPARE(bipolar.voltageUnit(0), QStringLiteral("V"));
        QScopedPointer<QSettings> store(openStore());
        QCOMPARE(store->value(QStringLiteral("THE1640p/currentUnit")).toString(), QStringLiteral("uA"));
        QCOMPARE(store->value(QStringLiteral("THE1640p/useControllerUnits")).toInt(), 0);

        // A module created later of the same type picks the settings up.
        SnmpModule later(m_crate->controller(), 2);
        QCOMPARE(later.voltageUnit(0), QStringLiteral("kV"));
    }

    void allModulesAfterModuleSpecificSaveTakesEffect()
    {
        SnmpModule module(m_crate->controller(), 3);
        DialogSettings own;
        own.setFirmwareName(module.firmwareName());
        own.setSerialNumber(module.serialNumber());
        own.setUseControllerUnits(false);
        own.setVoltagePrecision(6);
        child<QRadioButton>(&own, "moduleWithSerialNumber")->setChecked(true);
        own.accept();
        QCOMPARE(SnmpModule(m_crate->controller(), 3).voltagePrecision(), 6);

        DialogSettings all;
        all.setFirmwareName(module.firmwareName());
        all.setSerialNumber(module.serialNumber());
        all.setUseControllerUnits(false);
        all.setVoltagePrecision(3);
        child<QRadioButton>(&all, "allModules")->setChecked(true);
        all.accept();
        DialogSettings::applyToModules(all, &module, {&module});
        QCOMPARE(module.voltagePrecision(), 3);
        // The module-specific group is gone, so the module keeps the new value when recreated.
        QScopedPointer<QSettings> store(openStore());
        QVERIFY(!store->childGroups().contains(QStringLiteral("300")));
        QCOMPARE(SnmpModule(m_crate->controller(), 3).voltagePrecision(), 3);
    }
};

QTEST_MAIN(TestDialogSettings)
#include "tst_dialogsettings.moc"
