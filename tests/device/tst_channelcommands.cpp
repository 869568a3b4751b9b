// The rules a channel command keeps below the window, headless: where it goes (exactly the shown
// module and the operator's channels on it, also across a rediscovery and with serial numbers
// that repeat), which typed values it refuses (a nominal value that was not read is no limit),
// the nominal-values change with its stop mode, and what a dialog or prompt starts from.
#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include "device/ChannelSelection.h"
#include "device/ChannelSettings.h"
#include "device/CommandTarget.h"
#include "device/DeviceSession.h"
#include "device/ModuleCommands.h"
#include "device/ModuleSnapshot.h"
#include "device/NominalRange.h"
#include "device/SetValueCheck.h"
#include "device/StatusWordBits.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// An in-memory module at a slot of its own (the plain one reports the same address for all).
class SlotModule : public MemoryModule
{
public:
    SlotModule(int slot, int channels, int serialNumber)
        : MemoryModule(channels, 20, serialNumber)
        , m_slot(slot)
    {
    }
    QString address() override { return QStringLiteral("Slot %1").arg(m_slot); }

private:
    int m_slot;
};

// Loses the first `lost` settings reads (no answer), or refuses every one with `refusal`.
class LossyModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    int lost = 0;
    int tries = 0;
    QString refusal;
    bool readChannelSettings(int channel, ChannelSettings* settings) override
    {
        ++tries;
        if (!refusal.isEmpty())
            return fail(refusal);
        if (tries <= lost)
            return fail(QStringLiteral("no answer"));
        return MemoryModule::readChannelSettings(channel, settings);
    }
};

struct Layout
{
    int slot;
    int channels;
    int serialNumber;
};

const QString crate = QStringLiteral("192.0.2.7");

ModuleSnapshot snapshotWith(const QVector<ChannelReading>& channels)
{
    ModuleSnapshot snapshot;
    snapshot.channels = channels;
    snapshot.channelsReadAtMs = ModuleSnapshot::nowMs();
    snapshot.voltageUnit = QStringLiteral("V");
    snapshot.currentUnit = QStringLiteral("mA");
    return snapshot;
}

ChannelReading readChannel(float voltageNominal, float currentNominal)
{
    ChannelReading reading;
    reading.voltageNominal = voltageNominal;
    reading.currentNominal = currentNominal;
    reading.complete = true;
    return reading;
}

} // namespace

class TestChannelCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void cleanup()
    {
        m_session.reset();
        m_made.clear();
    }

    // ---- Where a command goes ----

    // Two modules with the same serial number: the choice made on the second one reaches only
    // the second one, and the first one shown offers no channel of it.
    void sameSerialNumberIsAnotherModule()
    {
        connectTo({{1, 16, 100}, {3, 16, 100}});
        ChannelSelection selection;
        selection.setModule(CommandTarget::moduleKey(crate, *module(1)));
        selection.setChannels({2, 7}, 7);

        CommandTarget target = resolve(1, selection, CommandTarget::Scope::Channels);
        QVERIFY(target.resolved());
        QCOMPARE(target.module, module(1));
        QCOMPARE(target.channels, (QList<int>{2, 7}));

        target = resolve(0, selection, CommandTarget::Scope::Channels);
        QVERIFY(!target.resolved());
        QVERIFY(!target.module);
        QCOMPARE(target.refusal, QStringLiteral("Switch on: no channel selected; nothing was sent."));
    }

    // After a rediscovery the choice names the module at the same place (a new object), only with
    // the channels it has; a choice made on another crate at the same slot chooses nothing.
    void choiceAfterModuleListChange()
    {
        connectTo({{1, 16, 100}, {3, 16, 101}});
        ChannelSelection selection;
        selection.setModule(CommandTarget::moduleKey(crate, *module(1)));
        selection.setChannels({5, 12}, 12);

        // Slot 3 now holds an 8-channel module, listed first.
        m_layouts = {{3, 8, 102}, {1, 16, 100}};
        QVERIFY(m_session->connectTo(crate));
        QCOMPARE(m_session->modules().size(), 2);
        QCOMPARE(module(0)->channelNumber(), 8);
        CommandTarget target = resolve(0, selection, CommandTarget::Scope::Channels);
        QCOMPARE(target.module, module(0));
        QCOMPARE(target.channels, QList<int>{5});
        QVERIFY(!resolve(1, selection, CommandTarget::Scope::Channels).resolved());

        // Only channels beyond the module: nothing chosen, never channel 0 instead.
        selection.setChannels({9, 15}, 15);
        target = resolve(0, selection, CommandTarget::Scope::Channels);
        QVERIFY(!target.resolved());
        QVERIFY(target.channels.isEmpty());
        QCOMPARE(target.refusal, QStringLiteral("Switch on: no channel selected; nothing was sent."));

        CommandTarget::Choice choice = choiceOf(0, selection);
        choice.controllerAddress = QStringLiteral("192.0.2.8");
        selection.setChannels({5}, 5);
        QVERIFY(!CommandTarget::resolve(choice, CommandTarget::Scope::Channels, QStringLiteral("switch on")).resolved());
        QVERIFY(resolve(0, selection, CommandTarget::Scope::Channels).resolved());
    }

    void refusals_data()
    {
        QTest::addColumn<int>("currentIndex");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<bool>("removesVoltage");
        QTest::addColumn<QList<int>>("chosen");
        QTest::addColumn<int>("scope");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QList<int>>("channels");

        const int module = int(CommandTarget::Scope::Module);
        const int channels = int(CommandTarget::Scope::Channels);
        const int one = int(CommandTarget::Scope::OneChannel);
        QTest::newRow("no module shown") << -1 << true << false << QList<int>{3} << module
                                         << "Switch on: no module selected; nothing was sent." << QList<int>{};
        QTest::newRow("index past the list") << 2 << true << true << QList<int>{3} << channels
                                             << "Switch on: no module selected; nothing was sent." << QList<int>{};
        QTest::newRow("not answering") << 0 << false << false << QList<int>{3} << channels
                                       << "Switch on: Slot 1 does not answer; nothing was sent." << QList<int>{};
        QTest::newRow("off goes to a silent module")
            << 0 << false << true << QList<int>{3} << channels << QString() << QList<int>{3};
        QTest::newRow("no selection") << 0 << true << false << QList<int>{} << channels
                                      << "Switch on: no channel selected; nothing was sent." << QList<int>{};
        QTest::newRow("module scope needs no channel")
            << 0 << true << false << QList<int>{} << module << QString() << QList<int>{};
        QTest::newRow("one of two") << 0 << true << false << QList<int>{3, 4} << one
                                    << "Switch on: choose one channel (the all-channels command sets every channel); "
                                       "nothing was sent."
                                    << QList<int>{};
        QTest::newRow("one") << 0 << true << false << QList<int>{4} << one << QString() << QList<int>{4};
    }

    void refusals()
    {
        QFETCH(int, currentIndex);
        QFETCH(bool, answering);
        QFETCH(bool, removesVoltage);
        QFETCH(QList<int>, chosen);
        QFETCH(int, scope);
        QFETCH(QString, refusal);
        QFETCH(QList<int>, channels);

        connectTo({{1, 16, 100}, {3, 16, 101}});
        ChannelSelection selection;
        selection.setModule(CommandTarget::moduleKey(crate, *module(0)));
        selection.setChannels(chosen, -1);
        CommandTarget::Choice choice = choiceOf(currentIndex, selection);
        choice.answering = answering;
        const CommandTarget target =
            CommandTarget::resolve(choice, CommandTarget::Scope(scope), QStringLiteral("switch on"), removesVoltage);
        QCOMPARE(target.refusal, refusal);
        QCOMPARE(target.resolved(), refusal.isEmpty());
        QCOMPARE(target.module, refusal.isEmpty() ? module(0) : nullptr);
        QCOMPARE(target.channels, channels);
    }

    // ---- Typed values ----

    void typedValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("voltage");
        QTest::addColumn<bool>("bipolar");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("refusal");

        QTest::newRow("in range") << "2999.5" << true << false << 0 << "set voltage 2999.5 V" << QString();
        QTest::newRow("nominal itself") << "3000" << true << false << 0 << "set voltage 3000 V" << QString();
        QTest::newRow("above nominal") << "3000.1" << true << false << 0 << "set voltage 3000.1 V"
                                       << "(outside 0 to 3000 V)";
        QTest::newRow("negative unipolar") << "-1" << true << false << 0 << "set voltage -1 V"
                                           << "(outside 0 to 3000 V)";
        QTest::newRow("negative bipolar") << "-3000" << true << true << 0 << "set voltage -3000 V" << QString();
        QTest::newRow("below bipolar range") << "-3001" << true << true << 0 << "set voltage -3001 V"
                                             << "(outside -3000 to 3000 V)";
        // A bipolar module's current still starts at 0.
        QTest::newRow("negative current bipolar") << "-0.1" << false << true << 0 << "set current -0.1 mA"
                                                  << "(outside 0 to 3 mA)";
        QTest::newRow("not a number") << "12a" << true << false << 0 << "set voltage \"12a\""
                                      << "(not a number)";
        QTest::newRow("nan") << "nan" << true << false << 0 << "set voltage \"nan\""
                             << "(not a number)";
        QTest::newRow("inf") << "inf" << false << false << 0 << "set current \"inf\""
                             << "(not a number)";
        // Channel 1 was not reached by the read: its nominal value of 0 is no limit, 0 is refused.
        QTest::newRow("nominal not read") << "0" << true << false << 1 << "set voltage 0 V"
                                          << "(no current reading of the channel)";
        QTest::newRow("beyond the read") << "10" << true << false << 5 << "set voltage 10 V"
                                         << "(no current reading of the channel)";
    }

    void typedValues()
    {
        QFETCH(QString, text);
        QFETCH(bool, voltage);
        QFETCH(bool, bipolar);
        QFETCH(int, channel);
        QFETCH(QString, what);
        QFETCH(QString, refusal);

        ChannelReading unread; // complete false, nominal values 0
        const ModuleSnapshot snapshot = snapshotWith({readChannel(-3000.0f, 3.0f), unread});
        const SetValueCheck check = SetValueCheck::ofTyped(
            text, &snapshot, channel, voltage, bipolar, voltage ? QStringLiteral("V") : QStringLiteral("mA"));
        QCOMPARE(check.what, what);
        QCOMPARE(check.refusal, refusal);
        QCOMPARE(check.accepted(), refusal.isEmpty());
    }

    // Without a fresh read there is no range at all.
    void typedValueWithoutRead()
    {
        const SetValueCheck check =
            SetValueCheck::ofTyped(QStringLiteral("0"), nullptr, 0, true, false, QStringLiteral("V"));
        QCOMPARE(check.refusal, QStringLiteral("(no current reading of the channel)"));
    }

    // ---- Nominal values and stop mode ----

    void nominalValuesInStopMode_data()
    {
        QTest::addColumn<bool>("wasStopped");
        QTest::addColumn<bool>("voltageOnly");
        QTest::addColumn<QStringList>("writes");

        QTest::newRow("stop set and left") << false << false
                                           << QStringList{"setControl(4)", "setChannelVoltageNominal(2, 2500)",
                                                  "setChannelCurrentNominal(2, 0.5)", "setControl(0)"};
        // A stop that was set before (an interrupted profile write) stays set.
        QTest::newRow("stop kept") << true << false
                                   << QStringList{"setChannelVoltageNominal(2, 2500)", "setChannelCurrentNominal(2, 0.5)"};
        QTest::newRow("only what changed")
            << false << true << QStringList{"setControl(4)", "setChannelVoltageNominal(2, 2500)", "setControl(0)"};
    }

    void nominalValuesInStopMode()
    {
        QFETCH(bool, wasStopped);
        QFETCH(bool, voltageOnly);
        QFETCH(QStringList, writes);

        MemoryModule module(4);
        module.state.followsControl = true;
        if (wasStopped)
            QVERIFY(module.setControl(ModuleControlBit::stop));
        module.clearWrites();
        module.setConnectionState(BaseModule::ModuleStateInitialised);
        const CommandOutcome outcome = ModuleCommands::changeNominalValues(module, 2, 2500.0, QStringLiteral("V"),
            voltageOnly ? std::nullopt : std::optional<double>(0.5), QStringLiteral("mA"));
        QCOMPARE(outcome.failures, QStringList());
        QCOMPARE(module.writes(), writes);
        QCOMPARE(module.channel(2).voltageNominal, 2500.0f);
        QCOMPARE(bool(module.status() & ModuleStatusBit::stopped), wasStopped);
        // The window sets its table up again with the new nominal values.
        QCOMPARE(module.connectionState(), BaseModule::ModuleStateUnknown);
    }

    // A control word that cannot be read is not written back, and without stop mode no nominal
    // value is sent; a refused value still leaves stop mode.
    void nominalValuesFaults()
    {
        MemoryModule module(4);
        module.state.followsControl = true;
        module.setReadsFail(true);
        CommandOutcome outcome =
            ModuleCommands::changeNominalValues(module, 1, 2500.0, QStringLiteral("V"), std::nullopt, QStringLiteral("mA"));
        QCOMPARE(outcome.failures,
            QStringList{"memory: set stop mode failed: no answer: check address, port and read "
                        "community"});
        QCOMPARE(module.writes(), QStringList());

        module.setReadsFail(false);
        module.refuse(QStringLiteral("setControl"), QStringLiteral("wrongValue"));
        outcome =
            ModuleCommands::changeNominalValues(module, 1, 2500.0, QStringLiteral("V"), std::nullopt, QStringLiteral("mA"));
        QCOMPARE(outcome.failures, QStringList{"memory: set stop mode refused by the crate (wrongValue)"});
        QCOMPARE(module.writes(), QStringList{"setControl(4)"});
        QCOMPARE(module.channel(1).voltageNominal, 3000.0f);

        module.refuse(QStringLiteral("setControl"), QString());
        module.refuse(QStringLiteral("setChannelVoltageNominal"), QStringLiteral("wrongValue"));
        module.clearWrites();
        outcome =
            ModuleCommands::changeNominalValues(module, 1, 9999.0, QStringLiteral("V"), std::nullopt, QStringLiteral("mA"));
        QCOMPARE(outcome.failures, QStringList{"Channel 1: set nominal voltage 9999 V refused by the crate (wrongValue)"});
        QCOMPARE(module.writes(), (QStringList{"setControl(4)", "setChannelVoltageNominal(1, 9999)", "setControl(0)"}));
        QCOMPARE(module.status() & ModuleStatusBit::stopped, 0u);
    }

    // A single nominal value from a tool window is sent only while the latest answered status
    // shows stop mode; a status that was not read, or is old, refuses it.
    void nominalFromToolWindowNeedsAnsweredStop()
    {
        const QString refused = QStringLiteral("(the module is not in stop mode)");
        const qint64 now = ModuleSnapshot::nowMs();
        QCOMPARE(ModuleCommands::nominalRefusal(nullptr, now), refused);
        ModuleSnapshot snapshot;
        snapshot.lastAnswerAtMs = now;
        snapshot.values.status = ModuleStatusBit::stopped;
        QCOMPARE(ModuleCommands::nominalRefusal(&snapshot, now), refused); // status not read
        snapshot.values.statusValid = true;
        QCOMPARE(ModuleCommands::nominalRefusal(&snapshot, now), QString());
        QCOMPARE(ModuleCommands::nominalRefusal(&snapshot, now + ModuleSnapshot::freshForMs + 1), refused);
        snapshot.values.status = 0;
        QCOMPARE(ModuleCommands::nominalRefusal(&snapshot, now), refused);
    }

    // ---- Word changes ----

    // Only the given bits change in the word as read now; a word that was not read is not
    // written back.
    void wordChangeKeepsOtherBits()
    {
        MemoryModule module(4);
        module.state.eventMask = 0x0103;
        auto read = [](BaseModule& m) { return m.eventMask(); };
        auto write = [](BaseModule& m, quint32 mask) { return m.setEventMask(mask); };
        CommandOutcome outcome = ModuleCommands::changeWord(module, QStringLiteral("change module event mask"),
            QStringLiteral("Module event mask"), -1, 0x0001, 0x0010, read, write);
        QCOMPARE(outcome.failures, QStringList());
        QCOMPARE(module.state.eventMask, 0x0112u);

        module.setReadsFail(true);
        module.clearWrites();
        outcome = ModuleCommands::changeWord(module, QStringLiteral("change module event mask"),
            QStringLiteral("Module event mask"), -1, 0x0001, 0x0010, read, write);
        QCOMPARE(outcome.failures, QStringList{"Module event mask not written: the module did not answer"});
        QCOMPARE(module.writes(), QStringList());
    }

    // ---- What a dialog or prompt starts from ----

    // A lost request is asked again, a refusal is not; the reason of the last try is kept.
    void settingsReadRetriesLostRequests_data()
    {
        QTest::addColumn<int>("lost");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("tries");
        QTest::newRow("answered") << 0 << QString() << true << 1;
        QTest::newRow("two lost") << 2 << QString() << true << 3;
        QTest::newRow("all lost") << 5 << QString() << false << 3;
        QTest::newRow("refused") << 0 << "not offered by this module" << false << 1;
    }

    void settingsReadRetriesLostRequests()
    {
        QFETCH(int, lost);
        QFETCH(QString, refusal);
        QFETCH(bool, read);
        QFETCH(int, tries);

        LossyModule module(4);
        module.lost = lost;
        module.refusal = refusal;
        ChannelSettings settings;
        QString reason;
        QCOMPARE(ModuleCommands::readChannelSettings(module, 1, &settings, &reason), read);
        QCOMPARE(module.tries, tries);
        if (!read)
            QCOMPARE(reason, refusal.isEmpty() ? QStringLiteral("no answer") : refusal);
        else
            QCOMPARE(settings.voltageNominal, 3000.0f);
    }

    // Read from the module: a module that does not answer gives no range, not a range of 0.
    void nominalRangeReadFromModule()
    {
        MemoryModule module(3);
        MemoryModule::Channel channel = module.channel(2);
        channel.voltageNominal = -6000;
        module.setChannel(2, channel);
        NominalRange range = NominalRange::readFrom(module, true);
        QVERIFY(range.found);
        QCOMPARE(range.smallest, 3000.0f);
        QCOMPARE(range.largest, 6000.0f);
        module.setReadsFail(true);
        range = NominalRange::readFrom(module, true);
        QVERIFY(!range.found);
    }

