// The factory reset and the base address procedures as jobs, headless through a device session:
// on the stand-in VME crate (a module whose channel control word sticks, one that refuses a new
// base address, one that never enters its special mode) and on in-memory modules (a refused
// write, the thread the steps run on). Each ends exactly once: done, given up, cancelled, or
// with its module gone, and after that nothing more of it reaches the module.
#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"
#include "common/VmeStandInConfig.h"

#include "controller/VmUsb.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/VmeControllerFactory.h"
#include "device/VmeModule.h"
#include "service/AddressResetJob.h"
#include "service/BaseAddressJob.h"
#include "service/FactoryResetJob.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

// 0x4000 behaves; 0x4400 keeps channel 2 on; 0x4800 refuses a new base address; 0x4C00 never
// enters its special mode; 0x5000 is the 24-channel layout.
constexpr char crate[] = R"({"vmUsbSerials": ["VM0023A"], "v1718": false, "modules": [
    {"base": "0x4000", "class": 20, "channels": 4, "serial": 100, "voltageNominal": 3000, "currentNominal": 0.003},
    {"base": "0x4400", "class": 20, "channels": 4, "serial": 101, "faults": {"stuckControlChannel": 2}},
    {"base": "0x4800", "class": 20, "channels": 2, "serial": 102, "faults": {"refuseBaseAddress": true}},
    {"base": "0x4C00", "class": 20, "channels": 2, "serial": 103, "faults": {"noSpecialMode": true}},
    {"base": "0x5000", "class": 29, "channels": 3, "serial": 104, "voltageNominal": 6000, "currentNominal": 0.001}]})";

constexpr int jobTimeoutMs = 20000;

// Records the thread each channel control write ran on.
class ThreadNotingModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    std::atomic<bool> writtenOnGuiThread{false};
    bool setChannelControl(int channel, quint32 control) override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            writtenOnGuiThread = true;
        return MemoryModule::setChannelControl(channel, control);
    }
};

} // namespace

