// The command desk without the main window, against the simulated crate: the tool windows' writes
// reach exactly the shown module's channel, the channels of a command show pending until its
// outcome is back, and refusals (before sending and by the crate) are red and journaled.
#include "IsolatedSettings.h"

#include "app/CommandDesk.h"

#include "common/ScriptedDialogs.h"
#include "device/CrateFixture.h"

#include "device/BaseModule.h"
#include "device/ChannelSelection.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpControllerFactory.h"
#include "device/StatusWordBits.h"
#include "device/WriteJournal.h"
#include "dialogs/common/StatusMessages.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QNetworkProxyFactory>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include <memory>

namespace {
constexpr int answerTimeoutMs = 5000;
} // namespace

class CommandDeskTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void toolWindowWritesReachOnlyTheShownChannel();
    void pendingUntilTheOutcomeIsBack();
    void refusalsAreRedAndJournaled();

private:
    // Waits until the poller answered for the shown module (the desk sends nothing before).
    bool waitAnswering(int index);
    // The channels of `module` whose control word has the on bit, read on the device side.
    QList<int> channelsOn(BaseModule* module);
    // The journal lines written since init().
    QList<JournalLine> newJournalLines() const;
    QString statusMessage() const { return m_window->statusBar()->currentMessage(); }
    bool statusIsRed() const { return StatusMessages::shownKind(m_window->statusBar()) == StatusMessages::Kind::Error; }

    std::unique_ptr<CrateFixture> m_crate;
    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<QMainWindow> m_window;
    ScriptedDialogs m_dialogs;
    ChannelSelection m_selection;
    CommandDesk* m_desk = nullptr;
    qint64 m_journalBytes = 0;
};

void CommandDeskTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QNetworkProxyFactory::setUseSystemConfiguration(false);
}

void CommandDeskTest::init()
{
    m_crate = std::make_unique<CrateFixture>(QStringLiteral(
        R"([{"slot": 1, "type": "THE1640p", "channels": 8}, {"slot": 4, "type": "THE1640p", "channels": 8}])"));
    QString error;
    QVERIFY2(m_crate->start(&error), qPrintable(error));
    m_session = std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
    QVERIFY(m_session->connectTo(m_crate->simulator().address()));
    QCOMPARE(m_session->modules().size(), 2);
    m_session->setNeeds(this, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);

    m_window = std::make_unique<QMainWindow>();
    CommandDesk::WindowHooks hooks;
    hooks.dialogs = [this] { return &m_dialogs; };
    const QString address = m_session->controllerAddress();
    hooks.controllerAddress = [address] { return address; };
    hooks.moduleAnswering = [this](int index, qint64 nowMs) {
        const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->snapshotOf(index);
        return snapshot && snapshot->connected(nowMs);
    };
    hooks.refreshCurrentModuleNow = [] {};
    m_desk = new CommandDesk(m_session.get(), &m_selection, m_window->statusBar(), std::move(hooks), m_window.get());
    m_journalBytes = QFileInfo(WriteJournal::instance().filePath()).size();
}

void CommandDeskTest::cleanup()
{
    m_window.reset(); // the desk with it
    m_desk = nullptr;
    m_session.reset();
    m_crate.reset();
    m_selection = ChannelSelection();
}

bool CommandDeskTest::waitAnswering(int index)
{
    m_session->setCurrentModuleIndex(index);
    QDeadlineTimer deadline(answerTimeoutMs);
    while (!deadline.hasExpired()) {
        const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->snapshotOf(index);
        if (snapshot && snapshot->channelsFresh(ModuleSnapshot::nowMs()) && snapshot->values.statusValid)
            return true;
        QTest::qWait(20);
    }
    return false;
}

QList<int> CommandDeskTest::channelsOn(BaseModule* module)
{
    auto on = std::make_shared<QList<int>>();
    bool done = false;
    m_desk->sendCommand(
        module, QStringLiteral("read control"),
        [on](BaseModule& each) {
            for (int channel = 0; channel < each.channelNumber(); ++channel) {
                quint32 control = 0;
                if (!each.readChannelControl(channel, &control))
                    on->append(-1 - channel); // a read that failed shows as a negative entry
                else if (control & ChannelControlBit::on)
                    on->append(channel);
            }
            return CommandOutcome();
        },
        CommandDesk::Urgency::Normal, [&done](const CommandOutcome&) { done = true; });
    if (!QTest::qWaitFor([&done] { return done; }, answerTimeoutMs))
        return {-100};
    return *on;
}

