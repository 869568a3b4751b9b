// The script console of the main window against the crate simulator: what a run prints, what
// reaches the crate, the held script, Stop, and a crate switched off under a running script.
#include "app/IsolatedSettings.h"
#include "app/TesmarControl.h"
#include "app/UserDialogs.h"
#include "common/SimulatorProcess.h"
#include "device/BaseModule.h"
#include "scripting/DialogScriptConsole.h"
#include "scripting/ScriptThread.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
// Slot 1 first, so the serial number a script prints is not slot 0's by accident.
const QByteArray crateConfig = R"({"crate": {"bootDelayMs": 0}, "modules": [
    {"slot": 1, "type": "THE1640p", "serialNumber": 4712001}, {"slot": 4, "type": "THC3210p"}]})";
const QString initialScript = QStringLiteral("script.print('from test.js'); 3");
} // namespace

class TestScriptConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void consoleLayout();
    void emptyEditorRunsHeldScript();
    void outcomes_data();
    void outcomes();
    void linesArriveWhileScriptRuns();
    void stopEndsRun_data();
    void stopEndsRun();
    void runWhileRunningOnlyReplacesScript();
    void crateSwitchedOffUnderRunningScript();

private:
    // Types `script` into the editor and presses Run; waits for the run to end.
    void run(const QString& script);
    void waitIdle();
    QStringList outputLines() const;
    QPushButton* button(const char* name) const;

    QTemporaryDir m_workFolder;
    SimulatorProcess m_simulator;
    QTemporaryFile m_config;
    std::unique_ptr<TesmarControl> m_window;
    DialogScriptConsole* m_console = nullptr;
    ScriptThread* m_thread = nullptr;
};

void TestScriptConsole::initTestCase()
{
    // The script thread loads "test.js" from the working folder.
    QVERIFY(QDir::setCurrent(m_workFolder.path()));
    QFile initial(QStringLiteral("test.js"));
    QVERIFY(initial.open(QIODevice::WriteOnly));
    initial.write(initialScript.toUtf8());
    initial.close();

    QVERIFY(m_config.open());
    m_config.write(crateConfig);
    m_config.close();
    m_simulator.setConfigFile(m_config.fileName());
    QVERIFY2(m_simulator.start(), qPrintable(m_simulator.output()));
    m_simulator.exportLibraryEnvironment();
    QVERIFY(m_simulator.command(QStringLiteral("noise off")));
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"))
        .setValue(QStringLiteral("IpAddress"), m_simulator.host());

    m_window = std::make_unique<TesmarControl>();
    m_window->setReconnectDelays(100, 100);
    m_window->show();
    QVERIFY(m_window->currentModule());
    m_window->findChild<QAction*>(QStringLiteral("actionScript"))->trigger();
    m_console = m_window->findChild<DialogScriptConsole*>();
    m_thread = m_window->findChild<ScriptThread*>();
    QVERIFY(m_console && m_thread);
    QVERIFY(m_console->isVisible());
}

void TestScriptConsole::cleanupTestCase()
{
    m_window.reset();
    m_simulator.stop();
}

void TestScriptConsole::init()
{
    QVERIFY(m_window->currentModule());
    QVERIFY(m_window->currentModule()->setChannelVoltageSet(0, 0.0f));
}

void TestScriptConsole::consoleLayout()
{
    QCOMPARE(m_console->windowTitle(), QStringLiteral("Script Console"));
    const auto editors = m_console->findChildren<QTextEdit*>();
    QCOMPARE(editors.size(), 2);
    QCOMPARE(editors.at(0)->tabStopDistance(), 40.0);
    QVERIFY(!editors.at(0)->isReadOnly());
    QVERIFY(editors.at(1)->isReadOnly());
    QCOMPARE(button("btnRun")->text(), QStringLiteral("Run Script"));
    QCOMPARE(button("btnStop")->text(), QStringLiteral("Stop Script"));
    QVERIFY(!button("btnStop")->isEnabled());
}

