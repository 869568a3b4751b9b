// The statistic and automatic windows and the profile commands of the main window, end to end
// against the crate simulator through our SNMP library; the statistic's bookkeeping also fed by
// hand. What reached the crate is read back through a controller and module of the test's own.
#include "app/AutomaticDesk.h"
#include "app/ChannelTable.h"
#include "app/TesmarControl.h"
#include "common/FindChild.h"
#include "dialogs/common/UserDialogs.h"

#include "controller/SnmpController.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpModule.h"
#include "device/WriteJournal.h"
#include "profiles/AutomaticStepping.h"
#include "profiles/DialogAutomatic.h"
#include "profiles/DialogStatistic.h"
#include "profiles/DialogWriteProfile.h"

#include "common/MemoryModule.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {

QStringList fileLines(const QString& name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class ProfilesWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void statisticRecordsEveryChannel();
    void statisticSingleChannelOnce();
    void statisticUnwritableFile();
    void statisticBookkeeping();
    void automaticStepsCrate();
    void automaticSpecialScope();
    void automaticChannelScopeNeedsRow();
    void profileSaveAndCancelledLoad();
    void profileLoadRefusals();

private:
    void startCrate(const QByteArray& modulesJson);
    DialogStatistic* openStatistic();
    DialogAutomatic* openAutomatic(int scope, double increment);
    float crateVoltageSet(int slot, int channel);
    // One step of automatic stepping, waited for: it runs on the device side.
    void automaticStep();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<QTemporaryFile> m_config;
    std::unique_ptr<TesmarControl> m_window;
    std::unique_ptr<SnmpController> m_probe;
    ScriptedDialogs m_dialogs;
};

void ProfilesWindowTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void ProfilesWindowTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    // "autologfile.csv" goes into the working folder.
    QDir::setCurrent(m_dir->path());
}

void ProfilesWindowTest::cleanup()
{
    m_window.reset();
    UserDialogs::setStartupOverride(nullptr);
    m_dialogs.asked.clear();
    m_dialogs.fileName.clear();
    m_probe.reset();
    if (m_simulator)
        m_simulator->stop();
    m_simulator.reset();
    m_config.reset();
}

void ProfilesWindowTest::startCrate(const QByteArray& modulesJson)
{
    m_config = std::make_unique<QTemporaryFile>();
    QVERIFY(m_config->open());
    m_config->write("{\"crate\": {\"bootDelayMs\": 0}, \"modules\": " + modulesJson + "}");
    m_config->close();
    m_simulator = std::make_unique<SimulatorProcess>();
    QVERIFY2(m_simulator->startForProgram(m_config->fileName()), qPrintable(m_simulator->output()));

    UserDialogs::setStartupOverride(&m_dialogs);
    m_window = std::make_unique<TesmarControl>();
    m_window->setUserDialogs(&m_dialogs);
    m_window->show();
    auto* table = child<ChannelTable>(m_window.get(), "table");
    QTRY_VERIFY_WITH_TIMEOUT(table->isEnabled() && table->item(0, ChannelTable::ColumnStatus), 5000);
    table->setCurrentCell(0, 0);
    m_probe = std::make_unique<SnmpController>();
    QVERIFY(m_probe->open(m_simulator->address()));
}

float ProfilesWindowTest::crateVoltageSet(int slot, int channel)
{
    SnmpModule module(m_probe.get(), slot);
    module.channelVoltageSet(0); // channel 0 reads the module's block
    return module.channelVoltageSet(channel);
}

void ProfilesWindowTest::automaticStep()
{
    m_window->automaticDesk()->step();
    auto* stepping = m_window->findChild<AutomaticStepping*>();
    QVERIFY(stepping);
    QTRY_VERIFY_WITH_TIMEOUT(!stepping->busy(), 5000);
}

DialogStatistic* ProfilesWindowTest::openStatistic()
{
    child<QAction>(m_window.get(), "actionStatistic")->trigger();
    auto* dialog = m_window->findChild<DialogStatistic*>();
    child<QLineEdit>(dialog, "txtFilename")->setText(m_dir->filePath(QStringLiteral("measurement.txt")));
    return dialog;
}

DialogAutomatic* ProfilesWindowTest::openAutomatic(int scope, double increment)
{
    child<QAction>(m_window.get(), "actionAutomatic")->trigger();
    auto* dialog = m_window->findChild<DialogAutomatic*>();
    child<QDoubleSpinBox>(dialog, "sbIncrement")->setValue(increment);
    const char* const buttons[] = {"chkChannel", "chkModule", "chkSystem", "chkSpecial"};
    child<QAbstractButton>(dialog, buttons[scope])->setChecked(true);
    return dialog;
}