QList<JournalLine> CommandDeskTest::newJournalLines() const
{
    QFile file(WriteJournal::instance().filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    file.seek(m_journalBytes);
    QList<JournalLine> lines;
    for (const QString& text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        JournalLine line;
        if (JournalLine::parse(text, &line))
            lines.append(line);
    }
    return lines;
}

// A control word change from the channel window goes to the module shown when it is given and
// to the one channel it names: after one change on each module, exactly those two channels are
// on, each on its own module.
void CommandDeskTest::toolWindowWritesReachOnlyTheShownChannel()
{
    BaseModule* first = m_session->modules().at(0);
    BaseModule* second = m_session->modules().at(1);
    QVERIFY(waitAnswering(1));
    m_desk->changeChannelControl(3, 0, ChannelControlBit::on);
    QTRY_COMPARE_WITH_TIMEOUT(m_desk->inFlight(), 0, answerTimeoutMs);
    QVERIFY(waitAnswering(0));
    m_desk->changeChannelControl(5, 0, ChannelControlBit::on);
    QTRY_COMPARE_WITH_TIMEOUT(m_desk->inFlight(), 0, answerTimeoutMs);
    QVERIFY2(!statusIsRed(), qPrintable(statusMessage()));

    QCOMPARE(channelsOn(first), QList<int>{5});
    QCOMPARE(channelsOn(second), QList<int>{3});
}

// The table shows a command's channels pending from the moment it is sent until its outcome is
// back; the desk says when that set changed.
void CommandDeskTest::pendingUntilTheOutcomeIsBack()
{
    QVERIFY(waitAnswering(1));
    BaseModule* module = m_session->modules().at(1);
    const QString key = m_desk->moduleKey(module);
    QSignalSpy changed(m_desk, &CommandDesk::pendingChanged);
    m_desk->submitChannels(module, {2, 6}, BaseModule::SwitchAction::On, QStringLiteral("switch on"));
    QCOMPARE(m_desk->pendingChannels(key), (QSet<int>{2, 6}));
    QCOMPARE(m_desk->pendingChannels(m_desk->moduleKey(m_session->modules().at(0))), QSet<int>());
    QCOMPARE(statusMessage(), QStringLiteral("Switch on: sending to 2 channels..."));
    QTRY_COMPARE_WITH_TIMEOUT(m_desk->inFlight(), 0, answerTimeoutMs);
    QCOMPARE(m_desk->pendingChannels(key), QSet<int>());
    QCOMPARE(changed.count(), 2);
    // The outcome took the pending text away; nothing was refused.
    QCOMPARE(statusMessage(), QString());
    QCOMPARE(channelsOn(module), (QList<int>{2, 6}));
}

// A nominal value from the channel window while the module is not stopped is refused before
// anything is sent; a set value the crate refuses is named with the crate's reason. Both are red
// in the status bar and in the journal with their reason.
void CommandDeskTest::refusalsAreRedAndJournaled()
{
    QVERIFY(waitAnswering(1));
    BaseModule* module = m_session->modules().at(1);
    m_desk->setChannelVoltageNominal(2, 100.0f);
    QCOMPARE(m_desk->inFlight(), 0);
    QCOMPARE(
        statusMessage(), QStringLiteral("Channel 2: set nominal voltage 100 V refused (the module is not in stop mode)"));
    QVERIFY(statusIsRed());
    QList<JournalLine> lines = newJournalLines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0).slot, QStringLiteral("4"));
    QCOMPARE(lines.at(0).channel, QStringLiteral("2"));
    QCOMPARE(lines.at(0).quantity, QStringLiteral("set nominal voltage 100 V"));
    QCOMPARE(lines.at(0).source, QStringLiteral("tool window"));
    QCOMPARE(lines.at(0).result, QStringLiteral("refused: the module is not in stop mode"));

    m_window->statusBar()->clearMessage();
    {
        const WriteSource source("table");
        m_desk->writeChannelValue(module, 1, true, 99999.0f);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_desk->inFlight(), 0, answerTimeoutMs);
    QVERIFY2(statusMessage().startsWith(QStringLiteral("Channel 1: set voltage 99999 V refused by the crate")),
        qPrintable(statusMessage()));
    QVERIFY(statusIsRed());
    lines = newJournalLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).isSent());
    QCOMPARE(lines.at(2).channel, QStringLiteral("1"));
    QCOMPARE(lines.at(2).source, QStringLiteral("table"));
    QVERIFY2(!lines.at(2).ok() && !lines.at(2).result.isEmpty(), qPrintable(lines.at(2).result));
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QApplication app(argc, argv);
    CommandDeskTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "CommandDeskTest.moc"
