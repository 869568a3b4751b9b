// The script console of the main window against the crate simulator: what a run prints, what
// reaches the crate, the module it acts on, the held script, Stop (also in a print flood), the
// crate switched off and the window closed under a running script.
#include "app/CrateCommands.h"
#include "app/IsolatedSettings.h"
#include "app/TesmarControl.h"
#include "common/SimulatorProcess.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "scripting/DialogScriptConsole.h"
#include "scripting/ScriptThread.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

class TestScriptConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void heldScript();
    void outcomes_data();
    void outcomes();
    void linesArriveWhileScriptRuns();
    void actsOnSelectedModule();
    void printFloodIsBounded();
    void stopEndsRun_data();
    void stopEndsRun();
    void crateSwitchedOffUnderRunningScript();
    void windowClosedUnderRunningScript();

private:
    // Types `script` into the editor and presses Run Script; start() returns once it runs, run()
    // once it has ended.
    void start(const QString& script);
    void run(const QString& script);
    // Waits for the end of the run begun by the last start() or run(), its last output shown.
    void waitIdle();
    // The output after the two lines that name the module and its units.
    QStringList outputLines() const { return allOutputLines().mid(2); }
    QStringList allOutputLines() const { return m_console->outputText().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QPushButton* button(const char* name) const { return m_console->findChild<QPushButton*>(QLatin1String(name)); }
    QTextEdit* editor() const { return m_console->findChildren<QTextEdit*>().at(0); }

    QTemporaryDir m_workFolder;
    SimulatorProcess m_simulator;
    QTemporaryFile m_config;
    std::unique_ptr<TesmarControl> m_window;
    DialogScriptConsole* m_console = nullptr;
    ScriptThread* m_thread = nullptr;
    int m_runsEnded = 0;
    int m_runsEndedBeforeStart = 0;
};

void TestScriptConsole::initTestCase()
{
    // The script thread loads "test.js" from the working folder.
    QVERIFY(QDir::setCurrent(m_workFolder.path()));
    QFile initial(QStringLiteral("test.js"));
    QVERIFY(initial.open(QIODevice::WriteOnly));
    initial.write("script.print('from test.js'); 3");
    initial.close();

    // Slot 1 first, so the serial number a script prints is not slot 0's by accident.
    QVERIFY(m_config.open());
    m_config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [
        {"slot": 1, "type": "THE1640p", "serialNumber": 4712001}, {"slot": 4, "type": "THC3210p"}]})");
    m_config.close();
    m_simulator.setConfigFile(m_config.fileName());
    QVERIFY2(m_simulator.start(), qPrintable(m_simulator.output()));
    m_simulator.exportLibraryEnvironment();
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"))
        .setValue(QStringLiteral("IpAddress"), m_simulator.host());

    m_window = std::make_unique<TesmarControl>();
    m_window->setReconnectDelays(100, 100);
    m_window->show();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->deviceSession()->isConnecting(), 5000);
    m_window->findChild<QAction*>(QStringLiteral("actionScript"))->trigger();
    m_console = m_window->findChild<DialogScriptConsole*>();
    m_thread = m_window->findChild<ScriptThread*>();
    QVERIFY(m_console && m_thread && m_console->isVisible());
    // Queued after the thread's own end handling, which shows the last lines, so this count only
    // moves once they are in the console.
    connect(m_thread, &QThread::finished, this, [this] { ++m_runsEnded; });
    QCOMPARE(m_console->windowTitle(), QStringLiteral("Script Console"));
    QCOMPARE(editor()->tabStopDistance(), 40.0);
    QCOMPARE(m_console->findChild<QListView*>()->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(button("btnRun")->text(), QStringLiteral("Run Script"));
    QVERIFY(!button("btnStop")->isEnabled());
}

void TestScriptConsole::init()
{
    QVERIFY(m_window->currentModule()->setChannelVoltageSet(0, 0.0f));
}

// An empty editor runs the held script: first test.js, later the latest script run. Run while a
// script runs only replaces the held script.
void TestScriptConsole::heldScript()
{
    run(QString());
    QCOMPARE(outputLines(), (QStringList{"from test.js", "Script exited with result 3"}));
    start(QStringLiteral("script.delay(600000)"));
    editor()->setPlainText(QStringLiteral("'the next one'"));
    button("btnRun")->click();
    QVERIFY(m_thread->isRunning());
    button("btnStop")->click();
    waitIdle();
    // Run cleared the output while the script ran.
    QCOMPARE(allOutputLines(), QStringList{"Script stopped by the operator."});
    run(QString());
    QCOMPARE(outputLines(), QStringList{"Script exited with result the next one"});
    run(QString());
    QCOMPARE(outputLines(), QStringList{"Script exited with result the next one"});
}