void ProfilesWindowTest::statisticRecordsEveryChannel()
{
    // 48 channels: a line needs every one of them.
    startCrate(R"([{"slot": 0, "type": "THM4805p", "serialNumber": 480}, {"slot": 2, "type": "THE1640p"}])");
    DialogStatistic* statistic = openStatistic();
    for (int start = 0; start < 2; ++start) {
        const quint64 before = statistic->linesWritten();
        child<QAbstractButton>(statistic, "btnStart")->click();
        QVERIFY(statistic->recording());
        QTRY_VERIFY_WITH_TIMEOUT(statistic->linesWritten() >= before + 4, 5000);
        child<QAbstractButton>(statistic, "btnStop")->click();
        QVERIFY(!statistic->recording());
    }
    QCOMPARE(child<QLineEdit>(statistic, "txtLinesWritten")->text(), QString::number(statistic->linesWritten()));

    const QStringList lines = fileLines(m_dir->filePath(QStringLiteral("measurement.txt")));
    QCOMPARE(lines.filter(QStringLiteral("Date;Time;Serial no.;Vmeasure0;Imeasure0;")).size(), 2); // appended each start
    QVERIFY(lines.first().endsWith(QStringLiteral(";Vmeasure47;Imeasure47;Temperature")));
    // Every field a plain number: no group separator, no unit, no empty field of a channel read.
    const QRegularExpression number(QStringLiteral("^-?\\d+(\\.\\d+)?$"));
    int bigModuleLines = 0;
    for (const QString& line : lines.mid(1)) {
        if (line.startsWith(QLatin1String("Date")))
            continue;
        const QStringList fields = line.split(';');
        QVERIFY(
            QDateTime::fromString(fields.at(0) + ' ' + fields.at(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).isValid());
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d$")).match(fields.last()).hasMatch());
        if (fields.at(2) != QLatin1String("480")) {
            QCOMPARE(fields.size(), 3 + 2 * 16 + 1);
            continue;
        }
        ++bigModuleLines;
        QCOMPARE(fields.size(), 3 + 2 * 48 + 1);
        for (int field = 3; field < 3 + 2 * 48; ++field)
            QVERIFY2(number.match(fields.at(field)).hasMatch(), qPrintable(line));
    }
    QVERIFY(bigModuleLines >= 2);
}

void ProfilesWindowTest::statisticSingleChannelOnce()
{
    startCrate(
        R"([{"slot": 0, "type": "THE1640p", "serialNumber": 100}, {"slot": 1, "type": "THE1640p", "serialNumber": 101}])");
    DialogStatistic* statistic = openStatistic();
    // Both modules' channels read (the window asks for every module's while shown).
    Poller* poller = m_window->deviceSession()->poller();
    QTRY_VERIFY_WITH_TIMEOUT(
        poller->moduleSnapshot(1) && poller->moduleSnapshot(1)->channelsFresh(ModuleSnapshot::nowMs()), 5000);
    child<QAbstractButton>(statistic, "chkSingleChannel")->click();
    child<QSpinBox>(statistic, "spbChannelNumber")->setValue(3);
    child<QAbstractButton>(statistic, "pushButtonOnce")->click();
    QVERIFY(!statistic->recording());
    QTRY_VERIFY_WITH_TIMEOUT(statistic->linesWritten() >= 2, 5000);
    QVERIFY(!statistic->recording());
    QTest::qWait(1000); // no further read is recorded

    const QStringList lines = fileLines(m_dir->filePath(QStringLiteral("measurement.txt")));
    QCOMPARE(lines.first(), QStringLiteral("Date;Time;Serial no.;Channel no.;Vmeasure;Imeasure;Temperature"));
    // One pass: one line per module.
    QCOMPARE(lines.size(), 3);
    QStringList serials;
    for (const QString& line : lines.mid(1)) {
        const QStringList fields = line.split(';');
        QCOMPARE(fields.size(), 7);
        QCOMPARE(fields.at(3), QStringLiteral("3"));
        serials.append(fields.at(2));
    }
    QCOMPARE(serials, (QStringList{"100", "101"}));
    QVERIFY(child<QAbstractButton>(statistic, "btnStart")->isEnabled());
}

void ProfilesWindowTest::statisticUnwritableFile()
{
    DialogStatistic statistic(nullptr);
    statistic.setUserDialogs(&m_dialogs);
    auto* name = child<QLineEdit>(&statistic, "txtFilename");
    name->setText(QString());
    QVERIFY(!child<QAbstractButton>(&statistic, "btnStart")->isEnabled());
    QVERIFY(!child<QAbstractButton>(&statistic, "pushButtonOnce")->isEnabled());
    name->setText(QStringLiteral("/no-such-folder/m.txt"));
    child<QAbstractButton>(&statistic, "btnStart")->click();
    QCOMPARE(m_dialogs.messages(), QStringList{QStringLiteral("Can not open file '/no-such-folder/m.txt' for writing!")});
    QVERIFY(!statistic.recording());
    QVERIFY(child<QAbstractButton>(&statistic, "btnStart")->isEnabled());
    // Once tries at the window's next tick only, not at every one.
    child<QAbstractButton>(&statistic, "pushButtonOnce")->click();
    statistic.show();
    QTest::qWait(3 * ToolWindow::freshnessTickMs);
    QCOMPARE(m_dialogs.messages().size(), 2);
}

void ProfilesWindowTest::statisticBookkeeping()
{
    DialogStatistic statistic(nullptr);
    child<QLineEdit>(&statistic, "txtFilename")->setText(m_dir->filePath(QStringLiteral("book.txt")));
    statistic.setChannelCount(2);
    child<QAbstractButton>(&statistic, "btnStart")->click();
    std::vector<std::unique_ptr<MemoryModule>> modules;
    const auto module = [&](int serial) {
        for (const std::unique_ptr<MemoryModule>& known : modules) {
            if (known->serialNumber() == serial)
                return known.get();
        }
        modules.push_back(std::make_unique<MemoryModule>(2, 20, serial));
        modules.back()->setVoltagePrecision(1);
        modules.back()->setCurrentPrecision(3);
        return modules.back().get();
    };
    const qint64 now = ModuleSnapshot::nowMs();
    // A read of both channels (channel 1 failed unless `channel1`) with `now` on the window's clock.
    const auto report = [&](int serial, qint64 readAtMs, bool channel1, qint64 temperatureAtMs = -1) {
        MemoryModule* shown = module(serial);
        ModuleSnapshot snapshot;
        snapshot.serialNumber = serial;
        snapshot.voltageUnit = QStringLiteral("V");
        snapshot.currentUnit = shown->currentUnit(0);
        snapshot.channels.resize(2);
        snapshot.channels[0].complete = true;
        snapshot.channels[0].voltageMeasure = 1000.5f;
        snapshot.channels[0].currentMeasure = 0.1f;
        snapshot.channels[1].complete = channel1;
        snapshot.channels[1].voltageMeasure = 2.0f;
        snapshot.channels[1].currentMeasure = 0.2f;
        snapshot.channelsReadAtMs = snapshot.lastAnswerAtMs = readAtMs;
        snapshot.values.temperature[0] = 31.5f;
        snapshot.values.temperature[1] = 99.0f;
        snapshot.temperaturesReadAtMs = temperatureAtMs;
        statistic.showAnyModuleSnapshot(shown, snapshot, now);
    };
    report(7, now - 1500, false); // channel 1 not read; no temperature read yet
    report(7, now - 1500, true);  // the same read published again
    report(7, now - 2100, true);  // stale: not written
    report(7, now, true, now);
    report(8, now, true, now - 2100); // a stale temperature is not the module's
    // The units changed after the read: its numbers are not in the units shown.
    module(9)->setVoltageUnit(QStringLiteral("kV"));
    report(9, now, true);
    for (int serial = 100; serial < 100 + DialogStatistic::maxModules - 2; ++serial)
        report(serial, now, true); // the 65th module seen (serial 161) has no slot
    QCOMPARE(statistic.linesWritten(), quint64(DialogStatistic::maxModules));

    const QStringList lines = fileLines(m_dir->filePath(QStringLiteral("book.txt")));
    QCOMPARE(lines.first(), QStringLiteral("Date;Time;Serial no.;Vmeasure0;Imeasure0;Vmeasure1;Imeasure1;Temperature"));
    QVERIFY2(lines.at(1).endsWith(QStringLiteral(";7;1000.5;0.100;;;0.0")), qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).endsWith(QStringLiteral(";7;1000.5;0.100;2.0;0.200;31.5")), qPrintable(lines.at(2)));
    QVERIFY2(lines.at(3).endsWith(QStringLiteral(";8;1000.5;0.100;2.0;0.200;0.0")), qPrintable(lines.at(3)));
    QVERIFY(lines.filter(QStringLiteral(";9;")).isEmpty());
    QVERIFY(lines.filter(QStringLiteral(";160;")).size() == 1 && lines.filter(QStringLiteral(";161;")).isEmpty());
    // The line carries the time of its read, not of its writing.
    const QStringList first = lines.at(1).split(';');
    const QDateTime readAt =
        QDateTime::fromString(first.at(0) + ' ' + first.at(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    QVERIFY(qAbs(readAt.msecsTo(QDateTime::currentDateTime()) - 1500) < 500);
}

void ProfilesWindowTest::automaticStepsCrate()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p", "serialNumber": 100}])");
    SnmpModule crate(m_probe.get(), 0);
    QVERIFY(crate.setAllChannelsVoltageSet(250));
    DialogAutomatic* automatic = openAutomatic(1, 100);
    for (float expected : {350.0f, 450.0f, 500.0f, 400.0f, 300.0f, 400.0f}) {
        automaticStep();
        QCOMPARE(crateVoltageSet(0, 0), expected);
        QCOMPARE(crateVoltageSet(0, 15), expected);
    }
    // Shown in kV, the limits stay volts: 500 V, not 500 kV (which the crate would refuse).
    m_window->currentModule()->setVoltageUnit(QStringLiteral("kV"));
    automaticStep();
    QCOMPARE(crateVoltageSet(0, 0), 500.0f);

    // Driven by the timer: each step's control pass logs the channels' currents.
    auto* log = child<QTextEdit>(automatic, "txtLog");
    m_window->automaticDesk()->setTimerIntervalMs(500);
    auto* startStop = child<QAbstractButton>(automatic, "btnStartStop");
    startStop->click();
    QCOMPARE(startStop->text(), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(crateVoltageSet(0, 0) == 400.0f, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains(QStringLiteral("Channel 15: High Range Imeas = ")), 5000);
    startStop->click();
    QCOMPARE(startStop->text(), QStringLiteral("Start"));
    QVERIFY(!child<QTimer>(m_window.get(), "automaticTimer")->isActive());
    QVERIFY(fileLines(m_dir->filePath(QStringLiteral("autologfile.csv"))).size() >= 1);
}

void ProfilesWindowTest::automaticSpecialScope()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}, {"slot": 4, "type": "THE1640p"}])");
    openAutomatic(3, 100);
    automaticStep(); // from 0 V
    QCOMPARE(crateVoltageSet(0, 3), 100.0f);
    QCOMPARE(crateVoltageSet(4, 3), 100.0f);
    // The journal names automatic stepping as the source of its writes.
    const QStringList journal = WriteJournal::instance().latestLines(4);
    QVERIFY(!journal.isEmpty());
    JournalLine last;
    QVERIFY(JournalLine::parse(journal.last(), &last));
    QCOMPARE(last.source, QStringLiteral("automatic"));
}

