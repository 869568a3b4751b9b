// The control windows against in-memory modules (what the SNMP crate cannot show: variable
// groups, user nominal values, a -12 V supply) and the crate window on its own: the main
// window's commands, the windows' own logic, and that the variable-group poll never reads in
// the GUI thread.
#include "AnsweredValues.h"
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"

#include "app/ChannelMenuCommands.h"
#include "app/IsolatedSettings.h"
#include "app/TesmarControl.h"
#include "device/CrateSnapshot.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/SteadyClock.h"
#include "dialogs/DialogCrate.h"
#include "dialogs/DialogFlexGroups.h"
#include "dialogs/DialogSetUserNominalValues.h"
#include "dialogs/DialogSuppliesTempLimits.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <memory>

namespace {

// Notes in which thread the variable groups are read.
class GroupsModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    std::atomic<int> typeReads{0};
    std::atomic<bool> readInGuiThread{false};

    quint32 flexGroupType(int group) override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            readInGuiThread = true;
        ++typeReads;
        return MemoryModule::flexGroupType(group);
    }
};

// A crate read answered just now.
CrateSnapshot crateRead(int serialNumber, std::function<void(CrateReading&)> fill = {})
{
    CrateSnapshot snapshot;
    snapshot.answered = true;
    snapshot.readAtMs = snapshot.crateReadAtMs = ModuleSnapshot::nowMs();
    snapshot.crate.valid = true;
    snapshot.crate.serialNumber = serialNumber;
    if (fill)
        fill(snapshot.crate);
    return snapshot;
}

void show(DialogCrate& window, const CrateSnapshot& snapshot)
{
    window.showCrateSnapshot(snapshot, ModuleSnapshot::nowMs());
}

} // namespace

class ControlWindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void crateListSorted_data();
    void crateListSorted();
    void crateButtonsWithoutRowDoNothing();
    void crateSupplyColours_data();
    void crateSupplyColours();
    void crateFanSpeed_data();
    void crateFanSpeed();
    void cratePowerButtonSendsInverted();
    void passwordEnablesFanSpeed();
    void suppliesShowCurrentModule();
    void flexGroupLayouts_data();
    void flexGroupLayouts();
    void flexGroupDisplay();
    void flexGroupPollLeavesGuiThread();
    void userNominalValues_data();
    void userNominalValues();

private:
    // The main window over one in-memory module (32 channels, serial number 77).
    void openWindow(int deviceClass = 20);
    DialogFlexGroups* openFlexGroups();
    MemoryModule::ModuleState moduleState();
    // The operator puts the cursor on `channel` of the shown module (waits for its first read).
    void selectChannel(int channel);

    std::unique_ptr<TesmarControl> m_window;
    GroupsModule* m_module = nullptr; // owned by the window's session
    ScriptedDialogs m_dialogs;
};

void ControlWindowsTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void ControlWindowsTest::cleanup()
{
    m_window.reset();
    m_module = nullptr;
    UserDialogs::setStartupOverride(nullptr);
    m_dialogs.answers.clear();
    m_dialogs.asked.clear();
    m_dialogs.fill = nullptr;
}

void ControlWindowsTest::openWindow(int deviceClass)
{
    UserDialogs::setStartupOverride(&m_dialogs);
    auto factory = std::make_unique<MemoryControllerFactory>([this, deviceClass] {
        m_module = new GroupsModule(32, deviceClass, 77);
        return QVector<MemoryModule*>{m_module};
    });
    m_window = std::make_unique<TesmarControl>(std::move(factory));
    m_window->setUserDialogs(&m_dialogs);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->deviceSession()->isConnecting(), 5000);
    QVERIFY(m_module);
}

void ControlWindowsTest::selectChannel(int channel)
{
    auto* table = m_window->findChild<QTableWidget*>(QStringLiteral("table"));
    QTRY_VERIFY_WITH_TIMEOUT(table->rowCount() > channel, 5000);
    table->setCurrentCell(channel, 0);
}

MemoryModule::ModuleState ControlWindowsTest::moduleState()
{
    std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
    return m_module->state;
}

// ---- Crate window ----

