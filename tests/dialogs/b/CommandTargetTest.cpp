// Commands reach exactly the module and channels the operator chose: the choice survives the
// table blanking while the module does not answer, a command without a choice or without an
// answering module is refused in red, a whole selected row is one channel, every failed channel
// is named, and the dialogs that show a channel's settings start only from an answered read and
// send only what the operator changed.
#include "AnsweredValues.h"
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"

#include "app/ChannelMenuCommands.h"
#include "app/ChannelTable.h"
#include "app/CommandDesk.h"
#include "app/IsolatedSettings.h"
#include "app/TesmarControl.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/Poller.h"
#include "device/StatusWordBits.h"
#include "device/SteadyClock.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <memory>

namespace {

// Fails chosen channels' switching and, on demand, the read of a channel's settings.
class TargetModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    QHash<int, QString> failingChannels; // channel -> reason of its switch-on failure
    std::atomic<bool> settingsUnanswered{false};

    bool setChannelOn(int channel) override
    {
        const QString reason = failingChannels.value(channel);
        if (!reason.isEmpty())
            return fail(reason);
        return MemoryModule::setChannelOn(channel);
    }
    bool readChannelSettings(int channel, ChannelSettings* settings) override
    {
        if (settingsUnanswered)
            return fail(QStringLiteral("no answer"));
        return MemoryModule::readChannelSettings(channel, settings);
    }
};

using Failures = QHash<int, QString>;

const QString noAnswerText = QStringLiteral("no answer: check address, port and read community");

} // namespace

class CommandTargetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void choiceSurvivesBlanking();
    void refusedWithoutTarget_data();
    void refusedWithoutTarget();
    void wholeRowIsOneChannel();
    void everyFailedChannelNamed_data();
    void everyFailedChannelNamed();
    void dialogsStartFromAnsweredValues_data();
    void dialogsStartFromAnsweredValues();
    void nominalValuesOnlyInStopMode();
    void settingPromptsStartFromAnsweredRead();
    void wordChangesKeepTheOtherBits();

private:
    ChannelTable* table() const { return m_window->findChild<ChannelTable*>(QStringLiteral("table")); }
    QAction* action(const char* name) const { return m_window->findChild<QAction*>(QLatin1String(name)); }
    QString statusMessage() const { return m_window->statusBar()->currentMessage(); }
    QString channelLabel() const { return m_window->findChild<QLabel*>(QStringLiteral("lblChannel"))->text(); }
    // Waits until the module is lost (nothing answered for the freshness time) or back.
    void waitLost();
    void waitShown();
    // Writes other than the window's own reads, e.g. "setChannelOn(5)".
    QStringList writes() const { return m_module->writes(); }

    std::unique_ptr<TesmarControl> m_window;
    TargetModule* m_module = nullptr; // owned by the window's session
    ScriptedDialogs m_dialogs;
};

void CommandTargetTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void CommandTargetTest::init()
{
    UserDialogs::setStartupOverride(&m_dialogs);
    auto factory = std::make_unique<MemoryControllerFactory>([this] {
        m_module = new TargetModule(48, 20, 77);
        return QVector<MemoryModule*>{m_module};
    });
    m_window = std::make_unique<TesmarControl>(std::move(factory));
    m_window->setUserDialogs(&m_dialogs);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->deviceSession()->isConnecting(), 5000);
    QVERIFY(m_module);
    waitShown();
}

void CommandTargetTest::cleanup()
{
    m_window.reset();
    m_module = nullptr;
    UserDialogs::setStartupOverride(nullptr);
    m_dialogs.answers.clear();
    m_dialogs.fill = nullptr;
}

void CommandTargetTest::waitLost()
{
    // Nothing is answered from now on: the freshness time passes on the readings' clock instead
    // of being waited for (a read already running is stamped with its start, before the move).
    SteadyClock::advanceMs(ModuleSnapshot::freshForMs + 100);
    QTRY_VERIFY_WITH_TIMEOUT(!table()->isEnabled(), 5000);
}

void CommandTargetTest::waitShown()
{
    QTRY_VERIFY_WITH_TIMEOUT(table()->isEnabled() && table()->rowCount() == 48 && table()->item(5, 0)
            && !table()->item(5, 0)->text().isEmpty() && table()->item(5, 0)->text() != QLatin1String("---"),
        5000);
}