// First test.js, then, after a script of its own, that script again.
void TestScriptConsole::emptyEditorRunsHeldScript()
{
    run(QString());
    QCOMPARE(outputLines(), (QStringList{"from test.js", "Script exited with result 3"}));
    run(QStringLiteral("script.print('once more'); 7"));
    run(QString());
    QCOMPARE(outputLines(), (QStringList{"once more", "Script exited with result 7"}));
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
    m_console->findChildren<QTextEdit*>().at(0)->setPlainText(
        QStringLiteral("for (var i = 0; i < 3; ++i) { script.print('line ' + i); script.delay(400); }"));
    button("btnRun")->click();
    QTRY_COMPARE_WITH_TIMEOUT(outputLines(), QStringList{"line 0"}, 5000);
    QVERIFY(m_thread->isRunning());
    const int ticksAtFirstLine = ticks;
    QTRY_COMPARE_WITH_TIMEOUT(outputLines().size(), 2, 5000);
    QVERIFY(m_thread->isRunning());
    QVERIFY(ticks > ticksAtFirstLine);
    waitIdle();
    QCOMPARE(outputLines().last(), QStringLiteral("Script exited with result undefined"));
}

void TestScriptConsole::stopEndsRun_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("endless loop") << "script.print('started'); while (true) {}";
    QTest::newRow("long delay") << "script.print('started'); script.delay(600000); 1";
    QTest::newRow("delay in a loop that catches")
        << "script.print('started'); while (true) { try { script.delay(600000) } catch (e) {} }";
    QTest::newRow("module calls in a loop")
        << "script.print('started'); while (true) { try { mod.channelVoltageSet(0) } catch (e) {} }";
}

void TestScriptConsole::stopEndsRun()
{
    QFETCH(QString, script);
    m_console->findChildren<QTextEdit*>().at(0)->setPlainText(script);
    button("btnRun")->click();
    QTRY_VERIFY_WITH_TIMEOUT(button("btnStop")->isEnabled() && outputLines() == QStringList{"started"}, 5000);
    button("btnStop")->click();
    waitIdle();
    QCOMPARE(outputLines(), (QStringList{"started", "Script stopped by the operator."}));
    QTRY_VERIFY(!button("btnStop")->isEnabled());
}

void TestScriptConsole::runWhileRunningOnlyReplacesScript()
{
    m_console->findChildren<QTextEdit*>().at(0)->setPlainText(QStringLiteral("script.delay(600000)"));
    button("btnRun")->click();
    QTRY_VERIFY(button("btnStop")->isEnabled());
    m_console->findChildren<QTextEdit*>().at(0)->setPlainText(QStringLiteral("'the next one'"));
    button("btnRun")->click();
    QVERIFY(m_thread->isRunning());
    button("btnStop")->click();
    waitIdle();
    QCOMPARE(outputLines(), QStringList{"Script stopped by the operator."});
    run(QString());
    QCOMPARE(outputLines(), QStringList{"Script exited with result the next one"});
}

// Switching the crate off releases the modules: the script stops without touching its module
// again; with no module nothing runs; after the rediscovery the new first module is used.
void TestScriptConsole::crateSwitchedOffUnderRunningScript()
{
    m_console->findChildren<QTextEdit*>().at(0)->setPlainText(
        QStringLiteral("script.print('started'); while (true) { mod.channelVoltageMeasure(0); script.delay(10); }"));
    button("btnRun")->click();
    QTRY_COMPARE_WITH_TIMEOUT(outputLines(), QStringList{"started"}, 5000);
    m_window->setCratePowerOn(0, false);
    waitIdle();
    QCOMPARE(outputLines().size(), 2);
    QVERIFY2(outputLines().last().contains(QStringLiteral("module released")), qPrintable(outputLines().last()));

    button("btnRun")->click();
    QTRY_COMPARE(outputLines(), QStringList{"The script was not run: no module is connected."});
    QVERIFY(!m_thread->isRunning());

    m_window->setCratePowerOn(0, true);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->currentModule(), 10000);
    run(QStringLiteral("mod.serialNumber()"));
    QCOMPARE(outputLines(), QStringList{"Script exited with result 4712001"});
}

void TestScriptConsole::run(const QString& script)
{
    m_console->findChildren<QTextEdit*>().at(0)->setPlainText(script);
    button("btnRun")->click();
    waitIdle();
}

void TestScriptConsole::waitIdle()
{
    QTRY_VERIFY_WITH_TIMEOUT(!m_thread->isRunning(), 10000);
    // The last line travels queued from the script thread.
    QCoreApplication::processEvents();
}

QStringList TestScriptConsole::outputLines() const
{
    const QString text = m_console->outputText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QPushButton* TestScriptConsole::button(const char* name) const
{
    return m_console->findChild<QPushButton*>(QLatin1String(name));
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QApplication application(argc, argv);
    TestScriptConsole test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scriptconsole.moc"