private:
    void connectTo(const QVector<Layout>& layouts)
    {
        m_layouts = layouts;
        m_session = std::make_unique<DeviceSession>(std::make_unique<MemoryControllerFactory>([this] {
            QVector<MemoryModule*> modules;
            for (const Layout& layout : std::as_const(m_layouts))
                modules.append(new SlotModule(layout.slot, layout.channels, layout.serialNumber));
            m_made = modules;
            return modules;
        }));
        QVERIFY(m_session->connectTo(crate));
        QCOMPARE(m_session->modules().size(), layouts.size());
    }
    BaseModule* module(int index) const { return m_session->modules().at(index); }
    CommandTarget::Choice choiceOf(int currentIndex, const ChannelSelection& selection) const
    {
        CommandTarget::Choice choice;
        choice.modules = m_session->modules();
        choice.currentIndex = currentIndex;
        choice.controllerAddress = crate;
        choice.selection = &selection;
        choice.answering = true;
        return choice;
    }
    CommandTarget resolve(int currentIndex, const ChannelSelection& selection, CommandTarget::Scope scope) const
    {
        return CommandTarget::resolve(choiceOf(currentIndex, selection), scope, QStringLiteral("switch on"));
    }

    QVector<Layout> m_layouts;
    QVector<MemoryModule*> m_made;
    std::unique_ptr<DeviceSession> m_session;
};

QTEST_GUILESS_MAIN(TestChannelCommands)
#include "tst_channelcommands.moc"
