// The profile write job end to end through a device session. On the stand-in VME crate (whose
// modules have a stop mode and store their set values): a full write read back from the crate, a
// channel whose control word never reads back half-way, and a cancel half-way; after both the
// module stays where the procedure stood. On the MPOD simulator: a value above the hardware
// nominal, or a crate that does not answer the check, sends nothing. A crate falling silent half-way is the in-memory case
// of tst_profiles.
#include "common/SimulatorProcess.h"
#include "common/VmeStandInConfig.h"

#include "controller/VmUsb.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"
#include "device/StatusWordBits.h"
#include "device/VmeControllerFactory.h"
#include "profiles/ProfileWriteJob.h"

#include <QNetworkProxyFactory>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
// 0x4000 behaves; 0x4400 keeps the control word of its channel 5 from reading back.
constexpr char vmeCrate[] = R"({"vmUsbSerials": ["VM0024J"], "v1718": false, "modules": [
    {"base": "0x4000", "class": 20, "channels": 12, "serial": 200, "voltageNominal": 3000, "currentNominal": 0.003},
    {"base": "0x4400", "class": 20, "channels": 12, "serial": 201, "voltageNominal": 3000, "currentNominal": 0.003,
     "faults": {"stuckControlChannel": 5}}]})";
constexpr int vmeChannels = 12;
constexpr int jobTimeoutMs = 60000;
} // namespace

class ProfileWriteSimTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fullWriteReadBackFromCrate();
    void endsHalfWay_data();
    void endsHalfWay();
    void mpodCheckSendsNothing_data();
    void mpodCheckSendsNothing();

private:
    // A profile of `channels` channels in `module`'s units: set voltage 100 + channel, nominal
    // 2000 V, restart time 250 ms.
    static ModuleProfile profile(BaseModule* module, int channels);
    // Runs the job; `atProgress` runs once when the job reports the step `trigger`.
    void run(ProfileWriteJob& job, const QString& trigger = QString(), const std::function<void()>& atProgress = {});
    BaseModule* module(int index) const { return m_session->modules().value(index); }
    void startMpod();

    VmeStandInConfig m_config;
    std::unique_ptr<QTemporaryFile> m_mpodConfig;
    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<DeviceSession> m_session;
    QStringList m_log;
};

void ProfileWriteSimTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    QVERIFY(m_config.write(vmeCrate));
}

void ProfileWriteSimTest::init()
{
    m_log.clear();
    // A fresh crate for every test: the stand-in reloads it when no bridge is open.
    m_session = std::make_unique<DeviceSession>(std::make_unique<VmeControllerFactory<VmUsb>>());
    QVERIFY(m_session->connectTo(QStringLiteral("vmusb")));
    QCOMPARE(m_session->modules().size(), 2);
}

void ProfileWriteSimTest::cleanup()
{
    m_session.reset();
    if (m_simulator)
        m_simulator->stop();
    m_simulator.reset();
    m_mpodConfig.reset();
}

void ProfileWriteSimTest::startMpod()
{
    m_session.reset();
    m_mpodConfig = std::make_unique<QTemporaryFile>();
    QVERIFY(m_mpodConfig->open());
    m_mpodConfig->write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THE1640p"}]})");
    m_mpodConfig->close();
    m_simulator = std::make_unique<SimulatorProcess>();
    m_simulator->setConfigFile(m_mpodConfig->fileName());
    QVERIFY2(m_simulator->start(), qPrintable(m_simulator->output()));
    m_simulator->exportLibraryEnvironment();
    m_session = std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
    QVERIFY(m_session->connectTo(m_simulator->address()));
    QCOMPARE(m_session->modules().size(), 1);
}

ModuleProfile ProfileWriteSimTest::profile(BaseModule* module, int channels)
{
    ModuleProfile p;
    p.voltageUnit = module->voltageUnit(0);
    p.currentUnit = module->currentUnit(0);
    p.restartTimeMs = 250;
    p.voltageRampSpeedPercentPerSecond = 5;
    const double milliampere = p.currentUnit == QLatin1String("mA") ? 1 : 1000;
    for (int n = 0; n < channels; ++n) {
        ModuleProfile::Channel c;
        c.voltageSet = 100 + n;
        c.currentSet = 0.5 * milliampere;
        c.voltageNominal = 2000;
        c.currentNominal = 1.5 * milliampere;
        c.voltageInterlockMaxSet = 1500;
        p.channels.append(c);
    }
    return p;
}

void ProfileWriteSimTest::run(ProfileWriteJob& job, const QString& trigger, const std::function<void()>& atProgress)
{
    job.setPollWaitMs(0);
    connect(&job, &ProfileWriteJob::logLine, this, [this](const QString& line) { m_log << line; });
    bool triggered = false;
    connect(&job, &ServiceJob::progress, this, [&](int, int, const QString& step) {
        if (!triggered && step == trigger && atProgress) {
            triggered = true;
            atProgress();
        }
    });
    QSignalSpy finished(&job, &ServiceJob::finished);
    job.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, jobTimeoutMs);
    QVERIFY(trigger.isEmpty() || triggered);
}

