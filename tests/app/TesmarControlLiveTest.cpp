// The main window against the crate simulator, through our SNMP library: discovery, module
// navigation, the refresh, typing into the table, channel commands, prompts, the password,
// the crate's power, a slow, a lossy and a silent crate, and tool windows across a
// rediscovery. What reached the crate is read back through a separate controller and module,
// as another program would see it.
#include "app/ChannelTable.h"
#include "app/CrateCommands.h"
#include "app/DialogJournal.h"
#include "app/DialogTrends.h"
#include "app/TesmarControl.h"
#include "dialogs/common/ToolWindow.h"
#include "dialogs/common/UserDialogs.h"

#include "controller/SnmpController.h"
#include "device/ControllerLock.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpModule.h"
#include "device/StatusWordBits.h"
#include "device/SteadyClock.h"
#include "device/TrendRecorder.h"
#include "device/WriteJournal.h"
#include "dialogs/DialogChannelControl.h"
#include "dialogs/DialogOverview.h"

#include "common/JournalLines.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtCharts/QChart>
#include <QtCharts/QScatterSeries>
#include <QtTest>

#include <functional>
#include <memory>
#include <utility>

namespace {

// Another view of the crate: a controller and module of its own, as a second program has.
class CrateProbe
{
public:
    CrateProbe(const QString& address, int slot)
    {
        m_controller.open(address);
        m_module = std::make_unique<SnmpModule>(&m_controller, slot);
    }
    QVector<float> voltagesSet()
    {
        QVector<float> values;
        for (int channel = 0; channel < m_module->channelNumber(); ++channel)
            values.append(m_module->channelVoltageSet(channel));
        return values;
    }
    QVector<bool> switchedOn()
    {
        QVector<bool> values;
        for (int channel = 0; channel < m_module->channelNumber(); ++channel)
            values.append(m_module->channelControl(channel) & 0x0008);
        return values;
    }
    // Reading channel 0 refreshes the module's block of status words.
    quint32 channelStatus(int channel)
    {
        m_module->channelStatus(0);
        return m_module->channelStatus(channel);
    }
    SnmpModule* module() { return m_module.get(); }

private:
    SnmpController m_controller;
    std::unique_ptr<SnmpModule> m_module;
};

// A tool window as the real ones are built: follows the current module, needs what it is given.
class TestToolWindow : public ToolWindow
{
public:
    using ToolWindow::ToolWindow;
    QList<BaseModule*> followed; // every module change, null included

protected:
    void moduleChanged(BaseModule* module) override
    {
        followed.append(module);
        if (module)
            module->channelNumber(); // uses it at once, as a window filling its fields would
    }
};

} // namespace

class TesmarControlLiveTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void discoveryListsSlotsInOrder();
    void navigationWrapsAround();
    void selectingCurrentModuleEmitsNothing();
    void refreshShowsChannelsAndModuleValues();
    void typedSetVoltageReachesCrate_data();
    void typedSetVoltageReachesCrate();
    void journalWindowFiltersByChannelAndResult();
    void editedCellIsLeftAloneByRefresh();
    void setChannelOnSwitchesSelectedChannels();
    void channelsAbove31AreNotFolded();
    void promptAnsweredAfterRediscoveryWritesNothing();
    void emptySelectionActsOnCurrentRow();
    void channelVoltagePromptWritesSelectedRows();
    void incrementalVoltagesAlternate();
    void bipolarVoltagePrompt();
    void bipolarPromptsWithSmallerChannel();
    void allModulesPromptNotesSmallerChannels();
    void digitalFilterPrompt();
    void promptPreselection_data();
    void promptPreselection();
    void passwordEnablesServiceModes_data();
    void passwordEnablesServiceModes();
    void flexGroupOutOfRangeDoesNothing();
    void channelBoundsGiveUpWhenControlWordDoesNotReadBack();
    void overviewRatesModules();
    void channelContextMenu();
    void cratePowerOffAndOn();
    void crateOffWhileSilentKeepsModules();
    void connectionSettingsAndCommunityMessages();
    void silentCrateBlanksTableAndRecovers();
    void slowCrateShowsRampThenVoltage();
    void commandsOnSlowCrateLeaveGuiThreadFree();
    void switchedChannelsShowPendingUntilResult();
    void startUpOnSlowCrateKeepsWindowResponsive();
    void reconnectsByItselfWhenCrateAnswersAgain();
    void lossyCrateKeepsTablePopulated();
    void toolWindowLetsGoAcrossRediscovery();
    void currentAlarmAndTrends();

private:
    // Starts the simulator with these module entries (JSON array text) and opens the window.
    void startCrate(const QByteArray& modulesJson, const QStringList& simulatorArguments = {});
    void waitConnected(int moduleIndex = 0);
    QAction* action(const char* name) const;
    ChannelTable* table() const;
    QListWidget* moduleList() const;
    QString connectLabel() const;
    QString labelText(const char* name) const;
    QString statusMessage() const;
    // The cell's text; empty for a cell without an item.
    QString cellText(int row, int column) const;
    void selectCells(const QList<QPair<int, int>>& cells);

    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<QTemporaryFile> m_config;
    std::unique_ptr<TesmarControl> m_window;
    ScriptedDialogs m_dialogs;
};

void TesmarControlLiveTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // A write to a silent crate costs one short time-out; a crate answering 150 ms late answers
    // within it.
    qputenv("TESMAR_SNMP_TIMEOUT_MS", "500");
    qputenv("TESMAR_SNMP_RETRIES", "0");
}

void TesmarControlLiveTest::cleanup()
{
    m_window.reset();
    UserDialogs::setStartupOverride(nullptr);
    m_dialogs.answers.clear();
    m_dialogs.fileNames.clear();
    m_dialogs.asked.clear();
    m_dialogs.whileOpen = nullptr;
    m_dialogs.addressAnswer.clear();
    m_dialogs.dialogAnswers.clear();
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"))
        .remove(QStringLiteral("Snmp"));
    if (m_simulator)
        m_simulator->stop();
    m_simulator.reset();
    m_config.reset();
}

void TesmarControlLiveTest::startCrate(const QByteArray& modulesJson, const QStringList& simulatorArguments)
{
    m_config = std::make_unique<QTemporaryFile>();
    QVERIFY(m_config->open());
    m_config->write("{\"crate\": {\"bootDelayMs\": 0}, \"modules\": " + modulesJson + "}");
    m_config->close();
    m_simulator = std::make_unique<SimulatorProcess>();
    m_simulator->setConfigFile(m_config->fileName());
    m_simulator->setExtraArguments(simulatorArguments);
    QVERIFY2(m_simulator->start(), qPrintable(m_simulator->output()));
    m_simulator->exportLibraryEnvironment();

    QSettings settings(
        QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"));
    settings.setValue(QStringLiteral("IpAddress"), m_simulator->host());
    settings.sync();

    UserDialogs::setStartupOverride(&m_dialogs);
    m_window = std::make_unique<TesmarControl>();
    m_window->setUserDialogs(&m_dialogs);
    m_window->show();
}

void TesmarControlLiveTest::waitConnected(int moduleIndex)
{
    QTRY_VERIFY_WITH_TIMEOUT(moduleList()->count() > moduleIndex, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(connectLabel().startsWith(QStringLiteral("Connected to")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(table()->item(0, ChannelTable::ColumnStatus) != nullptr, 5000);
}

QAction* TesmarControlLiveTest::action(const char* name) const
{
    auto* found = m_window->findChild<QAction*>(QLatin1String(name));
    if (!found)
        qFatal("no action %s", name);
    return found;
}

ChannelTable* TesmarControlLiveTest::table() const
{
    return m_window->findChild<ChannelTable*>(QStringLiteral("table"));
}

QListWidget* TesmarControlLiveTest::moduleList() const
{
    return m_window->findChild<QListWidget*>(QStringLiteral("lstModules"));
}

QString TesmarControlLiveTest::connectLabel() const
{
    return m_window->findChild<QLabel*>(QStringLiteral("lblConnect"))->text();
}

QString TesmarControlLiveTest::labelText(const char* name) const
{
    return m_window->findChild<QLabel*>(QLatin1String(name))->text();
}

QString TesmarControlLiveTest::statusMessage() const
{
    return m_window->statusBar()->currentMessage();
}

QString TesmarControlLiveTest::cellText(int row, int column) const
{
    const QTableWidgetItem* cell = table()->item(row, column);
    return cell ? cell->text() : QString();
}

void TesmarControlLiveTest::selectCells(const QList<QPair<int, int>>& cells)
{
    table()->clearSelection();
    for (const auto& cell : cells)
        table()->setCurrentCell(cell.first, cell.second, QItemSelectionModel::Select);
}

void TesmarControlLiveTest::discoveryListsSlotsInOrder()
{
    // Slot 7 reports serial number 0: it is listed by its firmware name.
    startCrate(R"([{"slot": 7, "type": "THC3210p", "serialNumber": 0},
                   {"slot": 2, "type": "THE1640p", "serialNumber": 4711202}])");
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->count(), 2, 5000);
    QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("connectedModules"))->text(), QStringLiteral("2 Modules found."));
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->item(0)->text(), QStringLiteral("Slot 2\n4711202"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->item(1)->text(), QStringLiteral("Slot 7\nTHC3210p"), 5000);
    waitConnected();
    QCOMPARE(connectLabel(), QStringLiteral("Connected to THE1640p sn. 4711202 at Slot 2"));
    QCOMPARE(table()->rowCount(), 16);
    QCOMPARE(table()->horizontalHeaderItem(0)->text(), QStringLiteral("Vset (V)"));
    QCOMPARE(table()->item(3, ChannelTable::ColumnVoltageNominal)->text(), QStringLiteral("4,000.00"));

    // Switching to the other module sets the table up for it.
    moduleList()->setCurrentRow(1);
    QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 32, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(connectLabel(), QStringLiteral("Connected to THC3210p at Slot 7"), 3000);
}

