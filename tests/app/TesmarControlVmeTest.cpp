// The main window on the stand-in VME crate behind a VM-USB: modules listed by ascending base
// address, the table refreshing, a channel set and switched, and a module in special mode, whose
// channel values are unknown while it stays connected. What reached the crate is read back
// through a bridge and module of the test's own (the stand-in crate is one per process).
#include "IsolatedSettings.h"
#include "app/ChannelTable.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"
#include "dialogs/common/UserDialogs.h"

#include "common/VmeStandInConfig.h"
#include "controller/VmUsb.h"
#include "device/VmeModule.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QtTest>

#include <memory>

namespace {

// Listed out of order on purpose: the window lists by base address.
const char* const crate = R"({"vmUsbSerials": ["VM0417A"], "v1718": false, "modules": [
    {"base": "0x5000", "class": 29, "channels": 24, "serial": 5290112, "voltageNominal": 500,
     "currentNominal": 0.001},
    {"base": "0x4000", "class": 20, "channels": 12, "serial": 5120417, "voltageNominal": 1000,
     "currentNominal": 0.003, "voltageRampSpeed": 50, "loadOhm": 1e8}]})";

IsolatedSettings* s_settings = nullptr;

QString cell(ChannelTable* table, int row, int column)
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

class TesmarControlVmeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(m_config.write(crate));
    }

    void windowOnStandInCrate()
    {
        s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("Controller/Kind"), QStringLiteral("vmusb"));
        UserDialogs::setStartupOverride(&m_dialogs);
        auto window = std::make_unique<TesmarControl>();
        UserDialogs::setStartupOverride(nullptr);
        window->setUserDialogs(&m_dialogs);
        window->show();
        VmUsb bridge;
        VmeModule side(&bridge, 0x4000);
        side.deviceClass(); // the first operation only detects the layout

        auto* modules = window->findChild<QListWidget*>(QStringLiteral("lstModules"));
        auto* table = window->findChild<ChannelTable*>(QStringLiteral("table"));
        auto* controllerLabel = window->findChild<QLabel*>(QStringLiteral("statusLabelController"));
        // Generous waits: under a loaded sanitizer run a module's first reads can take seconds, and
        // an entry may pass through "Not connected" before it settles.
        QTRY_COMPARE_WITH_TIMEOUT(modules->count(), 2, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(modules->item(0)->text(), QStringLiteral("VME BA 0x4000\n5120417"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(modules->item(1)->text(), QStringLiteral("VME BA 0x5000\n5290112"), 15000);
        QCOMPARE(controllerLabel->text(), QStringLiteral("Connected to VME controller Wiener VM0417A."));
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 12, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 2, ChannelTable::ColumnVoltageNominal), QStringLiteral("1,000.00"), 5000);

        // Typed set voltage, then on: the measured voltage follows in the table.
        window->tableCellDataChanged(2, ChannelTable::ColumnVoltageSet, QStringLiteral("300"));
        QTRY_COMPARE(window->commandsInFlight(), 0);
        QCOMPARE(side.channelVoltageSet(2), 300.0f);
        table->setCurrentCell(2, ChannelTable::ColumnVoltageSet);
        window->findChild<QAction*>(QStringLiteral("actionSetChannelOn"))->trigger();
        QTRY_COMPARE(window->commandsInFlight(), 0);
        QVERIFY(side.channelStatus(2) & 0x0008); // is on
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 2, ChannelTable::ColumnVoltageMeasure), QStringLiteral("300.00"), 5000);
        window->findChild<QAction*>(QStringLiteral("actionSetChannelOff"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 2, ChannelTable::ColumnVoltageMeasure), QStringLiteral("0.00"), 5000);

        // Special mode: the channel registers hold the loader's buffer. The table shows no
        // values, the module stays listed as connected, and the values return afterwards.
        QVERIFY(side.setControl(0x0005));
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 2, ChannelTable::ColumnVoltageSet), QStringLiteral("---"), 5000);
        QTest::qWait(2500);
        QCOMPARE(modules->item(0)->text(), QStringLiteral("VME BA 0x4000\n5120417"));
        QCOMPARE(cell(table, 2, ChannelTable::ColumnVoltageMeasure), QStringLiteral("---"));
        QVERIFY(side.setSpecialControlCommand(7));
        QVERIFY(side.setControl(0));
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 2, ChannelTable::ColumnVoltageSet), QStringLiteral("300.00"), 5000);
        QCOMPARE(modules->item(0)->text(), QStringLiteral("VME BA 0x4000\n5120417"));
    }

private:
    VmeStandInConfig m_config;
    ScriptedDialogs m_dialogs;
};

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QApplication application(argc, argv);
    TesmarControlVmeTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "TesmarControlVmeTest.moc"