void CommandTargetTest::choiceSurvivesBlanking()
{
    table()->setCurrentCell(5, 0);
    QCOMPARE(channelLabel(), QStringLiteral("Channel 5 selected"));
    m_module->setAnswering(false);
    waitLost();
    QCOMPARE(channelLabel(), QStringLiteral("Channel 5 selected"));
    m_module->setAnswering(true);
    waitShown();
    QCOMPARE(table()->currentRow(), 5);
    m_module->clearWrites();

    // Every channel command and dialog acts on channel 5, never on channel 0.
    const QList<QPair<const char*, QString>> commands{
        {"actionSetChannelOn", "setChannelOn(5)"},
        {"actionSetChannelOff", "setChannelOff(5)"},
        {"actionSetChannelEmergencyOff", "setChannelEmergencyOff(5)"},
        {"actionClearChannelEmergencyOff", "clearChannelEmergencyOff(5)"},
        {"actionClearChannelEvents", "setChannelEventStatus(5, 0)"},
    };
    for (const auto& command : commands) {
        m_module->clearWrites();
        action(command.first)->trigger();
        QTRY_COMPARE(writes(), QStringList{command.second});
    }

    m_module->clearWrites();
    m_dialogs.answers = {1500.0};
    action("actionSetChannelVoltage")->trigger();
    QTRY_COMPARE(writes(), QStringList{"setChannelVoltageSet(5, 1500)"});

    m_module->clearWrites();
    m_dialogs.fill = [](QDialog* dialog) {
        if (!waitForAnsweredValues(dialog))
            return int(QDialog::Rejected);
        child<QCheckBox>(dialog, "chkDelayedTrip")->setChecked(true);
        child<QSpinBox>(dialog, "sbDelay")->setValue(700);
        return int(QDialog::Accepted);
    };
    action("actionSetChannelCurrentTrip")->trigger();
    QTRY_COMPARE(writes(), QStringList{"setChannelDelayedTripAction(5, 1, 700)"});

    m_module->clearWrites();
    m_dialogs.fill = [](QDialog* dialog) {
        if (!waitForAnsweredValues(dialog))
            return int(QDialog::Rejected);
        child<QRadioButton>(dialog, "shutDownChannel")->setChecked(true);
        return int(QDialog::Accepted);
    };
    action("actionSetChannelExternalInhibitAction")->trigger();
    QTRY_COMPARE(writes(), QStringList{"setChannelInhibitAction(5, 2)"});
}

void CommandTargetTest::refusedWithoutTarget_data()
{
    QTest::addColumn<int>("channel"); // -1: none chosen
    QTest::addColumn<bool>("answering");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("no channel chosen") << -1 << true << "actionSetChannelOn"
                                       << "Switch on: no channel selected; nothing was sent." << QStringList();
    QTest::newRow("trip dialog without a channel")
        << -1 << true << "actionSetChannelCurrentTrip"
        << "Set current trip: no channel selected; nothing was sent." << QStringList();
    QTest::newRow("module not answering") << 5 << false << "actionSetChannelOn"
                                          << "Switch on: memory does not answer; nothing was sent." << QStringList();
    QTest::newRow("voltage prompt, module not answering")
        << 5 << false << "actionSetChannelVoltage"
        << "Set voltage: memory does not answer; nothing was sent." << QStringList();
    // Taking high voltage away is tried even so, and its failure named.
    QTest::newRow("emergency off, module not answering")
        << 5 << false << "actionSetChannelEmergencyOff"
        << "Channel 5: emergency off failed: " + noAnswerText << QStringList{"setChannelEmergencyOff(5)"};
}

void CommandTargetTest::refusedWithoutTarget()
{
    QFETCH(int, channel);
    QFETCH(bool, answering);
    QFETCH(QString, command);
    QFETCH(QString, message);
    QFETCH(QStringList, sent);
    table()->setCurrentCell(channel, channel < 0 ? -1 : 0);
    if (!answering) {
        m_module->setAnswering(false);
        waitLost();
    }
    m_module->clearWrites();
    m_dialogs.answers = {100.0};
    m_dialogs.fill = [](QDialog*) { return int(QDialog::Accepted); };
    action(qPrintable(command))->trigger();
    QTRY_COMPARE(statusMessage(), message);
    QTRY_COMPARE(writes(), sent);
}

