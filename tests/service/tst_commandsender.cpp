// The sender of the operator's commands, headless through a device session over in-memory
// modules: outcomes of several modules come back as one, in the order the modules were given;
// pending channels and the count in flight end with the outcome; a module that is not the
// session's gets nothing; a job started as a command reports its refusals and give-up the way a
// command does.
#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/StatusWordBits.h"
#include "service/ChannelBoundsJob.h"
#include "service/CommandSender.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {
constexpr int timeoutMs = 10000;

class SlotModule : public MemoryModule
{
public:
    SlotModule(int slot, int channels)
        : MemoryModule(channels, 20, 4711)
        , m_slot(slot)
    {
    }
    QString address() override { return QStringLiteral("Slot %1").arg(m_slot); }

    // Channel control words that never show the bounds bits.
    std::atomic<bool> boundsBitsStuck{false};
    bool readChannelControl(int channel, quint32* control) override
    {
        const bool ok = MemoryModule::readChannelControl(channel, control);
        if (boundsBitsStuck)
            *control &= ~(ChannelControlBit::asymmetricVoltageBounds | ChannelControlBit::asymmetricCurrentBounds);
        return ok;
    }

private:
    int m_slot;
};

CommandSender::Work switchOnChannel0()
{
    return [](BaseModule& module) { return CommandOutcome::ofWrite(module, module.setChannelOn(0), 0, "switch on"); };
}
} // namespace

class TestCommandSender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_session = std::make_unique<DeviceSession>(std::make_unique<MemoryControllerFactory>([this] {
            m_modules = {new SlotModule(0, 4), new SlotModule(3, 2), new SlotModule(5, 4)};
            return QVector<MemoryModule*>{m_modules.begin(), m_modules.end()};
        }));
        QVERIFY(m_session->connectTo(QStringLiteral("memory")));
        m_sender = std::make_unique<CommandSender>(m_session.get(), [](BaseModule* module) { return module->address(); });
    }

    void cleanup()
    {
        m_sender.reset();
        m_session.reset();
    }

    void modulesOutcomesJoinedInOrder()
    {
        m_modules.at(2)->refuse(QStringLiteral("setChannelOn"), QStringLiteral("wrongValue"));
        m_modules.at(0)->refuse(QStringLiteral("setChannelOn"), QStringLiteral("noAccess"));
        QSignalSpy pendingChanged(m_sender.get(), &CommandSender::pendingChanged);
        QList<CommandOutcome> outcomes;
        // Given in another order than the session lists them.
        const QList<BaseModule*> modules{m_modules.at(2), m_modules.at(1), m_modules.at(0)};
        m_sender->sendToModules(
            modules, QStringLiteral("switch on"), switchOnChannel0(), CommandSender::Urgency::Normal,
            [&](const CommandOutcome& outcome) { outcomes.append(outcome); }, true);
        QCOMPARE(m_sender->inFlight(), 3);
        QCOMPARE(m_sender->pendingChannels(QStringLiteral("Slot 3")), (QSet<int>{0, 1}));
        QCOMPARE(m_sender->pendingChannels(QStringLiteral("Slot 5")), (QSet<int>{0, 1, 2, 3}));
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 1, timeoutMs);
        QCOMPARE(outcomes.first().failures,
            (QStringList{"Channel 0: switch on refused by the crate (wrongValue)",
                "Channel 0: switch on refused by the crate (noAccess)"}));
        QCOMPARE(m_sender->inFlight(), 0);
        QVERIFY(m_sender->pendingChannels(QStringLiteral("Slot 5")).isEmpty());
        QCOMPARE(pendingChanged.count(), 6);
        QCOMPARE(m_modules.at(1)->writes(), QStringList{"setChannelOn(0)"});
    }

    // A module the session does not hold (released, or never its own) gets nothing.
    void moduleNotHeldGetsNothing()
    {
        SlotModule stranger(9, 4);
        QList<CommandOutcome> outcomes;
        m_sender->send(&stranger, QStringLiteral("switch on"), switchOnChannel0(), CommandSender::Urgency::Normal,
            [&](const CommandOutcome& outcome) { outcomes.append(outcome); }, {0});
        QCOMPARE(outcomes.size(), 1);
        QCOMPARE(outcomes.first().failures, QStringList{"Switch on: the module went away; nothing was sent."});
        QCOMPARE(stranger.writes(), QStringList());
        QCOMPARE(m_sender->inFlight(), 0);
    }

    void jobOutcome_data()
    {
        QTest::addColumn<bool>("stuck");
        QTest::addColumn<bool>("refuseBits");
        QTest::addColumn<QStringList>("failures");
        QTest::addColumn<QString>("information");

        QTest::newRow("taken") << false << false << QStringList() << QString();
        QTest::newRow("never reads back") << true << false << QStringList()
                                          << "Error setting Channel 1 Control word. Giving up.";
        QTest::newRow("bits refused") << false << true
                                      << QStringList{"Channel 1: set bounds bits 0x800 refused by the crate (wrongValue)"}
                                      << QString();
    }

    void jobOutcome()
    {
        QFETCH(bool, stuck);
        QFETCH(bool, refuseBits);
        QFETCH(QStringList, failures);
        QFETCH(QString, information);

        SlotModule* module = m_modules.at(0);
        module->boundsBitsStuck = stuck;
        if (refuseBits)
            module->refuse(QStringLiteral("setChannelControl"), QStringLiteral("wrongValue"));
        QPointer<ChannelBoundsJob> job = new ChannelBoundsJob(
            m_session.get(), module, 1, {true, 100.0f, -100.0f, false, 1.0f, 0.0f}, QStringLiteral("tool window"));
        QList<CommandOutcome> outcomes;
        m_sender->runJob(
            job, QStringLiteral("set bounds"), [&](const CommandOutcome& outcome) { outcomes.append(outcome); });
        QCOMPARE(m_sender->inFlight(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 1, timeoutMs);
        QCOMPARE(outcomes.first().failures, failures);
        QCOMPARE(outcomes.first().information, information);
        QCOMPARE(m_sender->inFlight(), 0);
        QTRY_VERIFY(!job); // deleted once it finished
    }

private:
    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<CommandSender> m_sender;
    QList<SlotModule*> m_modules; // owned by the session
};

QTEST_GUILESS_MAIN(TestCommandSender)
#include "tst_commandsender.moc"