void ProfilesWindowTest::automaticChannelScopeNeedsRow()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    DialogAutomatic* automatic = openAutomatic(0, 100);
    child<ChannelTable>(m_window.get(), "table")->setCurrentCell(-1, -1);
    auto* startStop = child<QAbstractButton>(automatic, "btnStartStop");
    startStop->click();
    QCOMPARE(m_dialogs.messages().size(), 1);
    QVERIFY(m_dialogs.messages().first().startsWith(QStringLiteral("No channel is selected.")));
    QVERIFY(!child<QTimer>(m_window.get(), "automaticTimer")->isActive());
    QVERIFY(!automatic->running());
    QCOMPARE(startStop->text(), QStringLiteral("Start"));
}

void ProfilesWindowTest::profileSaveAndCancelledLoad()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p", "serialNumber": 4711}])");
    SnmpModule crate(m_probe.get(), 0);
    QVERIFY(crate.setChannelVoltageSet(0, 1234));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->currentModule()->channelVoltageSet(0), 1234.0f, 5000);
    m_dialogs.fileName = m_dir->filePath(QStringLiteral("saved"));
    child<QAction>(m_window.get(), "actionSaveProfile")->trigger();
    const QString saved = m_dialogs.fileName + QStringLiteral(".txt");
    // Read on the device side: the window returns before the file is there.
    QVERIFY(!QFile::exists(saved));
    QTRY_COMPARE_WITH_TIMEOUT(
        m_window->statusBar()->currentMessage(), QStringLiteral("Profile saved to file %1.").arg(saved), 10000);
    QCOMPARE(QSettings(saved, QSettings::IniFormat).value("Channel0/VoltageSet").toString(), QStringLiteral("1234.000"));
    QVERIFY(child<QTimer>(m_window.get(), "refreshTimer")->isActive());

    QSettings(saved, QSettings::IniFormat).setValue(QStringLiteral("Channel0/VoltageSet"), QStringLiteral("99.5"));
    m_dialogs.fileName = saved;
    QString preview;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = m_window->findChild<DialogWriteProfile*>();
        QTRY_VERIFY(dialog && dialog->isVisible());
        preview = dialog->logText();
        child<QAbstractButton>(dialog, "btnCancel")->click();
    });
    child<QAction>(m_window.get(), "actionLoadProfile")->trigger();
    QVERIFY(preview.startsWith(QStringLiteral("Using profile from file %1\n\nModule.Control").arg(saved)));
    QVERIFY(preview.contains(QStringLiteral("Channel0.VoltageSet (V)\t\t99.5\n")));
    QCOMPARE(crateVoltageSet(0, 0), 1234.0f);
    QVERIFY(child<QTimer>(m_window.get(), "refreshTimer")->isActive());
    QVERIFY(m_dialogs.messages().isEmpty());

    // Ok starts the write and the window returns at once; the write's log follows the preview in
    // the shown window. An MPOD module has no stop mode: the stop request is refused at once, with
    // the reason, and nothing else reaches the module.
    QTimer::singleShot(0, this, [&] {
        auto* dialog = m_window->findChild<DialogWriteProfile*>();
        QTRY_VERIFY(dialog && dialog->isVisible());
        child<QAbstractButton>(dialog, "btnOK")->click();
    });
    child<QAction>(m_window.get(), "actionLoadProfile")->trigger();
    auto* dialog = m_window->findChild<DialogWriteProfile*>();
    QVERIFY(dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(child<QAbstractButton>(dialog, "btnOK")->isEnabled(), 10000);
    const QString log = dialog->logText();
    QVERIFY(log.startsWith(QStringLiteral("Using profile from file")) && log.contains(QStringLiteral("\t99.5\n")));
    QVERIFY2(log.contains(QStringLiteral("Setting Module to mode STOP ...")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("not offered by this module")), qPrintable(log));
    QVERIFY2(!m_dialogs.messages().isEmpty(), "the refusal is told, not only logged");
    QCOMPARE(crateVoltageSet(0, 0), 1234.0f);
    QVERIFY(child<QTimer>(m_window.get(), "refreshTimer")->isActive());
}