void CommandTargetTest::wholeRowIsOneChannel()
{
    table()->selectRow(3);
    m_module->clearWrites();
    action("actionSetChannelOn")->trigger();
    QTRY_COMPARE(writes(), QStringList{"setChannelOn(3)"});
}

void CommandTargetTest::everyFailedChannelNamed_data()
{
    QTest::addColumn<Failures>("failing");
    QTest::addColumn<QString>("message");
    QTest::newRow("one channel") << Failures{{36, "wrongValue"}}
                                 << "Channel 36: switch on refused by the crate (wrongValue)";
    QTest::newRow("three channels, one reason") << Failures{{5, "no answer"}, {35, "no answer"}, {36, "no answer"}}
                                                << "Switch on failed for channels 5, 35, 36: " + noAnswerText;
    QTest::newRow("two reasons") << Failures{{5, "no answer"}, {35, "no answer"}, {36, "wrongValue"}}
                                 << "Switch on failed for channels 5, 35: " + noAnswerText
            + "; channel 36: refused by the crate (wrongValue)";
}

void CommandTargetTest::everyFailedChannelNamed()
{
    QFETCH(Failures, failing);
    QFETCH(QString, message);
    m_module->failingChannels = failing;
    m_module->clearWrites();
    action("actionSetAllChannelsOn")->trigger();
    QTRY_COMPARE(statusMessage(), message);
    // The others were switched on all the same.
    QCOMPARE(writes().size(), 48 - failing.size());
}

void CommandTargetTest::dialogsStartFromAnsweredValues_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("message");
    const QString unchanged = QStringLiteral("nothing was changed, nothing was sent.");
    for (const char* command : {"currentTrip", "inhibitAction", "nominalValues"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 read unanswered").arg(command))) << command << false << QString();
        QTest::newRow(qPrintable(QStringLiteral("%1 ok unchanged").arg(command))) << command << true << unchanged;
    }
}

void CommandTargetTest::dialogsStartFromAnsweredValues()
{
    QFETCH(QString, command);
    QFETCH(bool, answered);
    QFETCH(QString, message);
    // The channel ramps down after 700 ms on a trip and shuts the module down on an inhibit:
    // a dialog that took a failed read for the channel's settings would remove both.
    MemoryModule::Channel channel = m_module->channel(5);
    channel.delayedTripAction = BaseModule::RampDownChannel;
    channel.delayedTripTime = 700;
    channel.inhibitAction = BaseModule::ShutDownModule;
    channel.currentSet = 0.002f;
    m_module->setChannel(5, channel);
    m_module->settingsUnanswered = !answered;
    table()->setCurrentCell(5, 0);
    m_module->clearWrites();

    bool okEnabled = false;
    bool okDefault = false;
    QString pendingText;
    m_dialogs.fill = [&](QDialog* dialog) {
        okEnabled = waitForAnsweredValues(dialog, answered ? 5000 : 1500);
        // Enter confirms the answered values (the disabled OK gave the default to Cancel).
        okDefault = child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->isDefault();
        pendingText = child<QLabel>(dialog, "lblPendingValues")->text();
        // Pressed whatever the dialog shows: a disabled OK must not let anything through.
        return int(QDialog::Accepted);
    };
    // Called as the menu would: some of these menu entries are offered for VME modules only.
    QVERIFY(QMetaObject::invokeMethod(m_window->channelMenuCommands(), qPrintable(command)));
    QCOMPARE(okEnabled, answered);
    QCOMPARE(okDefault, answered);
    QCOMPARE(writes(), QStringList());
    if (answered)
        QVERIFY2(statusMessage().endsWith(message), qPrintable(statusMessage()));
    else
        QCOMPARE(pendingText,
            "Channel 5 could not be read: " + noAnswerText + ". Nothing can be set from here; close and try again.");
    const MemoryModule::Channel after = m_module->channel(5);
    QCOMPARE(after.delayedTripAction, BaseModule::RampDownChannel);
    QCOMPARE(after.inhibitAction, BaseModule::ShutDownModule);
}