void TesmarControlLiveTest::navigationWrapsAround()
{
    startCrate(R"([{"slot": 1, "type": "THE1640p"}, {"slot": 4, "type": "THX0830b"}, {"slot": 9, "type": "THC3210p"}])");
    waitConnected();
    QCOMPARE(moduleList()->currentRow(), 0);
    action("actionPreviousModule")->trigger();
    QCOMPARE(moduleList()->currentRow(), 2);
    QCOMPARE(m_window->currentModule()->address(), QStringLiteral("Slot 9"));
    action("actionNextModule")->trigger();
    QCOMPARE(moduleList()->currentRow(), 0);
    action("actionNextModule")->trigger();
    QCOMPARE(moduleList()->currentRow(), 1);

    m_dialogs.answers = {2};
    action("actionSelectModule")->trigger();
    QCOMPARE(m_dialogs.prompts().last().text, QStringLiteral("Select Module (0...2):"));
    QCOMPARE(m_dialogs.prompts().last().value, 1.0);
    QCOMPARE(m_dialogs.prompts().last().maxValue, 2.0);
    QCOMPARE(moduleList()->currentRow(), 2);
}

void TesmarControlLiveTest::selectingCurrentModuleEmitsNothing()
{
    startCrate(
        R"([{"slot": 0, "type": "THE1640p", "serialNumber": 11}, {"slot": 5, "type": "THX0830b", "serialNumber": 55}])");
    waitConnected();
    QSignalSpy moduleChanged(m_window->deviceSession(), &DeviceSession::currentModuleChanged);
    action("actionChannelStatusControl")->trigger();
    auto* channelWindow = m_window->findChild<DialogChannelControl*>();
    QVERIFY(channelWindow);
    QCOMPARE(channelWindow->windowTitle(), QStringLiteral("11: Channel 0 Status / Control"));
    m_dialogs.answers = {0};
    action("actionSelectModule")->trigger();
    moduleList()->setCurrentRow(0);
    QCOMPARE(moduleChanged.count(), 0);

    // The channel window follows the operator's channel and module.
    table()->setCurrentCell(3, 0);
    QCOMPARE(channelWindow->windowTitle(), QStringLiteral("11: Channel 3 Status / Control"));
    moduleList()->setCurrentRow(1);
    QCOMPARE(moduleChanged.count(), 1);
    QCOMPARE(moduleChanged.at(0).at(0).toInt(), 1);
    // The chosen channel number goes with the module.
    QCOMPARE(labelText("lblChannel"), QStringLiteral("Channel 3 selected"));
    QCOMPARE(channelWindow->windowTitle(), QStringLiteral("55: Channel 3 Status / Control"));
}

void TesmarControlLiveTest::refreshShowsChannelsAndModuleValues()
{
    startCrate(R"([{"slot": 3, "type": "THX0830b", "serialNumber": 333}])");
    waitConnected();
    auto* moduleStatus = m_window->findChild<QLabel*>(QStringLiteral("lblModuleStatus"));
    QVERIFY(moduleStatus);
    // Module-level values come on every 11th tick.
    QTRY_VERIFY_WITH_TIMEOUT(!moduleStatus->text().isEmpty() && moduleStatus->text() != QLatin1String("---"), 5000);
    QCOMPARE(table()->rowCount(), 8);
    for (int row = 0; row < 8; ++row)
        QTRY_VERIFY(!table()->item(row, ChannelTable::ColumnVoltageMeasure)->text().isEmpty());
}

void TesmarControlLiveTest::typedSetVoltageReachesCrate_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<float>("expected");
    QTest::addColumn<QString>("message");
    // The journal line's channel, quantity, value, source and result: a refusal is journaled too.
    QTest::addColumn<QString>("journaled");
    QTest::newRow("number") << "1234.5" << 1234.5f << QString() << "2\tvoltage set\t1234.5 V\ttable\tok";
    QTest::newRow("nominal") << "4000" << 4000.0f << QString() << "2\tvoltage set\t4000 V\ttable\tok";
    QTest::newRow("not a number") << "12a" << 0.0f << "Channel 2: set voltage \"12a\" refused (not a number)"
                                  << "2\tset voltage \"12a\"\t\ttable\trefused: not a number";
    QTest::newRow("nan") << "nan" << 0.0f << "Channel 2: set voltage \"nan\" refused (not a number)"
                         << "2\tset voltage \"nan\"\t\ttable\trefused: not a number";
    QTest::newRow("empty") << "" << 0.0f << "Channel 2: set voltage \"\" refused (not a number)"
                           << "2\tset voltage \"\"\t\ttable\trefused: not a number";
    QTest::newRow("above nominal") << "99999" << 0.0f << "Channel 2: set voltage 99999 V refused (outside 0 to 4000 V)"
                                   << "2\tset voltage 99999 V\t\ttable\trefused: outside 0 to 4000 V";
    QTest::newRow("just above nominal") << "4000.5" << 0.0f
                                        << "Channel 2: set voltage 4000.5 V refused (outside 0 to 4000 V)"
                                        << "2\tset voltage 4000.5 V\t\ttable\trefused: outside 0 to 4000 V";
    QTest::newRow("negative") << "-5" << 0.0f << "Channel 2: set voltage -5 V refused (outside 0 to 4000 V)"
                              << "2\tset voltage -5 V\t\ttable\trefused: outside 0 to 4000 V";
}

void TesmarControlLiveTest::typedSetVoltageReachesCrate()
{
    QFETCH(QString, typed);
    QFETCH(float, expected);
    QFETCH(QString, message);
    startCrate(R"([{"slot": 6, "type": "THE1640p"}])");
    waitConnected();
    const qint64 journalBytes = QFileInfo(WriteJournal::instance().filePath()).size();

    table()->setCurrentCell(2, ChannelTable::ColumnVoltageSet);
    table()->setFocus();
    QTest::keyClick(table(), Qt::Key_F2);
    auto* editor = table()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(typed);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!table()->isEditing());
    QTRY_COMPARE(statusMessage(), message);

    CrateProbe probe(m_simulator->address(), 6);
    QTRY_COMPARE_WITH_TIMEOUT(probe.voltagesSet().at(2), expected, 3000);
    QTest::qWait(300); // let a wrongly addressed write land before checking the neighbours
    const QVector<float> all = probe.voltagesSet();
    for (int channel = 0; channel < all.size(); ++channel) {
        if (channel != 2)
            QCOMPARE(all.at(channel), 0.0f);
    }
    // The table shows the crate's value again.
    QTRY_COMPARE_WITH_TIMEOUT(table()->item(2, 0)->text(), QLocale().toString(expected, 'f', 2), 3000);

    QFETCH(QString, journaled);
    QFile journal(WriteJournal::instance().filePath());
    QVERIFY(journal.open(QIODevice::ReadOnly) || journaled.isEmpty());
    journal.seek(journalBytes);
    const QStringList lines =
        JournalLines::writes(QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    QCOMPARE(lines.size(), journaled.isEmpty() ? 0 : 1);
    if (!lines.isEmpty())
        QVERIFY2(
            lines.first().endsWith(
                QStringLiteral("\t%1\t6\t4711007\t").arg(JournalWrite::snmpCrateAddress(m_simulator->host())) + journaled),
            qPrintable(lines.first()));
}