void ControlWindowsTest::crateListSorted_data()
{
    QTest::addColumn<QList<int>>("arriving");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("current");
    QTest::newRow("ascending, first one current") << QList<int>{20, 5, 12, 5} << QStringList{"5", "12", "20"} << "20";
    // A crate whose description has no serial number is still one to switch.
    QTest::newRow("serial number 0") << QList<int>{7, 0} << QStringList{"0", "7"} << "7";
}

void ControlWindowsTest::crateListSorted()
{
    QFETCH(QList<int>, arriving);
    QFETCH(QStringList, listed);
    QFETCH(QString, current);
    DialogCrate window(nullptr);
    for (int serialNumber : arriving)
        show(window, crateRead(serialNumber, [serialNumber](CrateReading& read) { read.status = serialNumber + 1000; }));
    auto* list = child<QListWidget>(&window, "crateList");
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    QCOMPARE(texts, listed);
    QCOMPARE(list->currentItem()->text(), current);
    // Only the current crate's values are shown.
    QCOMPARE(child<QLineEdit>(&window, "txtStatus")->text(), QString::number(current.toInt() + 1000));
}

void ControlWindowsTest::crateButtonsWithoutRowDoNothing()
{
    DialogCrate window(nullptr);
    window.setUserDialogs(&m_dialogs);
    window.setFanSpeedEnabled(true);
    show(window, crateRead(3, [](CrateReading& read) { read.powerOn = true; }));
    window.clearCrates();
    QSignalSpy power(&window, &DialogCrate::setPowerOn);
    QSignalSpy fan(&window, &DialogCrate::setFanSpeed);
    m_dialogs.answers = {2000};
    child<QPushButton>(&window, "btnPowerOn")->click();
    child<QPushButton>(&window, "setFanSpeed")->click();
    QCOMPARE(power.count(), 0);
    QCOMPARE(fan.count(), 0);
    QVERIFY(m_dialogs.labels().isEmpty());
}

void ControlWindowsTest::crateSupplyColours_data()
{
    QTest::addColumn<bool>("powerOn");
    QTest::addColumn<bool>("supply24V");
    QTest::addColumn<float>("volts");
    QTest::addColumn<bool>("red");
    QTest::newRow("5 V up with the power off") << false << false << 0.6f << true;
    QTest::newRow("5 V down with the power off") << false << false << 0.4f << false;
    QTest::newRow("5 V up with the power on") << true << false << 0.6f << false;
    QTest::newRow("24 V up with the power off") << false << true << 2.1f << true;
    QTest::newRow("24 V down with the power off") << false << true << 1.9f << false;
    QTest::newRow("24 V up with the power on") << true << true << 24.0f << false;
}

void ControlWindowsTest::crateSupplyColours()
{
    QFETCH(bool, powerOn);
    QFETCH(bool, supply24V);
    QFETCH(float, volts);
    QFETCH(bool, red);
    DialogCrate window(nullptr);
    show(window, crateRead(9, [&](CrateReading& read) {
        read.powerOn = powerOn;
        (supply24V ? read.supply24V : read.supply5V) = volts;
    }));
    auto* field = child<QLineEdit>(&window, supply24V ? "txtSupply24" : "txtSupply5");
    QCOMPARE(field->text(), QString::number(double(volts), 'g', 6));
    // Without alarm the window's own colours, so the field reads on a dark desktop as well.
    QCOMPARE(field->palette().color(QPalette::Base), red ? QColor(Qt::red) : window.palette().color(QPalette::Base));
}

void ControlWindowsTest::crateFanSpeed_data()
{
    QTest::addColumn<QVariant>("answer");
    QTest::addColumn<int>("sent"); // -1: nothing sent
    QTest::addColumn<bool>("refused");
    QTest::newRow("500 rpm is refused") << QVariant(500) << -1 << true;
    QTest::newRow("1 rpm is refused") << QVariant(1) << -1 << true;
    QTest::newRow("1199 rpm is refused") << QVariant(1199) << -1 << true;
    QTest::newRow("0 stops the fans") << QVariant(0) << 0 << false;
    QTest::newRow("1200 rpm") << QVariant(1200) << 1200 << false;
    QTest::newRow("3200 rpm") << QVariant(3200) << 3200 << false;
    QTest::newRow("cancel") << QVariant() << -1 << false;
}