void TestScriptConsole::outcomes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<float>("channel0VoltageSet");

    QTest::newRow("serial number, then the result")
        << "script.print(mod.serialNumber());\n1+1" << QStringList{"4712001", "Script exited with result 2"} << 0.0f;
    QTest::newRow("thrown string") << "throw 'x'" << QStringList{"Error: Script threw an uncaught exception: x"} << 0.0f;
    QTest::newRow("open block: nothing runs")
        << "mod.setChannelVoltageSet(0, 123);\nif (true) {" << QStringList{"Error: Script has syntax errors!"} << 0.0f;
    QTest::newRow("refused write, the script goes on")
        << "var first = mod.setChannelVoltageSet(0, 99999);\n[first, mod.setChannelVoltageSet(0, 250)].join()"
        << QStringList{"setChannelVoltageSet(0, 99999) refused: wrongValue", "Script exited with result false,true"}
        << 250.0f;
    QTest::newRow("enumeration slots are not offered")
        << "[typeof mod.setChannelInhibitAction, typeof mod.channelCurrentMeasurementRange,\n"
           " typeof mod.connectionState, typeof mod.setAllChannelsDelayedTripAction, typeof mod.temperature].join()"
        << QStringList{"Script exited with result undefined,undefined,undefined,undefined,function"} << 0.0f;
    QTest::newRow("default argument, reads")
        << "[mod.temperature() == mod.temperature(0), mod.channelNumber(), mod.firmwareName()].join()"
        << QStringList{"Script exited with result true,16,THE1640p"} << 0.0f;
    QTest::newRow("wrong argument count")
        << "mod.setChannelOn()"
        << QStringList{"Error: Script threw an uncaught exception: TypeError: mod.setChannelOn takes 1 argument(s), not 0"}
        << 0.0f;
    QTest::newRow("empty script") << " " << QStringList{"Script exited with result undefined"} << 0.0f;
}

void TestScriptConsole::outcomes()
{
    QFETCH(QString, script);
    QFETCH(QStringList, lines);
    QFETCH(float, channel0VoltageSet);
    run(script);
    QCOMPARE(outputLines(), lines);
    QCOMPARE(m_window->currentModule()->channelVoltageSet(0), channel0VoltageSet);
}

// The window keeps running its event loop during a delay, and every line shows when printed.
void TestScriptConsole::linesArriveWhileScriptRuns()
{
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(10);
    start(QStringLiteral("for (var i = 0; i < 3; ++i) { script.print('line ' + i); script.delay(400); }"));
    QTRY_COMPARE_WITH_TIMEOUT(outputLines(), QStringList{"line 0"}, 5000);
    const int ticksAtFirstLine = ticks;
    QTRY_COMPARE_WITH_TIMEOUT(outputLines().size(), 2, 5000);
    QVERIFY(m_thread->isRunning());
    QVERIFY(ticks > ticksAtFirstLine);
    waitIdle();
    QCOMPARE(outputLines().last(), QStringLiteral("Script exited with result undefined"));
}

// The run names its module and units, and acts on the module the window shows, not the first.
void TestScriptConsole::actsOnSelectedModule()
{
    auto* modules = m_window->findChild<QListWidget*>(QStringLiteral("lstModules"));
    QCOMPARE(modules->count(), 2);
    modules->setCurrentRow(1);
    run(QStringLiteral("[mod.serialNumber(), mod.channelNumber()].join()"));
    const QStringList lines = allOutputLines();
    QVERIFY2(lines.value(0).startsWith(QStringLiteral("Script acts on slot 4, serial "))
            && lines.value(0).endsWith(QStringLiteral(", THC3210p")),
        qPrintable(lines.join('|')));
    QCOMPARE(lines.value(1).left(34), QStringLiteral("Voltages in V and currents in mA, "));
    QCOMPARE(
        lines.value(2), QStringLiteral("Script exited with result %1,32").arg(m_window->currentModule()->serialNumber()));
    modules->setCurrentRow(0);
    run(QStringLiteral("mod.serialNumber()"));
    QCOMPARE(allOutputLines().value(0), QStringLiteral("Script acts on slot 1, serial 4712001, THE1640p"));
    QCOMPARE(outputLines(), QStringList{"Script exited with result 4712001"});
}