void TesmarControlLiveTest::journalWindowFiltersByChannelAndResult()
{
    for (int index = 0; index < WriteJournal::keptFiles; ++index)
        QFile::remove(WriteJournal::instance().rotatedPath(index));
    startCrate(R"([{"slot": 3, "type": "THE1640p", "channels": 8}])");
    waitConnected();
    selectCells({{1, 0}, {5, 0}});
    action("actionSetChannelOn")->trigger();
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    CrateProbe probe(m_simulator->address(), 3);
    QVERIFY(!probe.module()->setChannelVoltageSet(5, 99999.0f));

    QCOMPARE(action("actionJournal")->shortcut(), QKeySequence(QStringLiteral("Ctrl+J")));
    action("actionJournal")->trigger();
    auto* journal = m_window->findChild<DialogJournal*>();
    QVERIFY(journal && journal->isVisible());
    auto* rows = journal->findChild<QTableWidget*>(QStringLiteral("journalTable"));
    auto* channel = journal->findChild<QComboBox*>(QStringLiteral("channelFilter"));
    auto* result = journal->findChild<QComboBox*>(QStringLiteral("resultFilter"));
    const auto shown = [rows](int column) {
        QStringList cells;
        for (int row = 0; row < rows->rowCount(); ++row)
            cells.append(rows->item(row, column)->text());
        return cells;
    };
    // Newest first; the channel filter offers the channels written.
    QTRY_COMPARE_WITH_TIMEOUT(shown(4), (QStringList{"5", "5", "1"}), 3000);
    QCOMPARE(shown(7), (QStringList{"window", "command", "command"}));
    QCOMPARE(channel->count(), 3);
    channel->setCurrentText(QStringLiteral("5"));
    QCOMPARE(shown(6), (QStringList{"99999 V", "on"}));
    result->setCurrentIndex(2); // refused
    QCOMPARE(shown(11), QStringList{"wrongValue"});
    result->setCurrentIndex(1); // ok
    channel->setCurrentIndex(0);
    QCOMPARE(shown(4), (QStringList{"5", "1"}));

    // A write while the window is open shows up, the filters kept.
    action("actionSetChannelOff")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(shown(6), (QStringList{"off", "off", "on", "on"}), 3000);

    // A write whose program ended before its result: the intent shows.
    result->setCurrentIndex(0);
    JournalWrite inFlight;
    inFlight.crateAddress = JournalWrite::snmpCrateAddress(m_simulator->host());
    inFlight.slot = QStringLiteral("3");
    inFlight.channel = QStringLiteral("2");
    inFlight.quantity = QStringLiteral("switch");
    inFlight.value = QStringLiteral("on");
    QVERIFY(WriteJournal::instance().sent(&inFlight));
    QTRY_COMPARE_WITH_TIMEOUT(shown(11).value(0), DialogJournal::noResultText(), 3000);
    QCOMPARE(shown(4).value(0), QStringLiteral("2"));
    QCOMPARE(shown(11).mid(1, 2), (QStringList{"ok", "ok"}));

    // A journal that cannot be written: a red banner in both windows until a line is written
    // again, which comes after the gap line.
    auto* banner = m_window->findChild<QLabel*>(QStringLiteral("journalFailureBanner"));
    auto* journalBanner = journal->findChild<QLabel*>(QStringLiteral("journalFailureBanner"));
    QVERIFY(banner && journalBanner && !banner->isVisible() && !journalBanner->isVisible());
    const QString path = WriteJournal::instance().filePath();
    QFile::remove(path + QStringLiteral(".aside")); // left by an earlier run that stopped midway
    QVERIFY(QFile::rename(path, path + QStringLiteral(".aside")));
    QVERIFY(QDir().mkdir(path));
    action("actionSetChannelOn")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible() && journalBanner->isVisible(), 3000);
    QVERIFY2(banner->text().contains(path), qPrintable(banner->text()));
    QTRY_VERIFY_WITH_TIMEOUT(probe.switchedOn().value(1), 3000); // control goes on
    // The switch's result line is tried after the crate took it: the folder stays until then.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->commandsInFlight(), 0, 3000);
    QVERIFY(QDir().rmdir(path));
    QVERIFY(QFile::rename(path + QStringLiteral(".aside"), path));
    action("actionSetChannelOff")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!banner->isVisible() && !journalBanner->isVisible(), 3000);
    result->setCurrentIndex(2);
    channel->setCurrentIndex(0);
    QTRY_VERIFY_WITH_TIMEOUT(shown(5).contains(QStringLiteral("journal gap")), 3000);
    const int gapRow = int(shown(5).indexOf(QStringLiteral("journal gap")));
    QVERIFY2(shown(6).at(gapRow).startsWith(QStringLiteral("4 lines (2 writes) not recorded from ")),
        qPrintable(shown(6).at(gapRow)));
}

void TesmarControlLiveTest::editedCellIsLeftAloneByRefresh()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    waitConnected();
    table()->setCurrentCell(1, ChannelTable::ColumnVoltageSet);
    table()->setFocus();
    QTest::keyClick(table(), Qt::Key_F2);
    auto* editor = table()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("7"));

    CrateProbe probe(m_simulator->address(), 0);
    probe.module()->setChannelVoltageSet(1, 100.0f);
    probe.module()->setChannelVoltageSet(4, 250.0f);
    QTRY_COMPARE_WITH_TIMEOUT(table()->item(4, 0)->text(), QStringLiteral("250.00"), 3000);
    QCOMPARE(table()->item(1, 0)->text(), QStringLiteral("0.00"));
    QCOMPARE(editor->text(), QStringLiteral("7"));
    QVERIFY(table()->isEditing());

    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(table()->item(1, 0)->text(), QStringLiteral("100.00"), 3000);
}

void TesmarControlLiveTest::setChannelOnSwitchesSelectedChannels()
{
    startCrate(R"([{"slot": 4, "type": "THX0830b"}])");
    waitConnected();
    selectCells({{0, 0}, {3, 0}});
    QCOMPARE(table()->selectedRows().size(), 2);
    action("actionSetChannelOn")->trigger();
    CrateProbe probe(m_simulator->address(), 4);
    const QVector<bool> expected{true, false, false, true, false, false, false, false};
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn(), expected, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(
        table()->item(3, ChannelTable::ColumnStatus)->text(), QStringLiteral("Constant Voltage"), 3000);

    selectCells({{3, 2}});
    action("actionSetChannelOff")->trigger();
    const QVector<bool> afterOff{true, false, false, false, false, false, false, false};
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn(), afterOff, 3000);
}

void TesmarControlLiveTest::channelsAbove31AreNotFolded()
{
    startCrate(R"([{"slot": 1, "type": "THM4805p", "channels": 48}])");
    waitConnected();
    QCOMPARE(table()->rowCount(), 48);
    CrateProbe probe(m_simulator->address(), 1);
    selectCells({{3, 0}, {35, 0}});
    action("actionSetChannelOn")->trigger();
    QVector<bool> expected(48, false);
    expected[3] = expected[35] = true;
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn(), expected, 3000);

    action("actionSetAllChannelsOn")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn(), QVector<bool>(48, true), 3000);
    action("actionSetAllChannelsOff")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn(), QVector<bool>(48, false), 3000);
    action("actionSetAllModulesOn")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn(), QVector<bool>(48, true), 3000);
    // Closing with "ramp down" switches every channel off.
    m_dialogs.answers.clear();
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"))
        .setValue(QStringLiteral("CloseBehavior"), 1);
    m_window->close();
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"))
        .remove(QStringLiteral("CloseBehavior"));
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn(), QVector<bool>(48, false), 3000);
}

// A rediscovery while a prompt is open deletes the module the prompt was for; the answer then
// goes nowhere.
void TesmarControlLiveTest::promptAnsweredAfterRediscoveryWritesNothing()
{
    startCrate(R"([{"slot": 2, "type": "THE1640p"}])");
    waitConnected();
    table()->setCurrentCell(1, 0);
    for (const char* name : {"actionSetChannelVoltage", "actionSetChannelCurrent", "actionSetAllVoltages",
             "actionSetAllCurrents", "actionSetAllModulesVoltage", "actionSetAllModulesCurrent"}) {
        m_dialogs.whileOpen = [this] { m_window->initModuleAccess(); };
        m_dialogs.answers = {1.0};
        action(name)->trigger();
        QVERIFY2(!m_dialogs.whileOpen, name);
        waitConnected();
        table()->setCurrentCell(1, 0);
    }
    CrateProbe probe(m_simulator->address(), 2);
    QCOMPARE(probe.voltagesSet(), QVector<float>(16, 0.0f));
    for (int channel = 0; channel < 16; ++channel)
        QVERIFY(probe.module()->channelCurrentSet(channel) != 1.0f);
}

void TesmarControlLiveTest::emptySelectionActsOnCurrentRow()
{
    startCrate(R"([{"slot": 4, "type": "THX0830b"}])");
    waitConnected();
    table()->setCurrentCell(5, 1);
    table()->clearSelection();
    QVERIFY(table()->selectedRows().isEmpty());
    action("actionSetChannelOn")->trigger();
    CrateProbe probe(m_simulator->address(), 4);
    QTRY_VERIFY_WITH_TIMEOUT(probe.switchedOn().at(5), 3000);
    QCOMPARE(probe.switchedOn().count(true), 1);
}

void TesmarControlLiveTest::channelVoltagePromptWritesSelectedRows()
{
    startCrate(R"([{"slot": 2, "type": "THE1640p"}])");
    waitConnected();
    selectCells({{1, 0}, {6, 3}});
    m_dialogs.answers = {QVariant()}; // Cancel first: nothing is written
    action("actionSetChannelVoltage")->trigger();
    m_dialogs.answers = {1500.0};
    action("actionSetChannelVoltage")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 2);
    const ScriptedDialogs::Asked prompt = m_dialogs.prompts().last();
    QCOMPARE(prompt.text, QStringLiteral("Input a voltage (0...4,000 V) for the selected channels:"));
    QCOMPARE(prompt.minValue, 0.0);
    QCOMPARE(prompt.maxValue, 4000.0);
    QCOMPARE(prompt.decimals, 2);

    CrateProbe probe(m_simulator->address(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(probe.voltagesSet().at(6), 1500.0f, 3000);
    const QVector<float> all = probe.voltagesSet();
    for (int channel = 0; channel < all.size(); ++channel)
        QCOMPARE(all.at(channel), (channel == 1 || channel == 6) ? 1500.0f : 0.0f);
}

void TesmarControlLiveTest::incrementalVoltagesAlternate()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p", "channels": 8, "nominalVoltage": 4000}])");
    waitConnected();
    CrateProbe probe(m_simulator->address(), 0);

    action("actionSetAllChannelsVoltageIncremental")->trigger();
    const QVector<float> descending{4000, 3900, 3800, 3700, 3600, 3500, 3400, 3300};
    QTRY_COMPARE_WITH_TIMEOUT(probe.voltagesSet(), descending, 3000);

    action("actionSetAllChannelsVoltageIncremental")->trigger();
    const QVector<float> ascending{3300, 3400, 3500, 3600, 3700, 3800, 3900, 4000};
    QTRY_COMPARE_WITH_TIMEOUT(probe.voltagesSet(), ascending, 3000);
}