void ControlWindowsTest::crateFanSpeed()
{
    QFETCH(QVariant, answer);
    QFETCH(int, sent);
    QFETCH(bool, refused);
    DialogCrate window(nullptr);
    window.setUserDialogs(&m_dialogs);
    window.setFanSpeedEnabled(true);
    show(window, crateRead(42, [](CrateReading& read) { read.fanSpeed = 2400; }));
    QSignalSpy fan(&window, &DialogCrate::setFanSpeed);
    m_dialogs.answers = {answer};
    child<QPushButton>(&window, "setFanSpeed")->click();
    QCOMPARE(m_dialogs.labels(),
        QStringList{"Input a new fan rotation speed (0...3200 RPM):\n\nNote: the values 1...1199 are not allowed."});
    QCOMPARE(fan.count(), sent < 0 ? 0 : 1);
    if (sent >= 0)
        QCOMPARE(fan.first(), (QList<QVariant>{sent}));
    QCOMPARE(m_dialogs.informations(), refused ? QStringList{"Note: the values 1...1199 are not allowed."} : QStringList());
    // The prompt starts from the crate's fan speed (a cancelled prompt answers it).
    if (!answer.isValid())
        QCOMPARE(m_dialogs.askedOf(ScriptedDialogs::Kind::Value).last().value, 2400);
}

void ControlWindowsTest::cratePowerButtonSendsInverted()
{
    DialogCrate window(nullptr);
    window.setUserDialogs(&m_dialogs);
    auto* button = child<QPushButton>(&window, "btnPowerOn");
    QSignalSpy power(&window, &DialogCrate::setPowerOn);
    // No reported state: nothing to invert.
    QVERIFY(!button->isEnabled());
    QCOMPARE(button->text(), QStringLiteral("---"));
    show(window, crateRead(8, [](CrateReading& read) { read.powerOn = true; }));
    QCOMPARE(button->text(), QStringLiteral("O&ff"));
    // Off asks first; No sends nothing.
    m_dialogs.questionAnswer = QMessageBox::No;
    button->click();
    QCOMPARE(power.count(), 0);
    QCOMPARE(m_dialogs.questions(),
        QStringList{"Switch crate 8 off? Every channel loses its high voltage at once, without ramp."});
    m_dialogs.questionAnswer = QMessageBox::Yes;
    button->click();
    QCOMPARE(power.takeFirst(), (QList<QVariant>{false}));
    // The label follows the crate's next report, not the click.
    QCOMPARE(button->text(), QStringLiteral("O&ff"));
    show(window, crateRead(8));
    QCOMPARE(button->text(), QStringLiteral("&On"));
    m_dialogs.asked.clear();
    button->click();
    QCOMPARE(power.takeFirst(), (QList<QVariant>{true}));
    QVERIFY(m_dialogs.messages().isEmpty()); // switching on asks nothing
}

void ControlWindowsTest::passwordEnablesFanSpeed()
{
    // The window that exists at the password, and one created after it.
    openWindow();
    m_window->on_actionCrates_triggered();
    auto* crates = m_window->findChild<DialogCrate*>();
    QVERIFY(crates);
    // Offered only with the password, and only while the crate's fan speed is known.
    show(*crates, crateRead(1, [](CrateReading& read) { read.fanSpeed = 2000; }));
    QVERIFY(!child<QPushButton>(crates, "setFanSpeed")->isEnabled());
    m_dialogs.answers = {QStringLiteral("tundra")};
    m_window->on_actionPassword_triggered();
    QVERIFY(child<QPushButton>(crates, "setFanSpeed")->isEnabled());
    delete crates;
    m_window->on_actionCrates_triggered();
    crates = m_window->findChild<DialogCrate*>();
    QVERIFY(!child<QPushButton>(crates, "setFanSpeed")->isEnabled());
    show(*crates, crateRead(1, [](CrateReading& read) { read.fanSpeed = 2000; }));
    QVERIFY(child<QPushButton>(crates, "setFanSpeed")->isEnabled());
}

// ---- Supplies and temperatures ----