// A file that says nothing usable, or numbers whose units the operator does not confirm, reach
// neither the preview nor the module.
void ProfilesWindowTest::profileLoadRefusals()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p", "serialNumber": 4711}])");
    QTRY_VERIFY_WITH_TIMEOUT(m_window->currentModule(), 5000);
    m_dialogs.fileName = m_dir->filePath(QStringLiteral("empty.txt"));
    QFile empty(m_dialogs.fileName);
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    child<QAction>(m_window.get(), "actionLoadProfile")->trigger();
    QCOMPARE(m_dialogs.messages().size(), 1);
    QVERIFY2(m_dialogs.messages().first().contains(QStringLiteral("is empty or not a profile")),
        qPrintable(m_dialogs.messages().first()));

    m_dialogs.asked.clear();
    m_dialogs.fileName = m_dir->filePath(QStringLiteral("old.txt"));
    QSettings(m_dialogs.fileName, QSettings::IniFormat)
        .setValue(QStringLiteral("Channel0/VoltageMaxSet"), QStringLiteral("3"));
    m_window->currentModule()->setVoltageUnit(QStringLiteral("kV"));
    child<QAction>(m_window.get(), "actionLoadProfile")->trigger();
    QCOMPARE(m_dialogs.messages().size(), 1);
    QVERIFY2(m_dialogs.messages().first().contains(QStringLiteral("records no units"))
            && m_dialogs.messages().first().contains(QStringLiteral("in kV and mA?")),
        qPrintable(m_dialogs.messages().first()));
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Profile not written: its units were not confirmed."));
    const auto* dialog = m_window->findChild<DialogWriteProfile*>();
    QVERIFY(!dialog || !dialog->isVisible());
    QVERIFY(child<QTimer>(m_window.get(), "refreshTimer")->isActive());
}

QTEST_MAIN(ProfilesWindowTest)
#include "tst_profileswindow.moc"