void TesmarControlLiveTest::bipolarVoltagePrompt()
{
    startCrate(R"([{"slot": 3, "type": "THX0830b"}])");
    waitConnected();
    table()->setCurrentCell(2, 0);
    m_dialogs.answers = {-1250.0};
    action("actionSetChannelVoltage")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 1);
    const ScriptedDialogs::Asked prompt = m_dialogs.prompts().first();
    QCOMPARE(prompt.minValue, -3000.0);
    QCOMPARE(prompt.maxValue, 3000.0);
    QCOMPARE(prompt.text,
        QStringLiteral("Input a voltage (-3,000...3,000 V) for channel 2:\n\n"
                       "Note: the maximum delta for bipolar modules is 3000 V."));
    CrateProbe probe(m_simulator->address(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(probe.voltagesSet().at(2), -1250.0f, 3000);

    m_dialogs.answers = {QVariant()};
    action("actionSetAllVoltages")->trigger();
    QCOMPARE(m_dialogs.prompts().last().minValue, -3000.0);
    QCOMPARE(m_dialogs.prompts().last().text,
        QStringLiteral("Input a Set voltage (-3,000...3,000 V) for all channels:\n\n"
                       "Note: the maximum delta for bipolar modules is 3000 V."));
}

void TesmarControlLiveTest::bipolarPromptsWithSmallerChannel()
{
    // Channel 5 of the bipolar module is rated 2000 V, the others 3000 V: prompts for several
    // channels offer the module's full range and say that some channels allow less.
    startCrate(R"([{"slot": 3, "type": "THX0830b",
                    "channelNominalVoltages": [3000, 3000, 3000, 3000, 3000, 2000, 3000, 3000]}])");
    waitConnected();
    CrateProbe probe(m_simulator->address(), 3);
    const QString notes = QStringLiteral("\n\nNote: some channels will only allow 2,000 V."
                                         "\n\nNote: the maximum delta for bipolar modules is 3000 V.");

    selectCells({{1, 0}, {4, 0}});
    m_dialogs.answers = {-1500.0};
    action("actionSetChannelVoltage")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 1);
    QCOMPARE(m_dialogs.prompts().last().minValue, -3000.0);
    QCOMPARE(m_dialogs.prompts().last().maxValue, 3000.0);
    QCOMPARE(
        m_dialogs.prompts().last().text, QStringLiteral("Input a voltage (0...3,000 V) for the selected channels:") + notes);
    QTRY_COMPARE_WITH_TIMEOUT(probe.voltagesSet(), (QVector<float>{0, -1500, 0, 0, -1500, 0, 0, 0}), 3000);

    m_dialogs.answers = {-1000.0};
    action("actionSetAllVoltages")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 2);
    QCOMPARE(m_dialogs.prompts().last().minValue, -3000.0);
    QCOMPARE(m_dialogs.prompts().last().maxValue, 3000.0);
    QCOMPARE(
        m_dialogs.prompts().last().text, QStringLiteral("Input a Set voltage (-3,000...3,000 V) for all channels:") + notes);
    QTRY_COMPARE_WITH_TIMEOUT(probe.voltagesSet(), QVector<float>(8, -1000.0f), 3000);

    // The smaller channel alone is offered its own range.
    table()->clearSelection();
    table()->setCurrentCell(5, 0);
    m_dialogs.answers = {QVariant()};
    action("actionSetChannelVoltage")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 3);
    QCOMPARE(m_dialogs.prompts().last().minValue, -2000.0);
    QCOMPARE(m_dialogs.prompts().last().maxValue, 2000.0);
    QCOMPARE(m_dialogs.prompts().last().text,
        QStringLiteral("Input a voltage (-2,000...2,000 V) for channel 5:\n\n"
                       "Note: the maximum delta for bipolar modules is 3000 V."));
}

void TesmarControlLiveTest::allModulesPromptNotesSmallerChannels()
{
    // Two modules of different nominal voltage make the "some channels" note appear.
    startCrate(R"([{"slot": 0, "type": "THE1640p"}, {"slot": 1, "type": "THX0830b"}])");
    waitConnected();
    m_dialogs.answers = {2000.0};
    action("actionSetAllModulesVoltage")->trigger();
    // The module the poller does not read gives its nominal values from a read on the device
    // side first.
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.prompts().size(), 1, 3000);
    QCOMPARE(m_dialogs.prompts().first().text,
        QStringLiteral("Input a Set voltage (0...4,000 V) for all channels in all modules:\n\n"
                       "Note: some channels will only allow 3,000 V."));
    QCOMPARE(m_dialogs.prompts().first().maxValue, 4000.0);
    CrateProbe first(m_simulator->address(), 0);
    CrateProbe second(m_simulator->address(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(first.voltagesSet().last(), 2000.0f, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(second.voltagesSet().first(), 2000.0f, 3000);
}

void TesmarControlLiveTest::digitalFilterPrompt()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    waitConnected();
    // An MPOD module does not report either setting: the prompts open (after the read on the
    // device side) with nothing preselected, saying so; the empty choice sends nothing.
    m_dialogs.answers = {QVariant(), QString()};
    action("actionDigitalFilter")->trigger();
    action("actionAdcSampleRate")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.prompts().size(), 2, 3000);
    const QString notRead = QStringLiteral("\n\nThe current setting could not be read (not offered by this module).");
    QCOMPARE(m_dialogs.prompts().at(0).text, QStringLiteral("Choose Digital Filter averaging steps:") + notRead);
    QCOMPARE(m_dialogs.prompts().at(0).items, (QStringList{"", "1", "16", "64", "256", "1024"}));
    QCOMPARE(m_dialogs.prompts().at(0).current, 0);
    QCOMPARE(m_dialogs.prompts().at(1).text, QStringLiteral("Choose ADC Sample Rate (samples per second):") + notRead);
    QCOMPARE(m_dialogs.prompts().at(1).items, (QStringList{"", "50", "60", "100", "500"}));
    QCOMPARE(m_window->commandsInFlight(), 0);
}

void TesmarControlLiveTest::promptPreselection_data()
{
    QTest::addColumn<bool>("filter");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("index");
    QTest::newRow("filter 1") << true << 1u << 0;
    QTest::newRow("filter 16") << true << 16u << 1;
    QTest::newRow("filter 32 falls to 64") << true << 32u << 2;
    QTest::newRow("filter 256") << true << 256u << 3;
    QTest::newRow("filter 1024") << true << 1024u << 4;
    QTest::newRow("filter 0") << true << 0u << 2;
    QTest::newRow("rate 50") << false << 50u << 0;
    QTest::newRow("rate 60") << false << 60u << 1;
    QTest::newRow("rate 100") << false << 100u << 2;
    QTest::newRow("rate 1000 falls to 500") << false << 1000u << 3;
}

void TesmarControlLiveTest::promptPreselection()
{
    QFETCH(bool, filter);
    QFETCH(quint32, value);
    QFETCH(int, index);
    QCOMPARE(filter ? TesmarControl::digitalFilterChoice(value) : TesmarControl::adcSampleRateChoice(value), index);
}

void TesmarControlLiveTest::passwordEnablesServiceModes_data()
{
    QTest::addColumn<QVariant>("password");
    QTest::addColumn<QStringList>("enabled");
    const QStringList fine{"actionSetFineAdjustmentOn", "actionSetFineAdjustmentOff", "actionSetAllModulesFineAdjustmentOn",
        "actionSetAllModulesFineAdjustmentOff"};
    QTest::newRow("expert") << QVariant("mosk") << fine;
    QTest::newRow("configuration") << QVariant("tundra") << QStringList{"actionSetCrateAddress"};
    QTest::newRow("firmware") << QVariant("pix7cloud") << QStringList{"actionSpecialMode"};
    QTest::newRow("case matters") << QVariant("Mosk") << QStringList{};
    QTest::newRow("blank around") << QVariant(" tundra") << QStringList{};
    QTest::newRow("cancel") << QVariant() << QStringList{};
}

void TesmarControlLiveTest::passwordEnablesServiceModes()
{
    QFETCH(QVariant, password);
    QFETCH(QStringList, enabled);
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    waitConnected();
    const QStringList guarded{"actionSetFineAdjustmentOn", "actionSetFineAdjustmentOff",
        "actionSetAllModulesFineAdjustmentOn", "actionSetAllModulesFineAdjustmentOff", "actionSetCrateAddress",
        "actionSpecialMode"};
    QHash<QString, bool> visibleBefore;
    for (const QString& name : guarded)
        visibleBefore.insert(name, action(qPrintable(name))->isVisible());

    m_dialogs.answers = {password};
    action("actionPassword")->trigger();
    QCOMPARE(m_dialogs.prompts().first().text, QStringLiteral("Please enter password:"));
    QCOMPARE(m_dialogs.prompts().first().echo, QLineEdit::Password);

    for (const QString& name : guarded) {
        QAction* guardedAction = action(qPrintable(name));
        QCOMPARE(guardedAction->isVisible(), visibleBefore.value(name)); // visibility is not touched
        // A hidden action always reports itself disabled; show it for a moment to read its state.
        guardedAction->setVisible(true);
        QVERIFY2(guardedAction->isEnabled() == enabled.contains(name), qPrintable(name));
        guardedAction->setVisible(visibleBefore.value(name));
    }
}

void TesmarControlLiveTest::flexGroupOutOfRangeDoesNothing()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p", "serialNumber": 17}])");
    waitConnected();
    m_window->setFlexGroup(32, 0xFF, 1); // must neither crash nor reach the module
    m_window->setFlexGroup(-1, 0xFF, 1);
}