void ControlWindowsTest::suppliesShowCurrentModule()
{
    openWindow();
    {
        std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
        m_module->state.supplyP5 = 5.25f;
        m_module->state.supplyN12 = -11.5f;
        m_module->state.temperature = 31;
    }
    m_window->on_actionSuppliesAndTemperature_triggered();
    auto* window = m_window->findChild<DialogSuppliesTempLimits*>();
    QVERIFY(window);
    // Read while the window is shown.
    QTRY_COMPARE_WITH_TIMEOUT(child<QLCDNumber>(window, "lcdP5")->value(), 5.25, 3000);
    QCOMPARE(child<QLCDNumber>(window, "lcdN12")->value(), -11.5);
    QCOMPARE(child<QLCDNumber>(window, "lcdTemp0")->value(), 31.0);
    // Every read of the module while shown.
    {
        std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
        m_module->state.temperature = 35.5f;
    }
    QTRY_COMPARE_WITH_TIMEOUT(child<QLCDNumber>(window, "lcdTemp0")->value(), 35.5, 5000);
    QCOMPARE(child<QLCDNumber>(window, "lcdP5")->value(), 5.25);
    // A module that stops answering leaves no reading on screen ("---" reads as 0) after the
    // freshness time.
    m_module->setAnswering(false);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLCDNumber>(window, "lcdP5")->value(), 0.0, 3000);
}

// ---- Variable groups ----

DialogFlexGroups* ControlWindowsTest::openFlexGroups()
{
    m_window->on_actionVariableGroups_triggered();
    auto* window = m_window->findChild<DialogFlexGroups*>();
    // The shown group has arrived once (Set is offered): later polls draw only what changes.
    if (!QTest::qWaitFor([&] { return child<QPushButton>(window, "btnSet")->isEnabled(); }, 5000))
        return nullptr;
    QCoreApplication::processEvents();
    return window;
}

void ControlWindowsTest::flexGroupLayouts_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<int>("master");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<quint32>("setType");
    QTest::addColumn<quint32>("timeoutType");
    // Copy Vset (code 1 in bits 4-7); timeout group: kind 3 in bits 14-15, no action.
    QTest::newRow("class 29: 5-bit master, 16-bit timeout")
        << 29 << 20 << 65535 << quint32(0x10 | (20u << 16)) << quint32(0xC000 | (65535u << 16));
    // 4 bits: channel 20 would arrive as channel 4, so the spin box stops at 15.
    QTest::newRow("other classes: 4-bit master, 12-bit timeout")
        << 20 << 20 << 65535 << quint32(0x10 | 15u) << quint32(0xC000 | 4095u);
}

void ControlWindowsTest::flexGroupLayouts()
{
    QFETCH(int, deviceClass);
    QFETCH(int, master);
    QFETCH(int, timeoutMs);
    QFETCH(quint32, setType);
    QFETCH(quint32, timeoutType);
    openWindow(deviceClass);
    DialogFlexGroups* window = openFlexGroups();
    QVERIFY(window);
    child<QSpinBox>(window, "spbGroupNumber")->setValue(2);
    // Set waits for the new group's answer: its undefined bits go back as received.
    QVERIFY(!child<QPushButton>(window, "btnSet")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(window, "btnSet")->isEnabled(), 3000);
    child<QCheckBox>(window, "chkChannel1")->setChecked(true);
    child<QSpinBox>(window, "spbMasterChannel")->setValue(master);
    child<QPushButton>(window, "btnSet")->click();
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QCOMPARE(moduleState().flexType[2], setType);
    QCOMPARE(moduleState().flexMember[2], 0x2u);

    child<QTabWidget>(window, "tabWidget")->setCurrentIndex(3);
    child<QSpinBox>(window, "spbTimeout")->setValue(timeoutMs);
    child<QPushButton>(window, "btnSet")->click();
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QCOMPARE(moduleState().flexType[2], timeoutType);
}