class TestServiceJobs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_config.write(crate));
    }

    void init()
    {
        // A fresh crate for every test: the stand-in reloads it when no bridge is open.
        m_session = std::make_unique<DeviceSession>(std::make_unique<VmeControllerFactory<VmUsb>>());
        QVERIFY(m_session->connectTo(QStringLiteral("vmusb")));
        QCOMPARE(m_session->modules().size(), 5);
        for (int index = 0; index < 5; ++index)
            for (int channel = 0; channel < module(index)->channelNumber(); ++channel)
                QVERIFY(module(index)->setChannelVoltageSet(channel, 100));
    }

    void cleanup() { m_session.reset(); }

    // Every channel back at its hardware nominal values, off, at 0 V with the nominal current;
    // the module's defaults stored.
    void factoryResetRestoresDefaults()
    {
        BaseModule* target = module(0);
        FactoryResetJob job(m_session.get(), target);
        QSignalSpy progress(&job, &ServiceJob::progress);
        QSignalSpy channels(&job, &FactoryResetJob::channelReset);
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QCOMPARE(finished.count(), 0); // start() returns before anything is done
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::NoError));
        QCOMPARE(progress.last().at(0).toInt(), progress.last().at(1).toInt());
        QCOMPARE(channels.count(), 4);
        for (int channel = 0; channel < 4; ++channel) {
            QCOMPARE(channels.at(channel).at(0).toInt(), channel);
            QCOMPARE(target->channelControl(channel) & 0x08, 0u);
            QCOMPARE(target->channelVoltageSet(channel), 0.0f);
            QCOMPARE(target->channelVoltageNominal(channel), target->channelVoltageHardwareNominal(channel));
            const float nominal = target->channelCurrentHardwareNominal(channel);
            QVERIFY(nominal > 0);
            QVERIFY(qAbs(target->channelCurrentSet(channel) - nominal) <= 1e-3f * nominal);
        }
        QCOMPARE(target->voltageRampSpeed(), 1.0f);
        QCOMPARE(target->status() & 0x0004, 0x0004u); // left stopped
    }

    // The 24-channel layout does not document its hardware nominal values: its channels keep
    // their nominal values (and the job says so), the current set value is the channel's own
    // nominal current.
    void factoryResetKeepsNominalsOfTwentyFourChannelLayout()
    {
        BaseModule* target = module(4);
        const float voltageNominal = target->channelVoltageNominal(1);
        const float currentNominal = target->channelCurrentNominal(1);
        QVERIFY(voltageNominal > 0 && currentNominal > 0);
        FactoryResetJob job(m_session.get(), target);
        QSignalSpy messages(&job, &ServiceJob::message);
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::NoError));
        QCOMPARE(messages.count(), 1);
        QCOMPARE(target->channelVoltageNominal(1), voltageNominal);
        QCOMPARE(target->channelVoltageSet(1), 0.0f);
        QVERIFY(qAbs(target->channelCurrentSet(1) - currentNominal) <= 1e-3f * currentNominal);
    }

    // A channel whose control word never reads 0 ends the channel passes there: the channels
    // after it and the module's settings stay as they were, and the job says why.
    void factoryResetGivesUpAtStuckChannel()
    {
        BaseModule* target = module(1);
        const float rampSpeed = target->voltageRampSpeed();
        FactoryResetJob job(m_session.get(), target);
        QSignalSpy channels(&job, &FactoryResetJob::channelReset);
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::GaveUp));
        QCOMPARE(job.errorText(), QStringLiteral("Error resetting Channel 2 Control word. Giving up."));
        QCOMPARE(channels.count(), 3); // 0, 1 and the stuck one
        QCOMPARE(target->channelVoltageSet(1), 0.0f);
        QCOMPARE(target->channelVoltageSet(3), 100.0f);
        QCOMPARE(target->voltageRampSpeed(), rampSpeed);
    }

    // Cancelled after its first step: finished once with Cancelled, and the steps after it never
    // reach the module.
    void factoryResetCancelled()
    {
        BaseModule* target = module(0);
        FactoryResetJob job(m_session.get(), target);
        QSignalSpy progress(&job, &ServiceJob::progress);
        QSignalSpy finished(&job, &ServiceJob::finished);
        connect(&job, &ServiceJob::progress, &job, &ServiceJob::kill);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::Cancelled));
        QVERIFY(!job.isRunning());
        // Whatever was still queued for the poller has had its turn.
        bool drained = false;
        m_session->submitCommand(
            this, 0, DeviceSession::Priority::Normal, [&drained](BaseModule&) { return [&drained] { drained = true; }; });
        QTRY_VERIFY_WITH_TIMEOUT(drained, 5000);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(progress.count(), 1);
        for (int channel = 0; channel < 4; ++channel)
            QCOMPARE(target->channelVoltageSet(channel), 100.0f); // the second pass never came
        QVERIFY(target->voltageRampSpeed() != 1.0f);
        job.kill(); // a second kill changes nothing
        QCOMPARE(finished.count(), 1);
    }

    // The session lets its modules go mid-way: the job ends with ModuleGone, once.
    void moduleGoneEndsTheJob()
    {
        FactoryResetJob job(m_session.get(), module(0));
        QSignalSpy finished(&job, &ServiceJob::finished);
        connect(&job, &ServiceJob::progress, m_session.get(), &DeviceSession::releaseModules);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::ModuleGone));
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
    }

    void baseAddress_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("programError");
        QTest::addColumn<int>("resetError");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("addressAfter");
        QTest::newRow("moved") << 0 << int(ServiceJob::NoError) << int(ServiceJob::NoError) << QString() << 0x8000;
        QTest::newRow("address refused") << 2 << int(ServiceJob::GaveUp) << -1
                                         << "It seems the module did not accept our new address 0x8000." << 0x4800;
        QTest::newRow("no special mode") << 3 << int(ServiceJob::NoError) << int(ServiceJob::GaveUp)
                                         << "Can not set Module to special mode - reset is not possible!" << 0x4C00;
    }

    // The addresses offered for a move: the module's own grid, never one whose register window
    // would overlap another module's window (0x800 bytes for the 24-channel layout, else 0x400);
    // the module's own address stays on offer.
    void freeAddressesLeaveOtherWindowsOut()
    {
        const QList<BaseModule*> modules = m_session->modules();
        const QList<quint16> small = BaseAddressJob::freeAddresses(module(0), modules);
        QCOMPARE(small.size(), 64 - 5);
        for (const quint16 taken : {0x4400, 0x4800, 0x4C00, 0x5000, 0x5400})
            QVERIFY2(!small.contains(taken), qPrintable(QString::number(taken, 16)));
        for (const quint16 free : {0x0000, 0x3C00, 0x4000, 0x5800, 0xFC00})
            QVERIFY2(small.contains(free), qPrintable(QString::number(free, 16)));
        QVERIFY(std::is_sorted(small.cbegin(), small.cend()));

        const QList<quint16> large = BaseAddressJob::freeAddresses(module(4), modules);
        QCOMPARE(large.size(), 32 - 2);
        QVERIFY(!large.contains(0x4000) && !large.contains(0x4800));
        QVERIFY(large.contains(0x5000) && large.contains(0x5800) && large.contains(0xF800));
        for (const quint16 address : large)
            QCOMPARE(address % 0x800, 0);
    }

    // Programmed and read back, then reset: the module answers at its new address only when the
    // reset reached it.
    void baseAddress()
    {
        QFETCH(int, index);
        QFETCH(int, programError);
        QFETCH(int, resetError);
        QFETCH(QString, text);
        QFETCH(int, addressAfter);
        BaseModule* target = module(index);
        BaseAddressJob program(m_session.get(), target, 0x8000);
        QSignalSpy programmed(&program, &ServiceJob::finished);
        program.start();
        QTRY_COMPARE_WITH_TIMEOUT(programmed.count(), 1, jobTimeoutMs);
        QCOMPARE(program.error(), programError);
        if (resetError >= 0) {
            AddressResetJob reset(m_session.get(), target, 0x8000);
            QSignalSpy done(&reset, &ServiceJob::finished);
            reset.start();
            QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, jobTimeoutMs);
            QCOMPARE(reset.error(), resetError);
            if (resetError != ServiceJob::NoError)
                QVERIFY2(reset.errorText().startsWith(text), qPrintable(reset.errorText()));
        } else {
            QVERIFY2(program.errorText().startsWith(text), qPrintable(program.errorText()));
        }
        QCOMPARE(int(target->baseAddress()), addressAfter);
        // It answers where the program now reaches it.
        QCOMPARE(target->serialNumber(), 100 + index);
    }

    // A refused write is reported with its channel and reason and the reset goes on; every step
    // runs off the GUI thread.
    void refusedWriteIsReportedAndTheResetGoesOn()
    {
        auto* memory = new ThreadNotingModule(3, 20, 7);
        memory->state.followsControl = true;
        memory->refuse(QStringLiteral("setChannelVoltageSet"), QStringLiteral("wrongValue"));
        m_session = std::make_unique<DeviceSession>(
            std::make_unique<MemoryControllerFactory>([memory] { return QVector<MemoryModule*>{memory}; }));
        QVERIFY(m_session->connectTo(QStringLiteral("memory")));
        FactoryResetJob job(m_session.get(), memory);
        QSignalSpy refused(&job, &ServiceJob::refused);
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
        QCOMPARE(job.error(), int(ServiceJob::Refused));
        QCOMPARE(refused.count(), 3);
        for (int channel = 0; channel < 3; ++channel) {
            QCOMPARE(refused.at(channel).at(0).toInt(), channel);
            QCOMPARE(refused.at(channel).at(1).toString(), QStringLiteral("set voltage 0"));
            QCOMPARE(refused.at(channel).at(2).toString(), QStringLiteral("wrongValue"));
        }
        QVERIFY(memory->writes().contains(QStringLiteral("setControl(36932)"))); // stored nevertheless
        QVERIFY(!memory->writtenOnGuiThread);
    }

private:
    BaseModule* module(int index) const { return m_session->modules().at(index); }

    VmeStandInConfig m_config;
    std::unique_ptr<DeviceSession> m_session;
};

QTEST_GUILESS_MAIN(TestServiceJobs)
#include "tst_servicejobs.moc"