void TesmarControlLiveTest::channelBoundsGiveUpWhenControlWordDoesNotReadBack()
{
    // The crate has no asymmetric-bounds bits in its channel control: the word never reads
    // back, so the window gives up with its message (and the refresh goes on meanwhile).
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    waitConnected();
    const qint64 startedAtMs = ModuleSnapshot::nowMs();
    m_window->setChannelBounds(1, true, 100.0f, -100.0f, false, 1.0f, 0.0f);
    QTRY_COMPARE(m_dialogs.messages(), QStringList{QStringLiteral("Error setting Channel 1 Control word. Giving up.")});
    QVERIFY(m_window->deviceSession()->poller()->moduleSnapshot(0)->channelsReadAtMs > startedAtMs);

    // Without asymmetric bounds the word (all zero for an idle channel) reads back at once.
    m_dialogs.asked.clear();
    m_window->setChannelBounds(1, false, 100.0f, -100.0f, false, 1.0f, 0.0f);
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QVERIFY(m_dialogs.messages().isEmpty());
}

void TesmarControlLiveTest::overviewRatesModules()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p", "serialNumber": 100},
                   {"slot": 1, "type": "THX0830b", "serialNumber": 101},
                   {"slot": 2, "type": "THC3210p", "serialNumber": 102}])");
    waitConnected();
    CrateProbe ramping(m_simulator->address(), 0);
    ramping.module()->setChannelVoltageSet(2, 3000.0f);
    ramping.module()->setChannelOn(2);
    QVERIFY(m_simulator->command(QStringLiteral("inhibit 1 4 on")));
    CrateProbe inhibited(m_simulator->address(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(inhibited.channelStatus(4) & 0x1000, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(ramping.channelStatus(2) & 0x0010, 3000);

    // Every module is read only while the overview is open; it rates each over all its channels.
    m_window->on_actionModuleOverview_triggered();
    auto* overview = m_window->findChild<DialogOverview*>();
    QVERIFY(overview);
    QVERIFY(m_window->deviceSession()->needs() & Poller::AllModulesChannels);
    auto* states = overview->findChild<QTableWidget*>(QStringLiteral("table"));
    const auto rendered = [&] {
        QStringList texts;
        for (int column = 0; column < states->columnCount(); ++column) {
            QTableWidgetItem* item = states->item(DialogOverview::runningStateRow, column);
            texts.append(item ? item->text() : QString());
        }
        return texts;
    };
    QTRY_COMPARE_WITH_TIMEOUT(rendered(), (QStringList{"Ramping", "Error", "HV Off"}), 5000);
    QCOMPARE(overview->channelRowCount(), 32);

    // Hidden, it costs the crate nothing.
    overview->hide();
    QVERIFY(!(m_window->deviceSession()->needs() & Poller::AllModulesChannels));
}

void TesmarControlLiveTest::channelContextMenu()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    waitConnected();
    selectCells({{1, 0}, {2, 0}});

    QStringList texts;
    QList<bool> enabled;
    bool titleBold = false;
    QTimer::singleShot(0, this, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* item : menu->actions()) {
            texts.append(item->isSeparator() ? QStringLiteral("--") : item->text());
            enabled.append(item->isEnabled());
        }
        titleBold = menu->actions().first()->font().bold();
        // "Set On": acts on the selected rows.
        menu->actions().at(5)->trigger();
        menu->close();
    });
    QMetaObject::invokeMethod(table(), "customContextMenuRequested", Q_ARG(QPoint, QPoint(5, 5)));
    QTRY_VERIFY(!texts.isEmpty());

    const QStringList expected{"Selected Channels Menu", "--", "Set Voltage...", "Set Current...", "--", "Set On", "Set Off",
        "--", "Set Emergency Off", "Clear Emergency Off", "--", "Clear Events", "Status / Control...", "--",
        "Set Current Alarm..."};
    QCOMPARE(texts, expected);
    QVERIFY(titleBold);
    QVERIFY(!enabled.first());
    QVERIFY(!enabled.at(12)); // Status / Control... is for one channel only
    QVERIFY(enabled.last());
    CrateProbe probe(m_simulator->address(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(probe.switchedOn().count(true), 2, 3000);
    QVERIFY(probe.switchedOn().at(1) && probe.switchedOn().at(2));
}

void TesmarControlLiveTest::cratePowerOffAndOn()
{
    startCrate(R"([{"slot": 2, "type": "THE1640p"}, {"slot": 7, "type": "THX0830b"}])");
    waitConnected();
    m_window->setReconnectDelays(400, 400);

    m_window->crateCommands()->setPowerOn(false);
    // The modules stay until the crate reports its main switch off.
    QCOMPARE(moduleList()->count(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->count(), 0, 5000);
    QVERIFY(!table()->isEnabled());
    QVERIFY(!action("actionSetChannelOn")->isEnabled());
    QVERIFY(m_window->currentModule() == nullptr);
    // Commands without modules do nothing (and do not crash).
    action("actionSetAllChannelsOn")->trigger();
    action("actionNextModule")->trigger();
    m_window->refreshChannelTable();

    m_window->crateCommands()->setPowerOn(true);
    auto* middle = m_window->findChild<QLabel*>(QStringLiteral("statusLabelMiddle"));
    QTRY_VERIFY_WITH_TIMEOUT(middle->text().startsWith(QStringLiteral("<font color=\"yellow\"><b>Waiting ")), 3000);
    QVERIFY(middle->text().endsWith(QStringLiteral(" seconds for Crate to switch on...")));
    QCOMPARE(moduleList()->count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->count(), 2, 5000);
    waitConnected();
    QVERIFY(table()->isEnabled());
    QVERIFY(action("actionSetChannelOn")->isEnabled());
}

void TesmarControlLiveTest::crateOffWhileSilentKeepsModules()
{
    // A switch-off the crate never took must not make its modules vanish from the window while
    // their channels still carry high voltage.
    startCrate(R"([{"slot": 2, "type": "THE1640p"}, {"slot": 7, "type": "THX0830b"}])");
    waitConnected();
    QVERIFY(m_simulator->command(QStringLiteral("silent on")));
    // The switch goes out on the device side: the window shows it pending, never waits for the
    // crate, and shows the refusal in red once the request timed out.
    ControllerLock::watch(QThread::currentThread());
    m_window->crateCommands()->setPowerOn(false);
    QCOMPARE(statusMessage(), QStringLiteral("Crate: switch off: sending..."));
    QCOMPARE(m_window->commandsInFlight(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->commandsInFlight(), 0, 10000);
    const int taken = ControllerLock::takenOnWatchedThread();
    ControllerLock::watch(nullptr);
    QCOMPARE(taken, 0);
    QVERIFY2(statusMessage().startsWith(
                 QStringLiteral("Crate: switch off failed: no answer: check address, port and read community")),
        qPrintable(statusMessage()));
    QCOMPARE(moduleList()->count(), 2);
    QVERIFY(m_simulator->command(QStringLiteral("silent off")));
    waitConnected();
    QCOMPARE(moduleList()->count(), 2);
    QVERIFY(action("actionSetChannelOn")->isEnabled());
    QVERIFY(!labelText("statusLabelController").contains(QStringLiteral("powered off")));
}

void TesmarControlLiveTest::connectionSettingsAndCommunityMessages()
{
    QSettings settings(
        QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"));
    settings.setValue(QStringLiteral("Snmp/ReadCommunity"), QStringLiteral("looker"));
    settings.setValue(QStringLiteral("Snmp/WriteCommunity"), QStringLiteral("wrong"));
    settings.sync();
    // The read community of the file reaches the crate: it answers.
    startCrate(R"([{"slot": 2, "type": "THE1640p"}])", {"--read-community", "looker", "--write-community", "changer"});
    waitConnected();
    table()->setCurrentCell(3, 0);
    action("actionSetChannelOn")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(statusMessage(),
        QStringLiteral("Channel 3: switch on failed: write not answered: check the write community"), 10000);

    // The dialog: port and time-out come from the environment (read-only), retries out of range
    // block OK; the corrected write community applies at the next connect.
    m_dialogs.dialogAnswers << [&](QDialog* dialog) {
        const auto edit = [dialog](const char* name) { return dialog->findChild<QLineEdit*>(QLatin1String(name)); };
        const auto ok = [dialog] { return dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok); };
        [&] {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Connection Settings"));
            QVERIFY(edit("port")->isReadOnly());
            QCOMPARE(edit("port")->text(), QString::number(m_simulator->port()));
            QCOMPARE(edit("readCommunity")->text(), QStringLiteral("looker"));
            QCOMPARE(edit("writeCommunity")->text(), QStringLiteral("wrong"));
            QVERIFY(edit("timeoutMs")->isReadOnly());
            QCOMPARE(edit("timeoutMs")->text(), QStringLiteral("500"));
            QCOMPARE(edit("retries")->text(), QStringLiteral("1"));
            edit("retries")->setText(QStringLiteral("11"));
            QVERIFY(!ok()->isEnabled());
            QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("problem"))->text().contains(QStringLiteral("0 to 10")));
            edit("retries")->setText(QStringLiteral("0"));
            edit("writeCommunity")->setText(QStringLiteral("changer"));
            QVERIFY(ok()->isEnabled());
        }();
        return QTest::currentTestFailed() ? int(QDialog::Rejected) : int(QDialog::Accepted);
    };
    qunsetenv("TESMAR_SNMP_RETRIES");
    action("actionConnectionSettings")->trigger();
    qputenv("TESMAR_SNMP_RETRIES", "0");
    QVERIFY(!QTest::currentTestFailed());
    settings.sync();
    QCOMPARE(settings.value(QStringLiteral("Snmp/WriteCommunity")).toString(), QStringLiteral("changer"));
    QCOMPARE(settings.value(QStringLiteral("Snmp/Retries")).toInt(), 0);
    // What the environment gives is not written to the file.
    QCOMPARE(settings.value(QStringLiteral("Snmp/Port")).toInt(), 161);
    QCOMPARE(settings.value(QStringLiteral("Snmp/TimeoutMs")).toInt(), 200);
    action("actionController")->trigger();
    waitConnected();
    table()->setCurrentCell(3, 0);
    m_window->statusBar()->clearMessage();
    action("actionSetChannelOn")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->commandsInFlight(), 0, 10000);
    QVERIFY2(!statusMessage().contains(QStringLiteral("failed")), qPrintable(statusMessage()));
    {
        qputenv("TESMAR_SNMP_READ_COMMUNITY", "looker");
        CrateProbe probe(m_simulator->address(), 2);
        qunsetenv("TESMAR_SNMP_READ_COMMUNITY");
        QTRY_VERIFY_WITH_TIMEOUT(probe.switchedOn().value(3), 3000);
    }

    // A read community the crate does not know: nothing answers at all.
    settings.setValue(QStringLiteral("Snmp/ReadCommunity"), QStringLiteral("stranger"));
    settings.sync();
    action("actionController")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(labelText("statusLabelController"),
        QStringLiteral("<font color=\"red\">Can not connect to address 127.0.0.1: no answer: check address, port and read "
                       "community; trying again every 5 s."),
        10000);
}