void ControlWindowsTest::flexGroupDisplay()
{
    openWindow();
    {
        std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
        m_module->state.flexMember[0] = 0x1;
        m_module->state.flexType[0] = 5u << 4; // Copy CurrentInterlockMaxSet
        m_module->state.flexMember[6] = 0x3;
        m_module->state.flexType[6] = 3u << 4; // copy code 3 is not assigned
    }
    DialogFlexGroups* window = openFlexGroups();
    QVERIFY(window);
    QTRY_VERIFY(child<QRadioButton>(window, "rdoCopy5")->isChecked());
    QVERIFY(child<QCheckBox>(window, "chkChannel0")->isChecked());

    // The same words again redraw nothing: the operator's unsent choices stay.
    child<QRadioButton>(window, "rdoCopy2")->setChecked(true);
    child<QCheckBox>(window, "chkChannel3")->setChecked(true);
    window->showGroup(0, 0x1, 5u << 4);
    QVERIFY(child<QRadioButton>(window, "rdoCopy2")->isChecked());
    QVERIFY(child<QCheckBox>(window, "chkChannel3")->isChecked());
    // Another group's data is not this one's.
    window->showGroup(1, 0x10, 1u << 4);
    QVERIFY(child<QRadioButton>(window, "rdoCopy2")->isChecked());
    QVERIFY(child<QCheckBox>(window, "chkChannel3")->isChecked());

    // An unassigned copy code shows "Copy Vset", and Set then sends code 1.
    child<QSpinBox>(window, "spbGroupNumber")->setValue(6);
    QTRY_VERIFY(child<QRadioButton>(window, "rdoCopy1")->isChecked());
    QVERIFY(child<QPushButton>(window, "btnSet")->isEnabled());
    QVERIFY(!child<QCheckBox>(window, "chkChannel3")->isChecked());
    QVERIFY(child<QCheckBox>(window, "chkChannel1")->isChecked());
    child<QPushButton>(window, "btnSet")->click();
    QTRY_COMPARE(moduleState().flexType[6], 1u << 4);

    // Erase writes member 0 and type 0 for the shown group.
    child<QPushButton>(window, "btnErase")->click();
    QTRY_COMPARE(m_module->writes().last(), QStringLiteral("setFlexGroup(6, 0x0, 0x0)"));

    // Select all ticks the enabled boxes only, and toggles.
    m_window->findChild<DialogFlexGroups*>()->setChannelCount(16);
    auto* selectAll = child<QPushButton>(window, "btnMemberSelection");
    selectAll->click();
    QVERIFY(child<QCheckBox>(window, "chkChannel15")->isChecked());
    QVERIFY(!child<QCheckBox>(window, "chkChannel16")->isChecked());
    QCOMPARE(selectAll->text(), QStringLiteral("Unselect &All"));
    QCOMPARE(child<QSpinBox>(window, "spbMasterChannel")->maximum(), 15);
    selectAll->click();
    QVERIFY(!child<QCheckBox>(window, "chkChannel15")->isChecked());
    QCOMPARE(selectAll->text(), QStringLiteral("Select &All"));
}

void ControlWindowsTest::flexGroupPollLeavesGuiThread()
{
    openWindow();
    {
        std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
        m_module->state.flexMember[0] = 0x5;
    }
    DialogFlexGroups* window = openFlexGroups();
    QVERIFY(window);
    // Polled while shown, always on the poller's thread.
    QTRY_VERIFY_WITH_TIMEOUT(child<QCheckBox>(window, "chkChannel2")->isChecked(), 5000);
    const int readsShown = m_module->typeReads;
    QTRY_VERIFY_WITH_TIMEOUT(m_module->typeReads >= readsShown + 2, 5000);
    QVERIFY(!m_module->readInGuiThread);

    // A module that does not answer delivers nothing, not zeros: the members stay as answered
    // (until they go stale).
    m_module->setAnswering(false);
    QTest::qWait(200); // a poll already on its way may still deliver
    const int readsBefore = m_module->typeReads;
    QTRY_VERIFY_WITH_TIMEOUT(m_module->typeReads >= readsBefore + 1, 5000);
    QCoreApplication::processEvents();
    QVERIFY(child<QCheckBox>(window, "chkChannel0")->isChecked());
    QVERIFY(child<QCheckBox>(window, "chkChannel2")->isChecked());
    // Unanswered, the group turns grey, then unknown: nothing to set or erase (the clock is moved
    // on rather than waited for).
    auto* members = child<QWidget>(window, "grpMembers");
    QVERIFY(members->palette().color(QPalette::WindowText) != QColor(Qt::gray));
    SteadyClock::advanceMs(FreshnessRules::ageingAfterMs);
    QTRY_COMPARE(members->palette().color(QPalette::WindowText), QColor(Qt::gray));
    QVERIFY(child<QCheckBox>(window, "chkChannel2")->isChecked());
    QVERIFY(child<QPushButton>(window, "btnSet")->isEnabled());
    SteadyClock::advanceMs(FreshnessRules::staleAfterMs);
    QTRY_VERIFY(!child<QPushButton>(window, "btnSet")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "btnErase")->isEnabled());
    QVERIFY(!child<QCheckBox>(window, "chkChannel2")->isChecked());

    // Hidden, it asks nothing.
    window->hide();
    QTest::qWait(200);
    const int readsHidden = m_module->typeReads;
    QTest::qWait(1500);
    QCOMPARE(int(m_module->typeReads), readsHidden);
}