void CommandTargetTest::nominalValuesOnlyInStopMode()
{
    // The channel window's nominal values go out only while the module reports stop mode; a
    // status read that failed (0) is no "running" either: the latest answered one decides.
    m_module->clearWrites();
    m_window->commandDesk()->setChannelVoltageNominal(5, 2500.0f);
    QCOMPARE(
        statusMessage(), QStringLiteral("Channel 5: set nominal voltage 2500 V refused (the module is not in stop mode)"));
    QCOMPARE(writes(), QStringList());

    m_module->setStatusWord(ModuleStatusBit::stopped);
    const auto stopped = [this] {
        const auto snapshot = m_window->deviceSession()->poller()->moduleSnapshot(0);
        return snapshot && snapshot->values.statusValid && (snapshot->values.status & ModuleStatusBit::stopped);
    };
    QTRY_VERIFY_WITH_TIMEOUT(stopped(), 5000);
    m_window->commandDesk()->setChannelVoltageNominal(5, 2500.0f);
    QTRY_COMPARE(writes(), QStringList{"setChannelVoltageNominal(5, 2500)"});
}

void CommandTargetTest::settingPromptsStartFromAnsweredRead()
{
    // The prompts open once the module answered the setting (read off the GUI thread) with it
    // preselected; a read that failed preselects nothing and says so, and its empty choice
    // sends nothing.
    {
        std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
        m_module->state.digitalFilter = 256;
        m_module->state.adcSamplesPerSecond = 60;
    }
    m_module->clearWrites();
    m_dialogs.asked.clear();
    m_dialogs.answers = {QVariant()};
    action("actionAdcSampleRate")->trigger();
    QTRY_COMPARE(m_dialogs.labels().size(), 1);
    QCOMPARE(m_dialogs.labels().first(), QStringLiteral("Choose ADC Sample Rate (samples per second):"));
    QCOMPARE(m_dialogs.prompts().last().items.first(), QStringLiteral("50"));
    QCOMPARE(m_dialogs.prompts().last().current, 1);
    m_dialogs.answers = {QStringLiteral("1024")};
    action("actionDigitalFilter")->trigger();
    QTRY_COMPARE(m_dialogs.labels().size(), 2);
    QCOMPARE(m_dialogs.prompts().last().current, 3);
    QTRY_COMPARE(writes(), QStringList{"setDigitalFilter(1024)"});

    m_module->setReadsFail(true);
    m_module->clearWrites();
    m_dialogs.answers = {QString()};
    action("actionDigitalFilter")->trigger();
    QTRY_COMPARE(m_dialogs.labels().size(), 3);
    QCOMPARE(m_dialogs.labels().last(),
        QStringLiteral("Choose Digital Filter averaging steps:\n\nThe current setting could not be read (%1).")
            .arg(noAnswerText));
    QCOMPARE(m_dialogs.prompts().last().items.first(), QString());
    QCOMPARE(m_dialogs.prompts().last().current, 0);
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QCOMPARE(writes(), QStringList());
}

void CommandTargetTest::wordChangesKeepTheOtherBits()
{
    // The tool windows' mask and interlock-out changes: the word is read on the device side and
    // only the operator's bits change; a module that stopped answering gets nothing written.
    {
        std::lock_guard<std::recursive_mutex> lock(m_module->m_mutex);
        m_module->state.eventMask = 0x0F00;
        m_module->state.ilkOutControl = 0x1010; // reserved bits 4 and 12
    }
    m_module->clearWrites();
    m_window->commandDesk()->changeModuleEventMask(0x0100, 0x0001);
    m_window->commandDesk()->changeInterlockOutControl(0, 0x8000);
    m_window->commandDesk()->changeChannelEventMask(3, 0, 0x0004);
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QCOMPARE(writes(), (QStringList{"setEventMask(3585)", "SetModuleIlkOutControl(36880)", "setChannelEventMask(3, 4)"}));

    m_module->setAnswering(false);
    m_module->clearWrites();
    m_window->commandDesk()->changeModuleEventMask(0, 0x0002);
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QCOMPARE(writes(), QStringList());
    QCOMPARE(statusMessage(), QStringLiteral("Module event mask not written: the module did not answer"));
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QApplication app(argc, argv);
    CommandTargetTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CommandTargetTest.moc"