void ProfileWriteSimTest::fullWriteReadBackFromCrate()
{
    BaseModule* target = module(0);
    ProfileWriteJob job(m_session.get(), target, profile(target, vmeChannels));
    QSignalSpy progress(&job, &ServiceJob::progress);
    run(job);
    QVERIFY2(job.error() == ServiceJob::NoError, qPrintable(job.errorText()));
    QCOMPARE(m_log.first(), QStringLiteral("\nSetting Module to mode STOP ..."));
    QCOMPARE(m_log.last(), QStringLiteral("Profile written into device!"));
    QCOMPARE(progress.last().at(0).toInt(), progress.last().at(1).toInt());

    m_session->poller()->setTickIntervalMs(3600 * 1000);
    ModuleProfile read;
    QString error;
    QVERIFY2(ModuleProfile::readFromModule(target, &read, &error), qPrintable(error));
    QCOMPARE(read.restartTimeMs, 250u);
    QCOMPARE(read.voltageRampSpeedPercentPerSecond, 5.0);
    for (int n = 0; n < vmeChannels; ++n) {
        QCOMPARE(read.channels.at(n).voltageSet, 100.0 + n);
        QCOMPARE(read.channels.at(n).voltageNominal, 2000.0);
        QCOMPARE(read.channels.at(n).voltageInterlockMaxSet, 1500.0);
    }
    QCOMPARE(target->status() & ModuleStatusBit::stopped, 0u); // released after the store
}

void ProfileWriteSimTest::endsHalfWay_data()
{
    QTest::addColumn<int>("moduleIndex");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("logged");
    QTest::newRow("control word not read back") << 1 << false << int(ProfileWriteJob::ChannelNotConfirmed)
                                                << "Error setting Channel 5 Control word to 0000 (read back ";
    QTest::newRow("cancel") << 0 << true << int(ServiceJob::Cancelled)
                            << "Writing stopped: Cancelled. The module was left where the procedure stood: it may still "
                               "be in stop mode";
}

void ProfileWriteSimTest::endsHalfWay()
{
    QFETCH(int, moduleIndex);
    QFETCH(bool, cancel);
    QFETCH(int, error);
    QFETCH(QString, logged);
    BaseModule* target = module(moduleIndex);
    const float lastBefore = target->channelVoltageSet(vmeChannels - 1);
    QVERIFY(lastBefore != float(100 + vmeChannels - 1));
    ProfileWriteJob job(m_session.get(), target, profile(target, vmeChannels));
    run(job, cancel ? QStringLiteral("Channel 3 written") : QString(), [&] { job.kill(); });
    QVERIFY2(job.error() == error, qPrintable(job.errorText()));
    QVERIFY2(m_log.last().startsWith(logged), qPrintable(m_log.last()));
    QVERIFY(!m_log.contains(QStringLiteral("Profile written into device!")));
    // Where the procedure stood: in stop mode, the first channels written, the last one not.
    QTest::qWait(50); // a step handed to the poller before the kill still runs there
    QCOMPARE(target->status() & ModuleStatusBit::stopped, ModuleStatusBit::stopped);
    QCOMPARE(target->channelVoltageSet(0), 100.0f);
    QCOMPARE(target->channelVoltageSet(vmeChannels - 1), lastBefore);
}

void ProfileWriteSimTest::mpodCheckSendsNothing_data()
{
    QTest::addColumn<QString>("voltageUnit");
    QTest::addColumn<double>("channel9Nominal");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    // The THE1640p's channels do 4000 V; the module's nominal values are read in one go.
    QTest::newRow("above hardware nominal")
        << "V" << 4500.0 << "" << int(ProfileWriteJob::AboveHardwareNominal) << "Channel9.VoltageMaxSet 4500 V is above";
    QTest::newRow("above, shown in kV") << "kV" << 4.5 << "" << int(ProfileWriteJob::AboveHardwareNominal)
                                        << "Channel9.VoltageMaxSet 4.5 kV is above";
    QTest::newRow("crate silent") << "V" << 2000.0 << "silent on" << int(ProfileWriteJob::HardwareNominalNotRead)
                                  << "Channel 0: the hardware nominal values could not be read (";
}

void ProfileWriteSimTest::mpodCheckSendsNothing()
{
    QFETCH(QString, voltageUnit);
    QFETCH(double, channel9Nominal);
    QFETCH(QString, fault);
    QFETCH(int, error);
    QFETCH(QString, reason);
    startMpod();
    BaseModule* target = module(0);
    target->setVoltageUnit(voltageUnit);
    ModuleProfile p = profile(target, target->channelNumber());
    if (voltageUnit == QLatin1String("kV")) {
        for (ModuleProfile::Channel& c : p.channels) {
            c.voltageSet /= 1000;
            c.voltageNominal /= 1000;
            c.voltageInterlockMaxSet /= 1000;
        }
    }
    p.channels[9].voltageNominal = channel9Nominal;
    const float before = target->channelVoltageSet(9);
    if (!fault.isEmpty())
        QVERIFY(m_simulator->command(fault));
    ProfileWriteJob job(m_session.get(), target, p);
    run(job);
    QCOMPARE(job.error(), error);
    QVERIFY2(job.errorText().startsWith(reason), qPrintable(job.errorText()));
    QCOMPARE(m_log, QStringList{job.errorText()});
    if (!fault.isEmpty())
        QVERIFY(m_simulator->command(QStringLiteral("silent off")));
    QCOMPARE(target->channelVoltageSet(9), before);
}

QTEST_GUILESS_MAIN(ProfileWriteSimTest)
#include "tst_profilewritesim.moc"