// ---- User nominal values ----

void ControlWindowsTest::userNominalValues_data()
{
    QTest::addColumn<quint32>("controlBefore");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<double>("typedVoltage"); // NaN: left as shown
    QTest::addColumn<double>("typedCurrent");
    QTest::addColumn<QStringList>("nominalWrites");
    QTest::addColumn<QStringList>("controlWrites");
    QTest::addColumn<quint32>("controlAfter");
    const double untouched = std::nan("");
    // The module's 2999.987 V shows as 3000.0 with one decimal: untouched, it is not written, and
    // without a change the stop mode is not touched either.
    QTest::newRow("ok without changes") << 0x0u << true << untouched << untouched << QStringList() << QStringList() << 0x0u;
    QTest::newRow("ok with a new voltage")
        << 0x1000u << true << 2500.0 << untouched << QStringList{"setChannelVoltageNominal(0, 2500)"}
        << QStringList{"setControl(4100)", "setControl(4096)"} << 0x1000u;
    QTest::newRow("ok with a new current")
        << 0x0u << true << untouched << 0.002 << QStringList{"setChannelCurrentNominal(0, 0.00200000009)"}
        << QStringList{"setControl(4)", "setControl(0)"} << 0x0u;
    QTest::newRow("cancel") << 0x0u << false << 2500.0 << 0.002 << QStringList() << QStringList() << 0x0u;
    // A stop set before the window (an interrupted profile write) is not released by it.
    QTest::newRow("stopped before") << 0x4u << true << 2500.0 << untouched
                                    << QStringList{"setChannelVoltageNominal(0, 2500)"} << QStringList() << 0x4u;
}

void ControlWindowsTest::userNominalValues()
{
    QFETCH(quint32, controlBefore);
    QFETCH(bool, accept);
    QFETCH(double, typedVoltage);
    QFETCH(double, typedCurrent);
    QFETCH(QStringList, nominalWrites);
    QFETCH(QStringList, controlWrites);
    QFETCH(quint32, controlAfter);
    openWindow();
    MemoryModule::Channel channel = m_module->channel(0);
    channel.voltageNominal = 2999.987f;
    channel.currentNominal = 0.003f;
    m_module->setChannel(0, channel);
    {
        std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
        m_module->state.control = controlBefore;
    }
    selectChannel(0);
    m_module->setConnectionState(BaseModule::ModuleStateInitialised);
    m_module->clearWrites();

    bool answered = false;
    m_dialogs.fill = [&](QDialog* dialog) {
        answered = waitForAnsweredValues(dialog);
        auto* voltage = child<QDoubleSpinBox>(dialog, "userVoltageNominal");
        auto* current = child<QDoubleSpinBox>(dialog, "userCurrentNominal");
        if (voltage->maximum() != 3000.0 || current->maximum() != 0.003)
            return int(QDialog::Rejected);
        if (!std::isnan(typedVoltage))
            voltage->setValue(typedVoltage);
        if (!std::isnan(typedCurrent))
            current->setValue(typedCurrent);
        return int(accept ? QDialog::Accepted : QDialog::Rejected);
    };
    m_window->channelMenuCommands()->nominalValues();
    QVERIFY(answered);
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QStringList written;
    QStringList control;
    for (const QString& write : m_module->writes()) {
        if (write.contains(QStringLiteral("Nominal")))
            written.append(write);
        if (write.startsWith(QStringLiteral("setControl")))
            control.append(write);
    }
    QCOMPARE(written, nominalWrites);
    QCOMPARE(control, controlWrites);
    QCOMPARE(moduleState().control, controlAfter);
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QApplication app(argc, argv);
    ControlWindowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ControlWindowsTest.moc"
