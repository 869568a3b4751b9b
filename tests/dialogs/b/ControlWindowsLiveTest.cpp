// The current trip and external inhibit commands and the crate window against the crate
// simulator, through our SNMP library: what the dialogs write is read back from the crate with
// a controller and module of the test's own, as another program would see it.
#include "AnsweredValues.h"
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"

#include "app/ChannelTable.h"
#include "app/IsolatedSettings.h"
#include "app/TesmarControl.h"
#include "controller/SnmpController.h"
#include "device/SnmpCrate.h"
#include "device/SnmpModule.h"
#include "dialogs/DialogCrate.h"

#include "common/SimulatorProcess.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

namespace {

struct Supervision
{
    int tripAction = 0; // 0 none, 1 ramp down, 2 off without ramp
    int tripTimeMs = 0;
    int inhibitAction = 0;
    bool operator==(const Supervision& other) const
    {
        return tripAction == other.tripAction && tripTimeMs == other.tripTimeMs && inhibitAction == other.inhibitAction;
    }
};

char* toString(const Supervision& s)
{
    return QTest::toString(
        QStringLiteral("trip %1 after %2 ms, inhibit %3").arg(s.tripAction).arg(s.tripTimeMs).arg(s.inhibitAction));
}

} // namespace

class ControlWindowsLiveTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void currentTrip_data();
    void currentTrip();
    void inhibit_data();
    void inhibit();
    void crateWindow();

private:
    // What the crate holds for each channel of slot 0, read through a second controller.
    QVector<Supervision> supervision();
    void selectRow(int row);
    QString statusMessage() const { return m_window->statusBar()->currentMessage(); }

    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<QTemporaryFile> m_config;
    std::unique_ptr<TesmarControl> m_window;
    SnmpController m_probeController;
    std::unique_ptr<SnmpModule> m_probe;
    ScriptedDialogs m_dialogs;
};

void ControlWindowsLiveTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void ControlWindowsLiveTest::init()
{
    // Slot 0: 8 channels of 2 mA, channel 5 rated 1 mA; every channel starts with its inhibit
    // switching the module off (bits 12-13), so a trip write must keep that.
    m_config = std::make_unique<QTemporaryFile>();
    QVERIFY(m_config->open());
    m_config->write(R"({"crate": {"bootDelayMs": 0, "serialNumber": "4711042"}, "modules": [
        {"slot": 0, "type": "THE1640p", "channels": 8, "serialNumber": 500, "supervisionBehavior": 12288,
         "channelNominalCurrents": [0.002, 0.002, 0.002, 0.002, 0.002, 0.001, 0.002, 0.002]}]})");
    m_config->close();
    m_simulator = std::make_unique<SimulatorProcess>();
    QVERIFY2(m_simulator->startForProgram(m_config->fileName()), qPrintable(m_simulator->output()));

    UserDialogs::setStartupOverride(&m_dialogs);
    m_window = std::make_unique<TesmarControl>();
    m_window->setUserDialogs(&m_dialogs);
    m_window->show();
    QTRY_VERIFY_WITH_TIMEOUT(
        m_window->findChild<QLabel*>(QStringLiteral("lblConnect"))->text().startsWith("Connected to"), 5000);
    QVERIFY(m_probeController.open(m_simulator->address()));
    m_probe = std::make_unique<SnmpModule>(&m_probeController, 0);
}

void ControlWindowsLiveTest::cleanup()
{
    m_window.reset();
    m_probe.reset();
    UserDialogs::setStartupOverride(nullptr);
    m_dialogs.answers.clear();
    m_dialogs.asked.clear();
    m_dialogs.questionAnswer = QMessageBox::No;
    m_dialogs.fill = nullptr;
    if (m_simulator)
        m_simulator->stop();
    m_simulator.reset();
}

QVector<Supervision> ControlWindowsLiveTest::supervision()
{
    QVector<Supervision> channels;
    for (int channel = 0; channel < m_probe->channelNumber(); ++channel) {
        Supervision s;
        if (m_probe->channelDelayedTripEnabled(channel))
            s.tripAction = m_probe->channelDelayedTripRampDown(channel) ? 1 : 2;
        s.tripTimeMs = m_probe->channelDelayedTripTime(channel);
        s.inhibitAction = m_probe->channelInhibitAction(channel);
        channels.append(s);
    }
    return channels;
}

void ControlWindowsLiveTest::selectRow(int row)
{
    auto* table = m_window->findChild<ChannelTable*>(QStringLiteral("table"));
    table->setCurrentCell(row, row < 0 ? -1 : 0);
    QCOMPARE(table->currentRow(), row);
}