void TesmarControlLiveTest::silentCrateBlanksTableAndRecovers()
{
    startCrate(R"([{"slot": 5, "type": "THE1640p", "serialNumber": 505}, {"slot": 6, "type": "THX0830b"}])");
    waitConnected();
    table()->setCurrentCell(4, 0);
    CrateProbe probe(m_simulator->address(), 5);
    probe.module()->setChannelVoltageSet(0, 321.0f);
    QTRY_COMPARE_WITH_TIMEOUT(table()->item(0, 0)->text(), QStringLiteral("321.00"), 3000);
    // The other module has answered its connection probe too.
    QTRY_VERIFY_WITH_TIMEOUT(moduleList()->item(1)->text() != QStringLiteral("Slot 6\nConnecting..."), 3000);

    QVERIFY(m_simulator->command(QStringLiteral("silent on")));
    QTest::qWait(300); // answers already on their way arrive
    const std::shared_ptr<const ModuleSnapshot> last = m_window->deviceSession()->poller()->moduleSnapshot(0);
    QVERIFY(last);
    // Silent for a moment is not lost: the values age visibly (grey) but stay ... (the clock is
    // moved on rather than waited for)
    SteadyClock::advanceMs(last->lastAnswerAtMs + 1500 - ModuleSnapshot::nowMs());
    QTRY_COMPARE_WITH_TIMEOUT(table()->item(0, 0)->foreground().color(), QColor(Qt::gray), 1000);
    QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("321.00"));
    QVERIFY(table()->isEnabled());
    QVERIFY(!connectLabel().contains(QStringLiteral("red")));
    // ... until nothing was answered for two seconds: then the module is lost.
    SteadyClock::advanceMs(last->lastAnswerAtMs + 2100 - ModuleSnapshot::nowMs());
    QTRY_COMPARE_WITH_TIMEOUT(connectLabel(), QStringLiteral("<font color=\"red\">Can not connect to Module!"), 1000);
    QVERIFY(!table()->isEnabled());
    // No number of the lost module stays on screen.
    for (int row = 0; row < table()->rowCount(); ++row)
        for (int column = 0; column < ChannelTable::ColumnCount; ++column)
            QVERIFY(!table()->item(row, column) || table()->item(row, column)->text().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->item(0)->text(), QStringLiteral("Slot 5\nNot connected"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->item(1)->text(), QStringLiteral("Slot 6\nNot connected"), 5000);
    QTest::qWait(600); // several refresh ticks while silent: the cells stay blank
    QVERIFY(!table()->item(0, 0) || table()->item(0, 0)->text().isEmpty());
    // Nothing read from the module before stays as if it were its state now.
    for (const char* name : {"lblVRampSpeed", "lblIRampSpeed", "lblModuleStatus", "lblModuleEventStatus"})
        QTRY_COMPARE_WITH_TIMEOUT(labelText(name), QStringLiteral("---"), 5000);
    QVERIFY(!labelText("statusLabelController").contains(QStringLiteral("powered off")));
    // The operator's channel survives the blanking; switching on a module that does not answer
    // is refused, switching off is tried and its failure named.
    QCOMPARE(labelText("lblChannel"), QStringLiteral("Channel 4 selected"));
    action("actionSetChannelOn")->trigger();
    QCOMPARE(statusMessage(), QStringLiteral("Switch on: Slot 5 does not answer; nothing was sent."));
    action("actionSetChannelEmergencyOff")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(statusMessage(),
        QStringLiteral("Channel 4: emergency off failed: no answer: check address, port and read community"), 10000);

    // Back at the next complete read (within about a second).
    QVERIFY(m_simulator->command(QStringLiteral("silent off")));
    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->item(0)->text(), QStringLiteral("Slot 5\n505"), 2500);
    QTRY_COMPARE_WITH_TIMEOUT(connectLabel(), QStringLiteral("Connected to THE1640p sn. 505 at Slot 5"), 2500);
    QTRY_COMPARE_WITH_TIMEOUT(table()->item(0, 0) ? table()->item(0, 0)->text() : QString(), QStringLiteral("321.00"), 2500);
    QVERIFY(table()->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(labelText("lblVRampSpeed"), QStringLiteral("5 %/s"), 5000);

    // Another crate address where nothing answers: nothing of this crate stays on screen.
    m_dialogs.addressAnswer = QStringLiteral("127.0.0.2");
    action("actionController")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(labelText("statusLabelController"),
        QStringLiteral("<font color=\"red\">Can not connect to address 127.0.0.2: no answer: check address, port and read "
                       "community; trying again every 5 s."),
        10000);
    QCOMPARE(labelText("lblSerial"), QString());
    QCOMPARE(labelText("lblFirmware"), QString());
    for (const char* name : {"lblVRampSpeed", "lblIRampSpeed", "lblModuleStatus", "lblModuleEventStatus"})
        QCOMPARE(labelText(name), QStringLiteral("---"));
}