// A script printing without pause: the console keeps the latest lines and says how many went,
// and Stop ends it.
void TestScriptConsole::printFloodIsBounded()
{
    start(QStringLiteral("var i = 0; for (;;) script.print('line ' + i++)"));
    auto* note = m_console->findChild<QLabel*>(QStringLiteral("lblStatus"));
    QTRY_VERIFY_WITH_TIMEOUT(note->text().contains(QStringLiteral("older lines dropped")), 10000);
    button("btnStop")->click();
    waitIdle();
    const QStringList lines = allOutputLines();
    QVERIFY(lines.size() <= DialogScriptConsole::maxOutputLines);
    QCOMPARE(lines.last(), QStringLiteral("Script stopped by the operator."));
    // The latest lines, in order, without a gap.
    const int last = lines.at(lines.size() - 2).mid(5).toInt();
    QCOMPARE(lines.at(lines.size() - 101), QStringLiteral("line %1").arg(last - 99));
    QVERIFY(note->text().startsWith(QString::number(last + 1 + 3 - lines.size())));
}

void TestScriptConsole::stopEndsRun_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("endless loop") << "while (true) {}";
    QTest::newRow("long delay") << "script.delay(600000); 1";
    QTest::newRow("delay in a loop that catches") << "while (true) { try { script.delay(600000) } catch (e) {} }";
    QTest::newRow("module calls in a loop") << "while (true) { try { mod.channelVoltageSet(0) } catch (e) {} }";
}

void TestScriptConsole::stopEndsRun()
{
    QFETCH(QString, script);
    start(QStringLiteral("script.print('started'); ") + script);
    QTRY_COMPARE_WITH_TIMEOUT(outputLines(), QStringList{"started"}, 5000);
    button("btnStop")->click();
    waitIdle();
    QCOMPARE(outputLines(), (QStringList{"started", "Script stopped by the operator."}));
    QTRY_VERIFY(!button("btnStop")->isEnabled());
}

// Switching the crate off releases the modules: the script stops without touching its module
// again; with no module nothing runs; after the rediscovery the new first module is used.
void TestScriptConsole::crateSwitchedOffUnderRunningScript()
{
    // Reads of a crate going off fail (and are caught) until the modules go.
    start(QStringLiteral("script.print('started');\n"
                         "while (true) { try { mod.channelVoltageMeasure(0); } catch (e) {} script.delay(10); }"));
    QTRY_COMPARE_WITH_TIMEOUT(outputLines(), QStringList{"started"}, 5000);
    m_window->crateCommands()->setPowerOn(false);
    waitIdle();
    QCOMPARE(outputLines().size(), 2);
    QVERIFY2(outputLines().last().contains(QStringLiteral("module released")), qPrintable(outputLines().last()));

    button("btnRun")->click();
    QTRY_COMPARE(allOutputLines(), QStringList{"The script was not run: no module is selected."});
    QVERIFY(!m_thread->isRunning());

    m_window->crateCommands()->setPowerOn(true);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->currentModule(), 10000);
    run(QStringLiteral("mod.serialNumber()"));
    QCOMPARE(outputLines(), QStringList{"Script exited with result 4712001"});
}

// The window goes while a script calls the module: the script stops first, nothing waits forever.
void TestScriptConsole::windowClosedUnderRunningScript()
{
    const QPointer<ScriptThread> thread = m_thread;
    start(QStringLiteral("while (true) { mod.channelStatus(0); }"));
    m_window.reset();
    QVERIFY(thread.isNull());
}

void TestScriptConsole::start(const QString& script)
{
    m_runsEndedBeforeStart = m_runsEnded;
    editor()->setPlainText(script);
    button("btnRun")->click();
    QTRY_VERIFY(button("btnStop")->isEnabled());
}

void TestScriptConsole::run(const QString& script)
{
    m_runsEndedBeforeStart = m_runsEnded;
    editor()->setPlainText(script);
    button("btnRun")->click();
    waitIdle();
}

void TestScriptConsole::waitIdle()
{
    QTRY_VERIFY_WITH_TIMEOUT(m_runsEnded > m_runsEndedBeforeStart, 10000);
    QVERIFY(!m_thread->isRunning());
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QApplication application(argc, argv);
    TestScriptConsole test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scriptconsole.moc"
