// The bounds write as a job, headless through a device session: against the simulated crate
// (whose channel control has no bounds bits, so they never read back, and which refuses bounds
// as not offered) and on in-memory modules (the bounds taken, a refused bits write, a cancel).
#include "device/CrateFixture.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"
#include "device/StatusWordBits.h"
#include "service/ChannelBoundsJob.h"

#include <QNetworkProxyFactory>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {
constexpr int jobTimeoutMs = 10000;
constexpr quint32 asymmetricVoltage = ChannelControlBit::asymmetricVoltageBounds;
constexpr quint32 asymmetricCurrent = ChannelControlBit::asymmetricCurrentBounds;

ChannelBoundsJob::Bounds bounds(bool asymmetricVoltage, bool asymmetricCurrent)
{
    return {asymmetricVoltage, 100.0f, -50.0f, asymmetricCurrent, 2.0f, 0.5f};
}

// "what: reason" of every refused() of a job.
QStringList refusals(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& each : spy)
        texts.append(QStringLiteral("%1 %2: %3").arg(each.at(0).toInt()).arg(each.at(1).toString(), each.at(2).toString()));
    return texts;
}

// Reads its channel control words without the bounds bits, and counts those reads.
class StuckBitsModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    std::atomic<int> controlReads{0};
    bool readChannelControl(int channel, quint32* control) override
    {
        ++controlReads;
        const bool ok = MemoryModule::readChannelControl(channel, control);
        *control &= ~(asymmetricVoltage | asymmetricCurrent);
        return ok;
    }
};

QStringList boundWrites(const QStringList& writes)
{
    return writes.filter(QStringLiteral("Interlock"));
}
} // namespace

class TestChannelBoundsJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QNetworkProxyFactory::setUseSystemConfiguration(false);
    }

    void cleanup()
    {
        m_session.reset();
        m_crate.reset();
        m_module = nullptr;
        m_stuck = nullptr;
    }

    // ---- Against the simulated crate ----

    // Asymmetric bounds: the bits never show in the crate's control word. The job reads it
    // back a bounded number of times, gives up with its message and writes no bound; the poller
    // keeps reading meanwhile (the job waits between steps, not inside one).
    void controlWordNeverReadsBack()
    {
        startCrate();
        ChannelBoundsJob job(
            m_session.get(), m_session->modules().at(0), 1, bounds(true, false), QStringLiteral("tool window"));
        QSignalSpy refused(&job, &ServiceJob::refused);
        QSignalSpy finished(&job, &ServiceJob::finished);
        QSignalSpy progress(&job, &ServiceJob::progress);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::GaveUp));
        QCOMPARE(job.errorText(), QStringLiteral("Error setting Channel 1 Control word. Giving up."));
        QCOMPARE(refusals(refused), QStringList());
        QCOMPARE(progress.last().at(2).toString(), QStringLiteral("Reading the control word back"));
    }

    // Symmetric bounds: the word (no bounds bits) reads back at once, and the crate refuses
    // each bound. Each refusal is named; the second bound is still tried after the first.
    void refusedBoundsAreNamed()
    {
        startCrate();
        ChannelBoundsJob job(
            m_session.get(), m_session->modules().at(0), 3, bounds(false, false), QStringLiteral("tool window"));
        QSignalSpy refused(&job, &ServiceJob::refused);
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::Refused));
        QCOMPARE(refusals(refused),
            (QStringList{"3 set voltage upper bound 100 V: not offered by this module",
                "3 set current upper bound 2 mA: not offered by this module"}));
    }

    // ---- On in-memory modules ----

    // The bits change in the word as it is (the on bit stays), then the upper bounds and only
    // the asymmetric lower bound are written.
    void boundsWrittenOnceTheWordShowsTheBits()
    {
        startMemory();
        MemoryModule::Channel channel = m_module->channel(2);
        channel.control = ChannelControlBit::on | asymmetricVoltage;
        m_module->setChannel(2, channel);
        ChannelBoundsJob job(m_session.get(), m_module, 2, bounds(false, true), QStringLiteral("tool window"));
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::NoError));
        QCOMPARE(m_module->channel(2).control, ChannelControlBit::on | asymmetricCurrent);
        QCOMPARE(boundWrites(m_module->writes()),
            (QStringList{"setChannelVoltageInterlockMaxSet(2, 100)", "setChannelCurrentInterlockMaxSet(2, 2)",
                "setChannelCurrentInterlockMinSet(2, 0.5)"}));
        QCOMPARE(m_module->channel(2).currentIlkMin, 0.5f);
        QCOMPARE(m_module->channel(2).voltageIlkMin, 0.0f);
    }

    // A refused bits write ends the job: no bound goes to a channel whose word did not change.
    void refusedBitsWriteSendsNoBound()
    {
        startMemory();
        m_module->refuse(QStringLiteral("setChannelControl"), QStringLiteral("wrongValue"));
        ChannelBoundsJob job(m_session.get(), m_module, 0, bounds(true, true), QStringLiteral("tool window"));
        QSignalSpy refused(&job, &ServiceJob::refused);
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::Refused));
        QCOMPARE(refusals(refused), QStringList{"0 set bounds bits 0xc00: wrongValue"});
        QCOMPARE(boundWrites(m_module->writes()), QStringList());
    }

    // A cancel while the job waits for the bits: finished at once, and nothing more reaches the
    // module afterwards, not even a read.
    void cancelWhileWaiting()
    {
        startMemory(true);
        ChannelBoundsJob job(m_session.get(), m_module, 1, bounds(true, false), QStringLiteral("tool window"));
        QSignalSpy finished(&job, &ServiceJob::finished);
        QSignalSpy progress(&job, &ServiceJob::progress);
        job.start();
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(0).toInt() == 1, jobTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_stuck->controlReads > 2, jobTimeoutMs);
        job.kill();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(job.error(), int(ServiceJob::Cancelled));
        // A read already handed to the poller may still run.
        const int readsAtKill = m_stuck->controlReads + 1;
        QTest::qWait(10 * ChannelBoundsJob::controlReadBackWaitMs);
        QVERIFY(m_stuck->controlReads <= readsAtKill);
        QCOMPARE(boundWrites(m_module->writes()), QStringList());
        QCOMPARE(finished.count(), 1);
    }

private:
    void startCrate()
    {
        m_crate = std::make_unique<CrateFixture>(QStringLiteral(R"([{"slot": 0, "type": "THE1640p"}])"));
        QString error;
        QVERIFY2(m_crate->start(&error), qPrintable(error));
        m_session = std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
        QVERIFY(m_session->connectTo(m_crate->simulator().address()));
        QCOMPARE(m_session->modules().size(), 1);
    }

    // `stuck`: a module whose channel control word never shows the bounds bits.
    void startMemory(bool stuck = false)
    {
        m_session = std::make_unique<DeviceSession>(std::make_unique<MemoryControllerFactory>([this, stuck] {
            m_stuck = stuck ? new StuckBitsModule(4) : nullptr;
            m_module = stuck ? m_stuck : new MemoryModule(4);
            return QVector<MemoryModule*>{m_module};
        }));
        QVERIFY(m_session->connectTo(QStringLiteral("memory")));
        QVERIFY(m_module);
    }

    std::unique_ptr<CrateFixture> m_crate;
    std::unique_ptr<DeviceSession> m_session;
    MemoryModule* m_module = nullptr; // owned by the session
    StuckBitsModule* m_stuck = nullptr;
};

QTEST_GUILESS_MAIN(TestChannelBoundsJob)
#include "tst_channelboundsjob.moc"