void TesmarControlLiveTest::commandsOnSlowCrateLeaveGuiThreadFree()
{
    // Switching every channel on, typing a value and an emergency off of the whole module, over
    // a slow link: the window shows them pending and never takes the device lock itself.
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    waitConnected();
    QVERIFY(m_simulator->command(QStringLiteral("delay 150")));
    const int channels = table()->rowCount();
    QVERIFY(channels > 1);
    ControllerLock::watch(QThread::currentThread());
    action("actionSetAllChannelsOn")->trigger();
    QCOMPARE(statusMessage(), QStringLiteral("Switch on: sending to %1 channels...").arg(channels));
    QCOMPARE(m_window->commandsInFlight(), 1);
    m_window->tableCellDataChanged(2, ChannelTable::ColumnVoltageSet, QStringLiteral("100"));
    QCOMPARE(statusMessage(), QStringLiteral("Set voltage 100 V: sending..."));
    action("actionSetAllChannelsEmergencyOff")->trigger();
    QCOMPARE(m_window->commandsInFlight(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->commandsInFlight(), 0, 20000);
    const int taken = ControllerLock::takenOnWatchedThread();
    ControllerLock::watch(nullptr);
    QCOMPARE(taken, 0);
    QVERIFY2(statusMessage().isEmpty(), qPrintable(statusMessage()));
    QVERIFY(m_simulator->command(QStringLiteral("delay 0")));
    CrateProbe probe(m_simulator->address(), 0);
    QCOMPARE(probe.voltagesSet().value(2), 100.0f);
    // The emergency off overtook the typed value (and the switch-on unless that was in flight).
    QVERIFY(probe.channelStatus(2) & ChannelStatusBit::emergencyOff);
}

void TesmarControlLiveTest::switchedChannelsShowPendingUntilResult()
{
    // "Set All On" of 48 channels over a slow link, one channel's switch broken: every row
    // shows grey italic cells while the command is out (also across refreshes), the normal
    // rendering once the result is back, and the message names the one refused channel.
    startCrate(R"([{"slot": 1, "type": "THM4805p", "channels": 48}])");
    waitConnected();
    QVERIFY(m_simulator->command(QStringLiteral("brokenswitch 1 7 on")));
    QVERIFY(m_simulator->command(QStringLiteral("delay 150")));
    const auto pendingLook = [this](int row) {
        const QTableWidgetItem* cell = table()->item(row, ChannelTable::ColumnStatus);
        return table()->isRowPending(row) && cell && cell->font().italic() && cell->foreground().color() == QColor(Qt::gray);
    };
    action("actionSetAllChannelsOn")->trigger();
    QCOMPARE(m_window->commandsInFlight(), 1);
    for (int row : {0, 7, 47})
        QVERIFY2(pendingLook(row), qPrintable(QString::number(row)));
    int looks = 0;
    while (m_window->commandsInFlight() > 0 && looks < 500) {
        QVERIFY(pendingLook(0) && pendingLook(47));
        QTest::qWait(20);
        ++looks;
    }
    QCOMPARE(m_window->commandsInFlight(), 0);
    QVERIFY(looks > 3); // the check above ran while the command was out
    for (int row = 0; row < 48; ++row)
        QVERIFY(!table()->isRowPending(row));
    QTRY_VERIFY_WITH_TIMEOUT(!table()->item(0, ChannelTable::ColumnStatus)->font().italic(), 3000);
    QVERIFY(statusMessage().startsWith(QStringLiteral("Channel 7: switch on")));
    QVERIFY(m_simulator->command(QStringLiteral("delay 0")));
    CrateProbe probe(m_simulator->address(), 1);
    QVector<bool> expected(48, true);
    expected[7] = false;
    QCOMPARE(probe.switchedOn(), expected);
}

void TesmarControlLiveTest::startUpOnSlowCrateKeepsWindowResponsive()
{
    // The window starts against a slow link (discovery takes some 20 round trips): it is there at
    // once saying "connecting...", handles events meanwhile, never takes the device lock itself,
    // and lists the modules when the discovery has found them.
    startCrate(R"([{"slot": 0, "type": "THE1640p"}, {"slot": 3, "type": "THX0830b"}])");
    m_window.reset();
    QVERIFY(m_simulator->command(QStringLiteral("delay 150")));
    ControllerLock::watch(QThread::currentThread());
    UserDialogs::setStartupOverride(&m_dialogs);
    m_window = std::make_unique<TesmarControl>();
    m_window->setUserDialogs(&m_dialogs);
    m_window->show();
    QCOMPARE(labelText("lblModuleType"), QStringLiteral("connecting..."));
    QVERIFY(m_window->deviceSession()->isConnecting());
    bool handled = false;
    QTimer::singleShot(0, m_window.get(), [&handled] { handled = true; });
    QTRY_VERIFY_WITH_TIMEOUT(handled, 1000);
    QCOMPARE(moduleList()->count(), 0);
    QVERIFY(!action("actionSetAllChannelsOn")->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(moduleList()->count(), 2, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(connectLabel().startsWith(QStringLiteral("Connected to")), 5000);
    const int taken = ControllerLock::takenOnWatchedThread();
    ControllerLock::watch(nullptr);
    QCOMPARE(taken, 0);
    QVERIFY(action("actionSetAllChannelsOn")->isEnabled());
}

void TesmarControlLiveTest::reconnectsByItselfWhenCrateAnswersAgain()
{
    // A crate that does not answer when the operator connects: the window says it keeps trying,
    // stays usable, and shows the modules by itself once the crate answers again.
    startCrate(R"([{"slot": 2, "type": "THE1640p"}])");
    waitConnected();
    m_window->setReconnectIntervalMs(300);
    QVERIFY(m_simulator->command(QStringLiteral("silent on")));
    m_dialogs.addressAnswer = m_simulator->address();
    action("actionController")->trigger();
    // Opening and discovery run off the GUI thread: the window says so at once.
    QCOMPARE(labelText("lblModuleType"), QStringLiteral("connecting..."));
    const QString retrying = QStringLiteral("<font color=\"red\">Can not connect to address %1: no answer: check address, "
                                            "port and read community; trying again every 0.3 s.")
                                 .arg(m_simulator->address());
    QTRY_COMPARE_WITH_TIMEOUT(labelText("statusLabelController"), retrying, 10000);
    QCOMPARE(moduleList()->count(), 0);
    // Attempts in the background keep failing meanwhile, and the text stays.
    QTRY_VERIFY_WITH_TIMEOUT(m_window->deviceSession()->isConnecting(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->deviceSession()->isConnecting(), 10000);
    QCOMPARE(labelText("statusLabelController"), retrying);
    QCOMPARE(moduleList()->count(), 0);

    QVERIFY(m_simulator->command(QStringLiteral("silent off")));
    waitConnected();
    QTRY_VERIFY_WITH_TIMEOUT(moduleList()->item(0)->text().startsWith(QStringLiteral("Slot 2\n47")), 5000);
    QVERIFY(!labelText("statusLabelController").contains(QStringLiteral("Can not connect")));
}

void TesmarControlLiveTest::slowCrateShowsRampThenVoltage()
{
    // 80 V/s: switching on to 200 V ramps for 2.5 s.
    startCrate(R"([{"slot": 0, "type": "THE1640p", "rampSpeed": 2}])");
    waitConnected();
    QVERIFY(m_simulator->command(QStringLiteral("noise off")));
    QVERIFY(m_simulator->command(QStringLiteral("delay 150")));
    CrateProbe probe(m_simulator->address(), 0);
    probe.module()->setChannelVoltageSet(3, 200.0f);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(3, ChannelTable::ColumnVoltageSet), QStringLiteral("200.00"), 3000);

    table()->setCurrentCell(3, 0);
    action("actionSetChannelOn")->trigger();
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QVERIFY2(statusMessage().isEmpty(), qPrintable(statusMessage()));
    // Every frame shows each row as one read: a row off reads 0 V, a ramping row lies between
    // 0 and its set voltage, a row at constant voltage reads it.
    bool sawRamping = false;
    const auto rowsConsistent = [&] {
        for (int row = 0; row < table()->rowCount(); ++row) {
            const QString status = cellText(row, ChannelTable::ColumnStatus);
            const double set = cellText(row, ChannelTable::ColumnVoltageSet).remove(',').toDouble();
            const double measured = cellText(row, ChannelTable::ColumnVoltageMeasure).remove(',').toDouble();
            const bool ok = status == QLatin1String("Off") ? qAbs(measured) < 0.5
                : status == QLatin1String("Ramping") || status == QLatin1String("On")
                ? measured >= -0.5 && measured <= set + 0.5
                : status == QLatin1String("Constant Voltage") ? qAbs(measured - set) < 0.5
                                                              : false;
            if (!ok)
                qWarning("row %d: %s, Vset %g, Vmeas %g", row, qPrintable(status), set, measured);
            if (!ok)
                return false;
            sawRamping = sawRamping || (row == 3 && status == QLatin1String("Ramping"));
        }
        return true;
    };
    QDeadlineTimer deadline(8000);
    while (cellText(3, ChannelTable::ColumnStatus) != QLatin1String("Constant Voltage") && !deadline.hasExpired()) {
        QVERIFY(rowsConsistent());
        QTest::qWait(100);
    }
    QVERIFY(sawRamping);
    QVERIFY(rowsConsistent());
    QCOMPARE(cellText(3, ChannelTable::ColumnVoltageMeasure), QStringLiteral("200.00"));
}

void TesmarControlLiveTest::lossyCrateKeepsTablePopulated()
{
    // The library's own time-out and retry, as the program runs with them.
    const QByteArray timeout = qgetenv("TESMAR_SNMP_TIMEOUT_MS");
    const QByteArray retries = qgetenv("TESMAR_SNMP_RETRIES");
    qunsetenv("TESMAR_SNMP_TIMEOUT_MS");
    qunsetenv("TESMAR_SNMP_RETRIES");
    const auto restore = qScopeGuard([&] {
        qputenv("TESMAR_SNMP_TIMEOUT_MS", timeout);
        qputenv("TESMAR_SNMP_RETRIES", retries);
    });
    startCrate(R"([{"slot": 4, "type": "THE1640p", "serialNumber": 404}])");
    waitConnected();
    QVERIFY(m_simulator->command(QStringLiteral("drop 30")));
    // The poller retries what was lost: no frame shows the module lost or the crate off.
    QDeadlineTimer deadline(8000);
    int framesWithNumbers = 0;
    while (!deadline.hasExpired()) {
        QVERIFY2(connectLabel().startsWith(QStringLiteral("Connected to")), qPrintable(connectLabel()));
        QCOMPARE(moduleList()->item(0)->text(), QStringLiteral("Slot 4\n404"));
        QVERIFY(table()->isEnabled());
        QVERIFY(!labelText("statusLabelController").contains(QStringLiteral("powered off")));
        QVERIFY(!labelText("statusLabelController").contains(QStringLiteral("Can not connect")));
        bool numbers = true;
        for (int row = 0; row < table()->rowCount(); ++row) {
            const QTableWidgetItem* cell = table()->item(row, ChannelTable::ColumnVoltageMeasure);
            QVERIFY(cell && !cell->text().isEmpty());
            numbers = numbers && cell->text() != QLatin1String("---");
        }
        framesWithNumbers += numbers ? 1 : 0;
        QTest::qWait(100);
    }
    QVERIFY2(framesWithNumbers > 60, qPrintable(QString::number(framesWithNumbers)));
}

void TesmarControlLiveTest::toolWindowLetsGoAcrossRediscovery()
{
    startCrate(R"([{"slot": 2, "type": "THE1640p"}, {"slot": 3, "type": "THX0830b"}])");
    waitConnected();
    auto* window = new TestToolWindow(m_window->deviceSession(), m_window.get());
    window->setNeeds(Poller::ModuleSupplies | Poller::ModuleTemperatures);
    window->show();
    BaseModule* first = window->module();
    QVERIFY(first && first == m_window->currentModule());
    // What the window needs is read while it is shown.
    const auto suppliesRead = [this] {
        DeviceSession* session = m_window->deviceSession();
        const std::shared_ptr<const ModuleSnapshot> snapshot =
            session->poller()->moduleSnapshot(session->currentModuleIndex());
        return snapshot && snapshot->values.suppliesValid;
    };
    QTRY_VERIFY_WITH_TIMEOUT(suppliesRead(), 5000);

    moduleList()->setCurrentRow(1);
    QCOMPARE(window->module(), m_window->currentModule());
    QVERIFY(window->module() != first);

    // A new connection drops every module: the window lets go before, follows the new one after.
    window->followed.clear();
    m_window->initModuleAccess();
    QTRY_VERIFY_WITH_TIMEOUT(window->followed.size() >= 2, 5000);
    QCOMPARE(window->followed.first(), nullptr);
    QCOMPARE(window->module(), m_window->currentModule());
    QVERIFY(window->module());
    // The operator's module is shown again after the rediscovery.
    QCOMPARE(window->module()->address(), QStringLiteral("Slot 3"));
    waitConnected();
    QTRY_VERIFY_WITH_TIMEOUT(suppliesRead(), 5000);

    // The crate switched off: no module to follow, nothing to read for the window.
    m_window->crateCommands()->setPowerOn(false);
    QTRY_COMPARE_WITH_TIMEOUT(window->module(), nullptr, 5000);
    delete window; // while shown: its needs go with it
    QVERIFY(!(m_window->deviceSession()->needs() & Poller::ModuleSupplies));
}

// Channel 0 sits on a low load: at 1000 V it draws 1 mA, above its 0.5 mA limit; channel 1
// draws 0.1 mA. The alarm colours the status cell only after the hold time, stays over
// refreshes, goes with the acknowledgement; the trends window shows the ramp and the alarm.
void TesmarControlLiveTest::currentAlarmAndTrends()
{
    QSettings limits(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("alarms"));
    limits.clear();
    for (int channel : {0, 1}) {
        limits.setValue(QStringLiteral("4711001/channel%1/currentLimitAmperes").arg(channel), 0.5e-3);
        limits.setValue(QStringLiteral("4711001/channel%1/holdTimeMs").arg(channel), 2500);
    }
    limits.sync();
    const auto cleanLimits = qScopeGuard([&] { limits.clear(); });
    startCrate(R"([{"slot": 0, "type": "THE1640p", "channels": 4, "serialNumber": 4711001, "rampSpeed": 25,
                    "load": [1e6, 10e6, 10e6, 10e6]}])");
    waitConnected();
    const auto statusColour = [this](int row) {
        const QTableWidgetItem* cell = table()->item(row, ChannelTable::ColumnStatus);
        return cell ? cell->background().color() : QColor();
    };
    auto* alarmLabel = m_window->findChild<QLabel*>(QStringLiteral("statusLabelAlarms"));
    CrateProbe probe(m_simulator->address(), 0);
    for (int channel : {0, 1}) {
        probe.module()->setChannelVoltageSet(channel, 1000.0f);
        probe.module()->setChannelOn(channel);
    }
    // Above the limit from about 0.5 s of the 1 s ramp on; not yet for the hold time.
    QTRY_VERIFY_WITH_TIMEOUT(cellText(0, ChannelTable::ColumnCurrentMeasure).toDouble() > 0.5, 3000);
    QTest::qWait(600);
    QVERIFY(statusColour(0) != ChannelTable::alarmColour());
    QTRY_COMPARE_WITH_TIMEOUT(statusColour(0), ChannelTable::alarmColour(), 5000);
    QVERIFY(alarmLabel->isVisible());
    QVERIFY2(alarmLabel->text().startsWith(QStringLiteral("Current alarm: Slot 0 (4711001) channel 0 since ")),
        qPrintable(alarmLabel->text()));
    QTest::qWait(500); // refreshes replace the cells: the alarm stays
    QCOMPARE(statusColour(0), ChannelTable::alarmColour());
    QCOMPARE(cellText(0, ChannelTable::ColumnStatus), QStringLiteral("Constant Voltage"));
    QCOMPARE(statusColour(1), QColor(Qt::green));

    // The trends window: the ramp of both channels, the alarm marked on the current chart.
    action("actionTrends")->trigger();
    auto* trends = m_window->findChild<DialogTrends*>();
    QVERIFY(trends && trends->isVisible());
    QCOMPARE(trends->shownChannels(), (QList<int>{0, 1, 2, 3}));
    trends->setSpanMs(60000);
    trends->updateCharts();
    double highestVolts = 0;
    for (const QPolygonF& line : trends->traces(false))
        for (const QPointF& point : line)
            highestVolts = qMax(highestVolts, point.y());
    QVERIFY2(qAbs(highestVolts - 1000) < 5, qPrintable(QString::number(highestVolts)));
    QScatterSeries* marks = nullptr;
    for (QAbstractSeries* series : trends->currentChart()->series())
        marks = marks ? marks : qobject_cast<QScatterSeries*>(series);
    QVERIFY(marks);
    QCOMPARE(marks->count(), 1);
    // One moment sits at the same x in both charts: the voltage and current axes' labels differ
    // in width, and only one chart carries the alarm marks.
    QTRY_VERIFY(trends->voltageChart()->plotArea().width() > 100);
    QCOMPARE(trends->voltageChart()->plotArea().left(), trends->currentChart()->plotArea().left());
    QCOMPARE(trends->voltageChart()->plotArea().right(), trends->currentChart()->plotArea().right());
    QTemporaryDir exports;
    QVERIFY(trends->exportCsv(exports.filePath(QStringLiteral("trends.csv"))));
    QFile csv(exports.filePath(QStringLiteral("trends.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.first(),
        QStringLiteral(
            "time_utc,channel,voltage_V,current_A,voltage_min_V,voltage_max_V,current_min_A,current_max_A,period_s"));
    QVERIFY(lines.size() > 4 * 10);
    QVERIFY(lines.last().contains(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,[0-3],"))));
    QVERIFY(trends->savePng(exports.filePath(QStringLiteral("trends.png"))));
    QVERIFY(QImage(exports.filePath(QStringLiteral("trends.png"))).width() > 100);

    // Acknowledged from the channel's context menu: the cell is the status colour again.
    selectCells({{0, 0}});
    QStringList texts;
    QTimer::singleShot(0, this, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* item : menu->actions())
            texts.append(item->text());
        menu->actions().last()->trigger();
        menu->close();
    });
    QMetaObject::invokeMethod(table(), "customContextMenuRequested", Q_ARG(QPoint, QPoint(5, 5)));
    QTRY_VERIFY(!texts.isEmpty());
    QCOMPARE(texts.last(), QStringLiteral("Acknowledge Current Alarm"));
    QTRY_COMPARE_WITH_TIMEOUT(statusColour(0), QColor(Qt::green), 2000);
    QVERIFY(!alarmLabel->isVisible());
    trends->updateCharts();
    QCOMPARE(marks->count(), 0);
    // Nothing was switched: both channels are still on, at their voltage.
    QCOMPARE(probe.switchedOn().mid(0, 2), (QVector<bool>{true, true}));

    // An alarm set from the Channel menu for the chosen channels, journaled.
    selectCells({{2, 0}, {3, 0}});
    const QString unit = table()->horizontalHeaderItem(ChannelTable::ColumnCurrentMeasure)->text();
    m_dialogs.answers = {0.25, 4};
    action("actionSetCurrentAlarm")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 2);
    QVERIFY2(m_dialogs.prompts().at(0).text.startsWith(QStringLiteral("Current alarm of channel 2, 3: limit in ")),
        qPrintable(m_dialogs.prompts().at(0).text));
    const CurrentLimit set = m_window->trendRecorder()->alarms(0)->limit(3);
    QCOMPARE(set.holdMs, qint64(4000));
    QVERIFY2(set.limitA == 0.25e-3 || set.limitA == 0.25e-6, qPrintable(unit)); // mA or µA
    QCOMPARE(m_window->trendRecorder()->alarms(0)->limit(2), set);
    JournalLine limitLine;
    QVERIFY(JournalLine::parse(WriteJournal::instance().latestLines(1).value(0), &limitLine));
    QCOMPARE(QStringList({limitLine.slot, limitLine.channel, limitLine.quantity, limitLine.source, limitLine.result}),
        (QStringList{"0", "3", "current alarm limit", "command", "ok"}));

    // The module's measurements exported: default name in the documents folder, the file as chosen.
    m_dialogs.asked.clear();
    const QString exported = exports.filePath(QStringLiteral("logbook.csv"));
    m_dialogs.answers = {QStringLiteral("Last 10 minutes")};
    m_dialogs.fileNames = {exported};
    action("actionExportMeasurements")->trigger();
    QCOMPARE(m_dialogs.prompts().size(), 2);
    QVERIFY2(m_dialogs.prompts().at(1).text.startsWith(
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/measurements-slot-0-4711001-"),
        qPrintable(m_dialogs.prompts().at(1).text));
    QFile logbook(exported);
    QVERIFY(logbook.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(logbook.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(rows.contains(QStringLiteral("# serial number,4711001")) && rows.contains(QStringLiteral("# channels,4")));
    // Channel 0 on at 1000 V with its status word.
    QVERIFY(!rows.filter(QRegularExpression(QStringLiteral("Z,0,0,1000,[0-9.]+,.*,0x[0-9a-f]{4}$"))).isEmpty());
    // A file that cannot be written: the message names it with the reason.
    m_dialogs.answers = {QStringLiteral("Last hour")};
    m_dialogs.fileNames = {exports.path()};
    m_dialogs.asked.clear();
    action("actionExportMeasurements")->trigger();
    QCOMPARE(m_dialogs.messages().size(), 1);
    QVERIFY2(m_dialogs.messages().first().contains(exports.path() + QStringLiteral(" cannot be written: ")),
        qPrintable(m_dialogs.messages().first()));

    // A module that does not answer alarms on nothing, whatever its last reading was.
    QVERIFY(m_simulator->command(QStringLiteral("silent on")));
    QTRY_COMPARE_WITH_TIMEOUT(connectLabel(), QStringLiteral("<font color=\"red\">Can not connect to Module!"), 5000);
    m_window->trendRecorder()->setCurrentLimit(0, 1, CurrentLimit{0.05e-3, 0});
    QTest::qWait(1000);
    QVERIFY(m_window->trendRecorder()->activeAlarms().isEmpty());
    QVERIFY(!alarmLabel->isVisible());
    QVERIFY(m_simulator->command(QStringLiteral("silent off")));
    QTRY_COMPARE_WITH_TIMEOUT(statusColour(1), ChannelTable::alarmColour(), 5000);
    QCOMPARE(m_window->trendRecorder()->activeAlarms().size(), 1);
}

QTEST_MAIN(TesmarControlLiveTest)
#include "TesmarControlLiveTest.moc"
