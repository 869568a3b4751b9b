// The poller's reads for the tool windows, without widgets: what a shown window needs is read
// from the current module on the poller's thread (at once when the need appears), a module that
// does not answer gives no values, and nothing is read once the need is gone.
#include "device/DeviceSession.h"
#include "device/ToolWindowReading.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include <QCoreApplication>
#include <QtTest>

class ToolWindowReadsTest : public QObject
{
    Q_OBJECT

private slots:
    void readOnPollerThreadWhileNeeded();
    void failedReadIsNoValue();

private:
    std::shared_ptr<const ModuleSnapshot> snapshot() const { return m_session->poller()->moduleSnapshot(0); }

    std::unique_ptr<DeviceSession> m_session;
};

namespace {
// A module kind that reads none of the tool-window quantities (as an MPOD module).
class ConstantModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    bool reports(Quantity) const override { return false; }
};
} // namespace

void ToolWindowReadsTest::readOnPollerThreadWhileNeeded()
{
    MemoryModule* module = nullptr;
    m_session = std::make_unique<DeviceSession>(std::make_unique<MemoryControllerFactory>([&module] {
        module = new MemoryModule(4, 20, 4711);
        return QVector<MemoryModule*>{module};
    }));
    QVERIFY(m_session->connectTo(QStringLiteral("memory")));
    QObject window;
    m_session->setNeeds(this, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);
    {
        std::lock_guard<std::recursive_mutex> lock(module->m_mutex);
        module->state.eventMask = 0x0022;
        module->state.ilkOutCount = 5;
    }
    MemoryModule::Channel channel;
    channel.voltageIlkMax = 123;
    module->setChannel(2, channel);

    m_session->setNeeds(&window, Poller::ModuleControlWords | Poller::ChannelBounds);
    QTRY_VERIFY_WITH_TIMEOUT(snapshot() && snapshot()->windowValues.boundsValid, 3000);
    const ToolWindowReading values = snapshot()->windowValues;
    QVERIFY(values.moduleWordsValid);
    QCOMPARE(values.eventMask, quint32(0x0022));
    QCOMPARE(values.voltageInterlockMax.value(2), 123.0f);
    QVERIFY(!values.interlockOutValid); // not needed, not read

    // Silent: the next reads give nothing, and the last values age instead of being renewed.
    module->setAnswering(false);
    const qint64 lastReadAtMs = snapshot()->windowValuesReadAtMs;
    m_session->poller()->refreshNow(0);
    QTest::qWait(500);
    QCOMPARE(snapshot()->windowValuesReadAtMs, lastReadAtMs);

    // Needed no more: nothing is read for the windows even when the module answers again.
    m_session->setNeeds(&window, {});
    module->setAnswering(true);
    m_session->poller()->refreshNow(0);
    QTRY_VERIFY_WITH_TIMEOUT(snapshot()->channelsReadAtMs > lastReadAtMs, 3000);
    QCOMPARE(snapshot()->windowValuesReadAtMs, lastReadAtMs);
    m_session.reset();
}

void ToolWindowReadsTest::failedReadIsNoValue()
{
    MemoryModule module(4);
    ToolWindowReading::Groups groups;
    groups.moduleWords = groups.channelEventWords = groups.hardwareNominals = groups.bounds = groups.interlockOut = true;
    QCOMPARE(ToolWindowReading::read(module, groups).validGroups(), 5);
    module.setAnswering(false);
    QCOMPARE(ToolWindowReading::read(module, groups).validGroups(), 0);
    ConstantModule constant(4);
    QCOMPARE(ToolWindowReading::readableGroups(constant, groups), 2);
    QCOMPARE(ToolWindowReading::read(constant, groups).validGroups(), 2);
}

QTEST_GUILESS_MAIN(ToolWindowReadsTest)
#include "tst_toolwindowreads.moc"