void ControlWindowsLiveTest::currentTrip_data()
{
    QTest::addColumn<bool>("allChannels");
    QTest::addColumn<int>("row");
    QTest::addColumn<double>("currentMilliamperes");
    QTest::addColumn<int>("action"); // 0: "Turn the channel off ..." unchecked
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("note");
    QTest::newRow("one channel, with ramp")
        << false << 2 << 1.5 << 1 << 700 << "Input a Set current (0...2 mA) for channel 2:"
        << "";
    QTest::newRow("one channel, without ramp")
        << false << 5 << 0.75 << 2 << 300 << "Input a Set current (0...1 mA) for channel 5:"
        << "";
    QTest::newRow("one channel, no delayed trip")
        << false << 3 << 1.25 << 0 << 200 << "Input a Set current (0...2 mA) for channel 3:"
        << "";
    QTest::newRow("all channels, without ramp")
        << true << 1 << 0.5 << 2 << 1500 << "Input a Set current (0...2 mA) for all channels:"
        << "Note: some channels will only allow 1 mA.";
}

void ControlWindowsLiveTest::currentTrip()
{
    QFETCH(bool, allChannels);
    QFETCH(int, row);
    QFETCH(double, currentMilliamperes);
    QFETCH(int, action);
    QFETCH(int, delayMs);
    QFETCH(QString, prompt);
    QFETCH(QString, note);
    // Channel 3 starts with a delayed trip that unticking the box must remove.
    QVERIFY(m_probe->setChannelDelayedTripAction(3, BaseModule::RampDownChannel, 900));
    const QVector<Supervision> before = supervision();
    selectRow(row);

    QString shownPrompt, shownNote;
    Supervision shown;
    m_dialogs.fill = [&](QDialog* dialog) {
        if (!waitForAnsweredValues(dialog))
            return int(QDialog::Rejected);
        shownPrompt = child<QLabel>(dialog, "labelText")->text();
        shownNote = child<QLabel>(dialog, "labelNote")->text();
        if (child<QCheckBox>(dialog, "chkDelayedTrip")->isChecked())
            shown.tripAction = child<QRadioButton>(dialog, "chkRampDown")->isChecked() ? 1 : 2;
        shown.tripTimeMs = child<QSpinBox>(dialog, "sbDelay")->value();
        child<QDoubleSpinBox>(dialog, "sbValue")->setValue(currentMilliamperes);
        child<QCheckBox>(dialog, "chkDelayedTrip")->setChecked(action != 0);
        child<QSpinBox>(dialog, "sbDelay")->setValue(delayMs);
        child<QRadioButton>(dialog, action == 2 ? "chkShutDown" : "chkRampDown")->setChecked(true);
        return int(QDialog::Accepted);
    };
    if (allChannels)
        m_window->findChild<QAction*>(QStringLiteral("actionSetAllChannelsCurrentTrip"))->trigger();
    else
        m_window->findChild<QAction*>(QStringLiteral("actionSetChannelCurrentTrip"))->trigger();
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QCOMPARE(shownPrompt, prompt);
    QCOMPARE(shownNote, note);
    // The dialog starts from the crate's settings of the row's channel.
    shown.inhibitAction = before.at(row).inhibitAction;
    QCOMPARE(shown, before.at(row));

    const QVector<Supervision> after = supervision();
    for (int channel = 0; channel < after.size(); ++channel) {
        Supervision expected = before.at(channel);
        if (allChannels || channel == row) {
            expected.tripAction = action;
            expected.tripTimeMs = delayMs;
        }
        QCOMPARE(after.at(channel), expected); // the inhibit action stays
        const float current = m_probe->channelCurrentSet(channel);
        if (allChannels || channel == row)
            QCOMPARE(current, float(currentMilliamperes));
        else
            QVERIFY(current != float(currentMilliamperes));
    }
}

void ControlWindowsLiveTest::inhibit_data()
{
    QTest::addColumn<bool>("allChannels");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QList<int>>("changed");
    QTest::addColumn<int>("written");
    QTest::newRow("one channel") << false << 4 << "rampDownChannel" << true
                                 << "When an External Inhibit on channel 4 occurs, perform the following action."
                                 << QList<int>{4} << 1;
    // Without a chosen channel the command is refused: no dialog, nothing written.
    QTest::newRow("no current row") << false << -1 << "shutDownChannel" << true << "" << QList<int>{} << 2;
    QTest::newRow("all channels") << true << 6 << "ignoreFailure" << true
                                  << "When an External Inhibit on any channel occurs, perform the following action."
                                  << QList<int>{0, 1, 2, 3, 4, 5, 6, 7} << 0;
    QTest::newRow("cancel") << false << 4 << "ignoreFailure" << false
                            << "When an External Inhibit on channel 4 occurs, perform the following action." << QList<int>{}
                            << 0;
}

