// Choosing the controller (command line and settings), and the main window on the stand-in OPC
// server: modules listed, the table refreshing, channels switched on and off, and a server that
// stops answering. What reached the server is read back through a controller of the test's own.
#include "IsolatedSettings.h"
#include "app/ChannelTable.h"
#include "app/CommandLine.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"
#include "dialogs/common/UserDialogs.h"

#include "common/OpcStandInConfig.h"
#include "controller/OpcController.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QtTest>

#include <memory>

namespace {

const char* const layout = R"({
  "modules": [
    {"name": "bus0.module0", "firmwareName": "THE1640p", "deviceClass": 24, "channels": 4,
     "serialNumber": "4716000", "nominalVoltage": 4000, "nominalCurrent": 2, "currentUnit": "mA"},
    {"name": "bus0.module1", "firmwareName": "TMM0800m", "deviceClass": 90, "channels": 8,
     "serialNumber": "4716001", "signal": 2.5}
  ]
})";

IsolatedSettings* s_settings = nullptr;

} // namespace

class TesmarControlOpcTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(m_config.write(layout));
    }
    void cleanup()
    {
        m_window.reset();
        s_settings->clear(QStringLiteral("tesmarcontrol"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("specialMode");
        QTest::addColumn<bool>("valid");
        QTest::newRow("nothing") << QStringList{} << ""
                                 << "snmp" << false << true;
        QTest::newRow("vrok") << QStringList{"vrok"} << ""
                              << "snmp" << true << true;
        QTest::newRow("vrok second") << QStringList{"x", "vrok"} << ""
                                     << "snmp" << false << true;
        QTest::newRow("option, then vrok") << QStringList{"--controller", "opc", "vrok"} << ""
                                           << "opc" << true << true;
        QTest::newRow("vrok, then option") << QStringList{"vrok", "--controller=opc"} << ""
                                           << "opc" << true << true;
        QTest::newRow("setting") << QStringList{} << "opc"
                                 << "opc" << false << true;
        QTest::newRow("command line wins") << QStringList{"--controller", "snmp"} << "opc"
                                           << "snmp" << false << true;
        QTest::newRow("unknown setting") << QStringList{} << "vme"
                                         << "snmp" << false << true;
        QTest::newRow("unknown kind") << QStringList{"--controller", "vme"} << ""
                                      << "snmp" << false << false;
        QTest::newRow("missing kind") << QStringList{"vrok", "--controller"} << ""
                                      << "snmp" << true << false;
        QTest::newRow("unknown option") << QStringList{"--bogus"} << ""
                                        << "snmp" << false << false;
        QTest::newRow("unknown short option after vrok") << QStringList{"vrok", "-x"} << ""
                                                         << "snmp" << true << false;
        QTest::newRow("option-like controller prefix") << QStringList{"--controllers=opc"} << ""
                                                       << "snmp" << false << false;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, setting);
        QFETCH(QString, kind);
        QFETCH(bool, specialMode);
        QFETCH(bool, valid);
        arguments.prepend(QStringLiteral("tesmarcontrol"));
        s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("Controller/Kind"),
            setting.isEmpty() ? QVariant() : QVariant(setting));
        QCOMPARE(CommandLine::parse(arguments).error.isEmpty(), valid);
        QCOMPARE(TesmarControl::specialModeRequested(arguments), specialMode);
        if (valid)
            QCOMPARE(TesmarControl::controllerKindRequested(arguments), kind);
    }

    void windowOnStandInServer()
    {
        s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("Controller/Kind"), QStringLiteral("opc"));
        UserDialogs::setStartupOverride(&m_dialogs);
        m_window = std::make_unique<TesmarControl>();
        UserDialogs::setStartupOverride(nullptr);
        m_window->setUserDialogs(&m_dialogs);
        m_window->show();
        OpcController server(200); // the same in-process server, seen from outside the window

        auto* modules = m_window->findChild<QListWidget*>(QStringLiteral("lstModules"));
        auto* table = m_window->findChild<ChannelTable*>(QStringLiteral("table"));
        auto* controllerLabel = m_window->findChild<QLabel*>(QStringLiteral("statusLabelController"));
        QTRY_COMPARE_WITH_TIMEOUT(modules->count(), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(modules->item(0)->text(), QStringLiteral("bus0.module0\n4716000"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(
            controllerLabel->text(), QStringLiteral("Connected to Tesmar OPC Server. Bus status: OK"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 4, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(table->item(2, ChannelTable::ColumnVoltageNominal), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(
            table->item(2, ChannelTable::ColumnVoltageNominal)->text(), QStringLiteral("4,000.00"), 5000);

        // Typed set voltage, then on: the measured voltage follows in the table.
        m_window->tableCellDataChanged(2, ChannelTable::ColumnVoltageSet, QStringLiteral("1500"));
        QTRY_COMPARE(m_window->commandsInFlight(), 0);
        QCOMPARE(server.getFloat(QStringLiteral("bus0.module0.ch02.VSet")), 1500.0f);
        table->setCurrentCell(2, ChannelTable::ColumnVoltageSet);
        m_window->findChild<QAction*>(QStringLiteral("actionSetChannelOn"))->trigger();
        QTRY_COMPARE(m_window->commandsInFlight(), 0);
        QCOMPARE(server.getUnsignedLong(QStringLiteral("bus0.module0.On")), 0x4u);
        QTRY_COMPARE_WITH_TIMEOUT(
            table->item(2, ChannelTable::ColumnVoltageMeasure)->text(), QStringLiteral("1,500.00"), 3000);
        m_window->findChild<QAction*>(QStringLiteral("actionSetChannelOff"))->trigger();
        QTRY_COMPARE(m_window->commandsInFlight(), 0);
        QCOMPARE(server.getUnsignedLong(QStringLiteral("bus0.module0.On")), 0x0u);
        QTRY_COMPARE_WITH_TIMEOUT(table->item(2, ChannelTable::ColumnVoltageMeasure)->text(), QStringLiteral("0.00"), 3000);

        // Auto-switch measurement: checking it alone sends nothing; from then on each channel the
        // cursor moves to on the measurement module gets both measurements, and only that one.
        const auto measured = [&server](int channel) {
            const QString item = QStringLiteral("bus0.module1.ch%1.").arg(channel, 2, 10, QLatin1Char('0'));
            return server.getBool(item + QStringLiteral("setExternalMeas"))
                && server.getBool(item + QStringLiteral("setRipple"));
        };
        auto* autoSwitch = m_window->findChild<QAction*>(QStringLiteral("actionAutoSwitchMeasurement"));
        autoSwitch->setChecked(true);
        table->setCurrentCell(3, ChannelTable::ColumnVoltageSet); // a high-voltage module: nothing
        QTRY_COMPARE(m_window->commandsInFlight(), 0);
        modules->setCurrentRow(1);
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 8, 5000);
        QTRY_COMPARE(m_window->commandsInFlight(), 0);
        for (int channel = 0; channel < 8; ++channel)
            QVERIFY(!measured(channel));
        table->setCurrentCell(5, ChannelTable::ColumnVoltageSet);
        QTRY_VERIFY_WITH_TIMEOUT(measured(5), 3000);
        QTRY_COMPARE(m_window->commandsInFlight(), 0);
        for (int channel = 0; channel < 8; ++channel)
            QCOMPARE(measured(channel), channel == 5);
        autoSwitch->setChecked(false);
        table->setCurrentCell(6, ChannelTable::ColumnVoltageSet);
        QTest::qWait(200);
        QTRY_COMPARE(m_window->commandsInFlight(), 0);
        QVERIFY(!measured(6));
        modules->setCurrentRow(0);
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 4, 5000);

        // A server that stops answering: "Not connected", and back at its first answer.
        server.opc_setBool("Simulation.Reachable", false);
        QTRY_COMPARE_WITH_TIMEOUT(modules->item(0)->text(), QStringLiteral("bus0.module0\nNot connected"), 6000);
        server.opc_setBool("Simulation.Reachable", true);
        QTRY_COMPARE_WITH_TIMEOUT(modules->item(0)->text(), QStringLiteral("bus0.module0\n4716000"), 6000);
    }

private:
    OpcStandInConfig m_config;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<TesmarControl> m_window;
};

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QApplication application(argc, argv);
    TesmarControlOpcTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "TesmarControlOpcTest.moc"