void ControlWindowsLiveTest::inhibit()
{
    QFETCH(bool, allChannels);
    QFETCH(int, row);
    QFETCH(QString, choice);
    QFETCH(bool, accept);
    QFETCH(QString, description);
    QFETCH(QList<int>, changed);
    QFETCH(int, written);
    // A delayed trip on the channel of the row shows the trip bits are kept; every channel
    // starts with "shut down the whole module", which the dialog preselects.
    QVERIFY(m_probe->setChannelDelayedTripAction(qMax(0, row), BaseModule::ShutDownChannel, 400));
    const QVector<Supervision> before = supervision();
    selectRow(row);

    QString shownDescription;
    bool preselected = row < 0; // no dialog without a channel
    m_dialogs.fill = [&](QDialog* dialog) {
        if (!waitForAnsweredValues(dialog))
            return int(QDialog::Rejected);
        shownDescription = child<QLabel>(dialog, "description")->text();
        preselected = child<QRadioButton>(dialog, "shutDownModule")->isChecked();
        child<QRadioButton>(dialog, qPrintable(choice))->setChecked(true);
        return int(accept ? QDialog::Accepted : QDialog::Rejected);
    };
    if (allChannels)
        m_window->findChild<QAction*>(QStringLiteral("actionSetAllChannelsExternalInhibitAction"))->trigger();
    else
        m_window->findChild<QAction*>(QStringLiteral("actionSetChannelExternalInhibitAction"))->trigger();
    QCOMPARE(shownDescription, description);
    QVERIFY(preselected);
    if (row < 0)
        QCOMPARE(statusMessage(), QStringLiteral("Set external inhibit action: no channel selected; nothing was sent."));
    QTRY_COMPARE(m_window->commandsInFlight(), 0);

    const QVector<Supervision> after = supervision();
    for (int channel = 0; channel < after.size(); ++channel) {
        Supervision expected = before.at(channel);
        if (changed.contains(channel))
            expected.inhibitAction = written;
        QCOMPARE(after.at(channel), expected);
    }
}

void ControlWindowsLiveTest::crateWindow()
{
    m_dialogs.answers = {QStringLiteral("tundra"), 2000};
    m_window->on_actionPassword_triggered();
    m_window->findChild<QAction*>(QStringLiteral("actionCrates"))->trigger();
    auto* window = m_window->findChild<DialogCrate*>();
    QVERIFY(window && window->isVisible());
    auto* list = child<QListWidget>(window, "crateList");
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 1, 5000);
    QCOMPARE(list->item(0)->text(), QStringLiteral("4711042"));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(window, "txtFirmware")->text(), QStringLiteral("MPOD 2.1.9.0"), 5000);
    // The SNMP crate reports the +24 V supply, not the +5 V one (it answers a constant).
    QTRY_VERIFY_WITH_TIMEOUT(child<QLineEdit>(window, "txtSupply24")->text().toDouble() > 20.0, 5000);
    for (const char* notReported : {"txtSupply5", "txtBattery24", "txtTempBackPlane", "txtStatus", "txtFan2"})
        QCOMPARE(child<QLineEdit>(window, notReported)->text(), QStringLiteral("---"));

    child<QPushButton>(window, "setFanSpeed")->click();
    QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(window, "txtFan1")->text(), QStringLiteral("2000"), 5000);

    SnmpCrate crate(&m_probeController);
    auto* power = child<QPushButton>(window, "btnPowerOn");
    QTRY_COMPARE_WITH_TIMEOUT(power->text(), QStringLiteral("O&ff"), 5000);
    // Switching off asks first; the label follows the crate's next report.
    m_dialogs.questionAnswer = QMessageBox::Yes;
    power->click();
    QCOMPARE(m_dialogs.questions().size(), 1);
    // The switch goes out on the device side.
    QTRY_VERIFY_WITH_TIMEOUT(!crate.powerOn(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(power->text(), QStringLiteral("&On"), 5000);

    // A crate that stops answering leaves no value on screen.
    QVERIFY(m_simulator->command(QStringLiteral("silent on")));
    QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(window, "txtFirmware")->text(), QStringLiteral("---"), 10000);
    QCOMPARE(child<QLineEdit>(window, "txtSupply24")->text(), QStringLiteral("---"));
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QApplication app(argc, argv);
    ControlWindowsLiveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ControlWindowsLiveTest.moc"
