// Module profiles without a window: the text forms and the prefix rule, defaults, units, the
// preview, what a save keeps and removes, a save that fails half-way, and the guarded write into
// an in-memory module that reaches stop mode or not, refuses writes, and acknowledges and finishes
// storing its set values or not.
#include "profiles/ModuleProfile.h"
#include "profiles/ProfileWriteJob.h"
#include "profiles/SaveProfileJob.h"

#include "device/DeviceSession.h"
#include "device/WriteJournal.h"

#include "common/MemoryControllerFactory.h"

#include "common/MemoryModule.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <sys/resource.h>

namespace {

constexpr quint32 setStop = 0x0004, doClear = 0x0040, doSaveSetValues = 0x8000;

// A module with a stop mode and a store request: stop mode is reported after `stopAfterReads`
// status reads once requested (-1: never); the store request is seen for `saveBusyReads`
// control reads (-1: never cleared) when `acknowledgeSave`, else never; channel control words
// lose the bits of `droppedControlBits`.
class ProfileTestModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    int stopAfterReads = 2;
    bool acknowledgeSave = true;
    int saveBusyReads = 3;
    bool readsFailOnceAcknowledged = false;
    quint32 droppedControlBits = 0;
    float currentNominalReadBack = -1; // >= 0: what every read of a current nominal answers
    double nominalReadBackFactor = 1;  // the module's float conversion of nominal values
    int statusReads = 0;
    int saveRequests = 0;
    std::atomic<bool> writtenOnGuiThread{false};

    quint32 status() override
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        // Counted from the stop request on, and only the write's own (not the poller's refresh).
        if ((state.control & setStop) && WriteSource::current() == QLatin1String("profile"))
            ++statusReads;
        const bool stopped = (state.control & setStop) && stopAfterReads >= 0 && statusReads > stopAfterReads;
        return stopped ? (state.status | setStop) : state.status;
    }
    bool setControl(quint32 control) override
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            writtenOnGuiThread = true;
        if (!MemoryModule::setControl(control))
            return false;
        if (control & doSaveSetValues) {
            ++saveRequests;
            m_busy = acknowledgeSave ? saveBusyReads : 0;
            if (!acknowledgeSave)
                state.control &= ~doSaveSetValues;
        }
        return true;
    }
    // The control word as the module reads it: the store request stays set for saveBusyReads
    // reads. With readsFailOnceAcknowledged every read after the one that showed the request
    // fails (the crate drops off the network while storing).
    bool readControl(quint32* word) override
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (!MemoryModule::readControl(word))
            return false;
        if (*word & doSaveSetValues) {
            if (readsFailOnceAcknowledged)
                setReadsFail(true);
            if (m_busy >= 0 && m_busy-- == 0)
                state.control &= ~doSaveSetValues;
        }
        return true;
    }
    quint32 control() override
    {
        quint32 word = 0;
        readControl(&word);
        return word;
    }
    bool setChannelControl(int channel, quint32 control) override
    {
        return MemoryModule::setChannelControl(channel, control & ~droppedControlBits);
    }
    bool readChannelSettings(int channel, ChannelSettings* settings) override
    {
        if (!MemoryModule::readChannelSettings(channel, settings))
            return false;
        settings->voltageNominal = float(settings->voltageNominal * nominalReadBackFactor);
        settings->currentNominal =
            currentNominalReadBack >= 0 ? currentNominalReadBack : float(settings->currentNominal * nominalReadBackFactor);
        return true;
    }

private:
    int m_busy = 0;
};

ModuleProfile sampleProfile(int channels)
{
    ModuleProfile p;
    p.control = 0x1000;
    p.eventMask = 0x00ff;
    p.restartTimeMs = 250;
    p.voltageUnit = QStringLiteral("V");
    p.currentUnit = QStringLiteral("mA");
    for (int n = 0; n < channels; ++n) {
        ModuleProfile::Channel c;
        c.control = 0x0008;
        c.voltageSet = 1000 + n;
        c.currentSet = 0.5;
        c.voltageNominal = 2000;
        c.currentNominal = 1.5;
        p.channels.append(c);
    }
    return p;
}

} // namespace

class ProfilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void textForms_data();
    void textForms();
    void absentKeysTakeDefaults();
    void savedTextFormsKeepSmallValues();
    void unitsConvertOnLoad_data();
    void unitsConvertOnLoad();
    void previewOfFreshProfile();
    void profileWithoutUnitsWarns();
    void channelCountsDiffer();
    void saveRemovesChannelsOfBiggerModule();
    void failedSaveKeepsOldFile();

    void writeConfirmsAndStores();
    void stopModeNeverReached();
    void channelControlNotReadBack();
    void nominalErrorNamesUnit();
    void refusedWriteStops();
    void silentModuleHalfWay();
    void storeRetry_data();
    void storeRetry();
    void storeRetryWithNobodyToAsk();
    void storeNeverFinishes();
    void nominalReadBackAllowsFloatRoundTrip();
    void valuesCheckedAgainstHardwareNominal_data();
    void valuesCheckedAgainstHardwareNominal();
    void saveWithFailedReadNamesValue();
    void saveJobSavesOnlyWhatWasRead();
    void unreadControlWordIsNotWrittenBack();

private:
    QString file(const QString& name) const { return m_dir->filePath(name); }
    // Writes `text` as a profile file and loads it for `channels` channels.
    ModuleProfile loadText(const QByteArray& text, int channels = 1);
    // A module of its own session (which owns it until the next test).
    ProfileTestModule& newModule(int channels);
    // Runs the write job on `module` to its end; the job's error. The texts the window would show
    // (the end's message, the retry question) go to m_messages.
    int write(ProfileTestModule& module, const ModuleProfile& profile);
    static void makeCapable(MemoryModule& module);
    // A loaded profile; an empty one (no channels) with m_loadError set when the load refused.
    ModuleProfile loadFile(const QString& fileName, int channels);
    static ModuleProfile readProfile(BaseModule& module);

    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_log;
    QStringList m_messages;
    QList<bool> m_retryAnswers;
    std::function<void()> m_onRetry;
    std::function<void(const QString& step)> m_onProgress;
    std::vector<std::unique_ptr<DeviceSession>> m_sessions;
    QString m_loadError; // why the latest loadText()/loadFile() was refused
};

void ProfilesTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_log.clear();
    m_messages.clear();
    m_retryAnswers.clear();
    m_onRetry = nullptr;
    m_onProgress = nullptr;
    m_sessions.clear();
}

ModuleProfile ProfilesTest::loadText(const QByteArray& text, int channels)
{
    QFile f(file(QStringLiteral("p.txt")));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the profile");
    f.write(text);
    f.close();
    return loadFile(f.fileName(), channels);
}

ModuleProfile ProfilesTest::loadFile(const QString& fileName, int channels)
{
    ModuleProfile profile;
    m_loadError.clear();
    if (!ModuleProfile::load(fileName, channels, &profile, &m_loadError))
        return ModuleProfile();
    return profile;
}

ModuleProfile ProfilesTest::readProfile(BaseModule& module)
{
    ModuleProfile profile;
    QString error;
    if (!ModuleProfile::readFromModule(&module, &profile, &error))
        qFatal("profile not read: %s", qPrintable(error));
    return profile;
}

ProfileTestModule& ProfilesTest::newModule(int channels)
{
    auto* module = new ProfileTestModule(channels);
    auto session = std::make_unique<DeviceSession>(
        std::make_unique<MemoryControllerFactory>([module] { return QVector<MemoryModule*>{module}; }));
    if (!session->connectTo(QStringLiteral("memory")))
        qFatal("memory session not connected");
    // No refresh reads between the job's own: the tests count what the job read.
    session->poller()->setTickIntervalMs(3600 * 1000);
    m_sessions.push_back(std::move(session));
    return *module;
}

int ProfilesTest::write(ProfileTestModule& module, const ModuleProfile& profile)
{
    makeCapable(module);
    module.statusReads = 0;
    ProfileWriteJob job(m_sessions.back().get(), &module, profile);
    job.setPollWaitMs(0);
    connect(&job, &ProfileWriteJob::logLine, this, [this](const QString& line) { m_log << line; });
    connect(&job, &ProfileWriteJob::retryRequested, this, [this, &job](const QString& question) {
        m_messages << question;
        if (m_onRetry)
            m_onRetry();
        job.answerRetry(!m_retryAnswers.isEmpty() && m_retryAnswers.takeFirst());
    });
    connect(&job, &ServiceJob::progress, this, [this](int, int, const QString& step) {
        if (m_onProgress)
            m_onProgress(step);
    });
    QSignalSpy finished(&job, &ServiceJob::finished);
    job.start();
    if (!finished.wait(60000))
        qFatal("profile write did not end");
    if (job.error() == ServiceJob::NoError)
        m_messages << QStringLiteral("Profile written into device!");
    else
        m_messages << job.errorText();
    if (module.writtenOnGuiThread)
        qFatal("a write of the profile job ran on the GUI thread");
    return job.error();
}

void ProfilesTest::makeCapable(MemoryModule& module)
{
    // Channels able to take the sample profile (3000 V, 3 mA), unless a test chose otherwise.
    for (int n = 0; n < module.channelNumber(); ++n) {
        MemoryModule::Channel c = module.channel(n);
        if (c.currentHardwareNominal < 1)
            c.currentHardwareNominal = 3;
        module.setChannel(n, c);
    }
}

void ProfilesTest::textForms_data()
{
    QTest::addColumn<QByteArray>("line"); // in group [Module]
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("expected"); // -1: the load is refused, naming the key
    QTest::newRow("control hexadecimal") << QByteArray("Control=0x0044") << "control" << 68.0;
    QTest::newRow("control upper-case prefix") << QByteArray("Control=0X44") << "control" << 68.0;
    QTest::newRow("control decimal") << QByteArray("Control=68") << "control" << 68.0;
    QTest::newRow("control octal") << QByteArray("Control=0104") << "control" << 68.0;
    QTest::newRow("control bad octal digit") << QByteArray("Control=089") << "control" << -1.0;
    QTest::newRow("control binary is not a form") << QByteArray("Control=0b11") << "control" << -1.0;
    QTest::newRow("control high bits dropped") << QByteArray("Control=0x18044") << "control" << 0x8044 * 1.0;
    QTest::newRow("channel mask 32 bits") << QByteArray("EventChannelMask=0xFFFFFFFF") << "ecm" << 4294967295.0;
    QTest::newRow("channel mask too big") << QByteArray("EventChannelMask=0x100000000") << "ecm" << -1.0;
    QTest::newRow("restart time hexadecimal") << QByteArray("RestartTime=0x10") << "restart" << -1.0;
    QTest::newRow("restart time negative") << QByteArray("RestartTime=-5") << "restart" << -1.0;
    QTest::newRow("restart time decimal") << QByteArray("RestartTime=0016") << "restart" << 16.0;
    QTest::newRow("ramp speed with point") << QByteArray("VoltageRampSpeed=2.500") << "ramp" << 2.5;
    QTest::newRow("ramp speed with comma") << QByteArray("VoltageRampSpeed=\"2,5\"") << "ramp" << -1.0;
    QTest::newRow("ramp speed not a number") << QByteArray("VoltageRampSpeed=fast") << "ramp" << -1.0;
    QTest::newRow("ramp speed nan") << QByteArray("VoltageRampSpeed=nan") << "ramp" << -1.0;
    QTest::newRow("ramp speed infinite") << QByteArray("VoltageRampSpeed=inf") << "ramp" << -1.0;
}

void ProfilesTest::textForms()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, field);
    QFETCH(double, expected);
    const ModuleProfile p = loadText("[Module]\n" + line + "\n");
    if (expected < 0) {
        const QString key = QStringLiteral("Module.") + QString::fromLatin1(line.left(line.indexOf('=')));
        QVERIFY2(m_loadError.contains(key) && p.channels.isEmpty(), qPrintable(m_loadError));
        return;
    }
    QVERIFY2(m_loadError.isEmpty(), qPrintable(m_loadError));
    const double actual = field == QLatin1String("control") ? p.control
        : field == QLatin1String("ecm")                     ? p.eventChannelMask
        : field == QLatin1String("restart")                 ? p.restartTimeMs
                                                            : p.voltageRampSpeedPercentPerSecond;
    QCOMPARE(actual, expected);
}

void ProfilesTest::absentKeysTakeDefaults()
{
    // An empty file, one that is no profile and one that cannot be read are refused, not zeros.
    for (const QByteArray& text : {QByteArray(), QByteArray("just some text\n")}) {
        loadText(text, 2);
        QVERIFY2(m_loadError.contains(QStringLiteral("is empty or not a profile")), qPrintable(m_loadError));
    }
    loadFile(file(QStringLiteral("missing.txt")), 2);
    QVERIFY2(m_loadError.contains(QStringLiteral("cannot be read")), qPrintable(m_loadError));
    loadText("[Channel1]\nVoltageSet=0.5\nCurrentSet=1,5\n", 2);
    QVERIFY2(m_loadError.contains(QStringLiteral("Channel1.CurrentSet = \"1,5\"")), qPrintable(m_loadError));

    for (const ModuleProfile& p : {loadText("[Notes]\nOperator=somebody\n", 2)}) {
        QCOMPARE(p.voltageRampSpeedPercentPerSecond, 1.0);
        QCOMPARE(p.currentRampSpeedPercentPerSecond, 50.0);
        QCOMPARE(p.adcSamplesPerSecond, 500u);
        QCOMPARE(p.digitalFilter, 64u);
        QCOMPARE(p.control, quint16(0));
        QCOMPARE(p.channels.size(), 2);
        QCOMPARE(p.channels.at(1).voltageNominal, 0.0);
        QVERIFY(!p.recordsUnits());
    }
}

void ProfilesTest::savedTextFormsKeepSmallValues()
{
    MemoryModule module(1);
    module.setCurrentUnit(QStringLiteral("A"));
    module.state.control = 0x0044;
    module.state.eventChannelMask = 0xbeef;
    MemoryModule::Channel c;
    c.voltageSet = 2000;
    c.currentSet = 2.5e-6f; // 2.5 µA shown in A: six decimals would store 0.000003
    c.currentNominal = 1e-7f;
    module.setChannel(0, c);
    QVERIFY(readProfile(module).save(file(QStringLiteral("s.txt"))));

    const QSettings s(file(QStringLiteral("s.txt")), QSettings::IniFormat);
    QCOMPARE(s.value("Module/Control").toString(), QStringLiteral("0x0044"));
    QCOMPARE(s.value("Module/EventChannelMask").toString(), QStringLiteral("0x0000BEEF"));
    QCOMPARE(s.value("Module/VoltageRampSpeed").toString(), QStringLiteral("5.000"));
    QCOMPARE(s.value("Module/VoltageUnit").toString(), QStringLiteral("V"));
    QCOMPARE(s.value("Module/CurrentUnit").toString(), QStringLiteral("A"));
    QCOMPARE(s.value("Channel0/VoltageSet").toString(), QStringLiteral("2000.000"));
    QCOMPARE(s.value("Channel0/CurrentSet").toString(), QStringLiteral("0.00000250000"));
    const ModuleProfile back = loadFile(file(QStringLiteral("s.txt")), 1);
    QCOMPARE(float(back.channels.at(0).currentNominal), 1e-7f);
}

void ProfilesTest::unitsConvertOnLoad_data()
{
    QTest::addColumn<QString>("savedVoltageUnit");
    QTest::addColumn<QString>("savedCurrentUnit");
    QTest::addColumn<QString>("loadVoltageUnit");
    QTest::addColumn<QString>("loadCurrentUnit");
    QTest::addColumn<double>("voltage");
    QTest::addColumn<double>("current");
    QTest::addColumn<QString>("voltageLine");
    // 2000 V and 3 mA saved, loaded into a module showing other units.
    QTest::newRow("V to kV") << "V"
                             << "mA"
                             << "kV"
                             << "mA" << 2.0 << 3.0 << "Channel0.VoltageSet (kV)\t\t2";
    QTest::newRow("kV to V") << "kV"
                             << "mA"
                             << "V"
                             << "mA" << 2000.0 << 3.0 << "Channel0.VoltageSet (V)\t\t2000";
    QTest::newRow("mA to A") << "V"
                             << "mA"
                             << "V"
                             << "A" << 2000.0 << 0.003 << "Channel0.VoltageSet (V)\t\t2000";
    QTest::newRow("A to micro") << "V"
                                << "A"
                                << "V" << QString(BaseModule::microAmpereUnit()) << 2000.0 << 3000.0
                                << "Channel0.VoltageSet (V)\t\t2000";
}

void ProfilesTest::unitsConvertOnLoad()
{
    QFETCH(QString, savedVoltageUnit);
    QFETCH(QString, savedCurrentUnit);
    QFETCH(QString, loadVoltageUnit);
    QFETCH(QString, loadCurrentUnit);
    QFETCH(double, voltage);
    QFETCH(double, current);
    QFETCH(QString, voltageLine);
    MemoryModule saved(1);
    saved.setVoltageUnit(savedVoltageUnit);
    saved.setCurrentUnit(savedCurrentUnit);
    MemoryModule::Channel c;
    c.voltageSet = savedVoltageUnit == QLatin1String("kV") ? 2.0f : 2000.0f;
    c.currentSet = savedCurrentUnit == QLatin1String("A") ? 0.003f : 3.0f;
    saved.setChannel(0, c);
    QVERIFY(readProfile(saved).save(file(QStringLiteral("u.txt"))));

    const ModuleProfile loaded = loadFile(file(QStringLiteral("u.txt")), 1);
    const ModuleProfile p = loaded.convertedTo(loadVoltageUnit, loadCurrentUnit);
    QCOMPARE(float(p.channels.at(0).voltageSet), float(voltage));
    QCOMPARE(float(p.channels.at(0).currentSet), float(current));
    const QStringList lines = loaded.previewLines(QStringLiteral("u.txt"), loadVoltageUnit, loadCurrentUnit);
    QVERIFY2(lines.contains(voltageLine), qPrintable(lines.join('|')));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("Voltages converted from")));
    QVERIFY(lines.contains(QStringLiteral("Channel0.CurrentSet (%1)\t\t%2").arg(loadCurrentUnit).arg(current)));
}

void ProfilesTest::previewOfFreshProfile()
{
    QVERIFY(sampleProfile(2).save(file(QStringLiteral("f.txt"))));
    const QStringList lines = loadFile(file(QStringLiteral("f.txt")), 2)
                                  .previewLines(QStringLiteral("f.txt"), QStringLiteral("V"), QStringLiteral("mA"));
    // The window adds a line feed to each entry: an empty line follows the file name line.
    QCOMPARE(lines.mid(0, 3),
        QStringList({QStringLiteral("Using profile from file f.txt\n"), QStringLiteral("Module.Control\t\t0x1000"),
            QStringLiteral("Module.EventMask\t\t0x00ff")}));
    QCOMPARE(lines.at(5), QStringLiteral("Module.RestartTime (ms)\t\t250"));
    QCOMPARE(lines.at(10), QString());
    QCOMPARE(lines.at(11), QStringLiteral("Channel0.Control\t\t0x0008"));
    QCOMPARE(lines.at(13), QStringLiteral("Channel0.VoltageSet (V)\t\t1000"));
    QCOMPARE(lines.at(20), QStringLiteral("Channel0.CurrentMaxSet (mA)\t1.5"));
    QCOMPARE(lines.at(21), QString());
    QCOMPARE(lines.at(24), QStringLiteral("Channel1.VoltageSet (V)\t\t1001"));
    QCOMPARE(lines.size(), 32);
}

void ProfilesTest::profileWithoutUnitsWarns()
{
    const ModuleProfile loaded = loadText("[Channel0]\nVoltageSet=2000.000\nCurrentSet=0.003000\n");
    QVERIFY(!loaded.recordsUnits());
    // Read as the module's units of the moment, and said so.
    const QStringList lines = loaded.previewLines(QStringLiteral("p.txt"), QStringLiteral("kV"), QStringLiteral("A"));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("Warning: the profile records no units")));
    QVERIFY(lines.at(1).contains(QStringLiteral("kV")));
    QVERIFY(lines.contains(QStringLiteral("Channel0.VoltageSet (kV)\t\t2000")));
    QCOMPARE(loaded.convertedTo(QStringLiteral("kV"), QStringLiteral("A")).channels.at(0).currentSet, 0.003);
}

void ProfilesTest::channelCountsDiffer()
{
    QVERIFY(sampleProfile(2).save(file(QStringLiteral("two.txt"))));
    const ModuleProfile bigger = loadFile(file(QStringLiteral("two.txt")), 4);
    QCOMPARE(bigger.channels.size(), 4);
    QCOMPARE(bigger.channels.at(1).voltageSet, 1001.0);
    QCOMPARE(bigger.channels.at(3).voltageSet, 0.0); // missing group: all zero
    QCOMPARE(bigger.channels.at(3).control, 0u);
    QCOMPARE(loadFile(file(QStringLiteral("two.txt")), 1).channels.size(), 1);
    // More than 64 channels: the staging follows the module.
    QCOMPARE(loadFile(file(QStringLiteral("two.txt")), 100).channels.size(), 100);
}

void ProfilesTest::saveRemovesChannelsOfBiggerModule()
{
    const QString name = file(QStringLiteral("over.txt"));
    QVERIFY(sampleProfile(32).save(name));
    {
        QSettings extra(name, QSettings::IniFormat);
        extra.setValue(QStringLiteral("Notes/Operator"), QStringLiteral("kept"));
        extra.setValue(QStringLiteral("Module/Comment"), QStringLiteral("kept too"));
        extra.setValue(QStringLiteral("Channel40x/Key"), QStringLiteral("not a channel group"));
    }
    QVERIFY(sampleProfile(16).save(name));
    const QSettings s(name, QSettings::IniFormat);
    QVERIFY(s.childGroups().contains(QStringLiteral("Channel15")));
    QVERIFY(!s.childGroups().contains(QStringLiteral("Channel16")));
    QVERIFY(!s.childGroups().contains(QStringLiteral("Channel31")));
    QCOMPARE(s.value("Notes/Operator").toString(), QStringLiteral("kept"));
    QCOMPARE(s.value("Module/Comment").toString(), QStringLiteral("kept too"));
    QVERIFY(s.contains(QStringLiteral("Channel40x/Key")));
    // Loaded into a 32-channel module, channels 16..31 get nothing of the other module.
    QCOMPARE(loadFile(name, 32).channels.at(20).voltageSet, 0.0);
}

void ProfilesTest::failedSaveKeepsOldFile()
{
    const QString name = file(QStringLiteral("full.txt"));
    QVERIFY(sampleProfile(32).save(name));
    QFile old(name);
    QVERIFY(old.open(QIODevice::ReadOnly));
    const QByteArray before = old.readAll();
    old.close();

    // A disk that fills up after 2 KB: the new file cannot be written whole.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 2048;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    ModuleProfile changed = sampleProfile(24);
    changed.channels[0].voltageSet = 7;
    const bool ok = changed.save(name);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!ok);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), before);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("full.txt")});
}

void ProfilesTest::writeConfirmsAndStores()
{
    ProfileTestModule& module = newModule(2);
    ModuleProfile p = sampleProfile(2);
    p.channels[1].voltageInterlockMaxSet = 1500;
    QCOMPARE(write(module, p), int(ServiceJob::NoError));
    QCOMPARE(m_messages, QStringList{QStringLiteral("Profile written into device!")});
    QCOMPARE(m_log.first(), QStringLiteral("\nSetting Module to mode STOP ..."));
    QCOMPARE(module.channel(1).voltageSet, 1001.0f);
    QCOMPARE(module.channel(1).voltageIlkMax, 1500.0f);
    QCOMPARE(module.channel(0).currentNominal, 1.5f);
    QCOMPARE(module.state.restartTime, 250u);
    // Stop mode with events cleared, the store request, then stop released.
    const QStringList writes = module.writes();
    QCOMPARE(writes.first(), QStringLiteral("setControl(%1)").arg(0x1000 | setStop | doClear));
    QCOMPARE(writes.filter(QStringLiteral("setControl")).last(), QStringLiteral("setControl(%1)").arg(0x1000 | doClear));
    QCOMPARE(module.saveRequests, 1);
    QCOMPARE(writes.filter(QStringLiteral("setChannelControl")).size(), 4); // both passes
}

void ProfilesTest::stopModeNeverReached()
{
    ProfileTestModule& module = newModule(2);
    module.stopAfterReads = -1;
    QCOMPARE(write(module, sampleProfile(2)), int(ProfileWriteJob::StopModeNotReached));
    QCOMPARE(module.statusReads, ProfileWriteJob::stopModePolls);
    QCOMPARE(module.writes(), QStringList{QStringLiteral("setControl(%1)").arg(0x1000 | setStop | doClear)});
    QCOMPARE(m_messages,
        QStringList{QStringLiteral("Error setting Module to mode STOP. Giving up.\n"
                                   "Please turn the channels off and try again!")});
}

void ProfilesTest::channelControlNotReadBack()
{
    ProfileTestModule& module = newModule(2);
    module.droppedControlBits = 0x0400;
    ModuleProfile p = sampleProfile(2);
    p.channels[1].control = 0x0c08;
    QCOMPARE(write(module, p), int(ProfileWriteJob::ChannelNotConfirmed));
    QCOMPARE(m_messages,
        QStringList{QStringLiteral("Error setting Channel 1 Control word to 0c08 (read back 0808). Giving up.")});
    QCOMPARE(module.saveRequests, 0); // stays in stop mode with what was written so far
}

void ProfilesTest::nominalErrorNamesUnit()
{
    ProfileTestModule& module = newModule(1);
    module.setVoltageUnit(QStringLiteral("kV"));
    module.setCurrentUnit(BaseModule::microAmpereUnit());
    module.currentNominalReadBack = 1000;
    MemoryModule::Channel capable = module.channel(0);
    capable.voltageHardwareNominal = 3;
    capable.currentHardwareNominal = 3000;
    module.setChannel(0, capable);
    // 2000 V and 1.5 mA go in as 2 kV and 1500 µA, and the message names those units.
    const ModuleProfile p = sampleProfile(1).convertedTo(QStringLiteral("kV"), BaseModule::microAmpereUnit());
    QCOMPARE(write(module, p), int(ProfileWriteJob::ChannelNotConfirmed));
    QCOMPARE(m_messages,
        QStringList{QStringLiteral("Error setting Channel 0 CurrentMaxSet to 1500 %1 (read back 1000 %1). "
                                   "Giving up.")
                        .arg(BaseModule::microAmpereUnit())});
    QCOMPARE(module.channel(0).voltageNominal, 2.0f);
}

void ProfilesTest::refusedWriteStops()
{
    ProfileTestModule& module = newModule(2);
    module.refuse(QStringLiteral("setChannelVoltageSet"), QStringLiteral("wrongValue"));
    QCOMPARE(write(module, sampleProfile(2)), int(ProfileWriteJob::WriteRefused));
    const QString reason =
        QStringLiteral("Error writing Channel0.VoltageSet 1000 V: refused by the crate (wrongValue). Giving up.");
    QCOMPARE(m_messages, QStringList{reason});
    QCOMPARE(m_log.last(), reason);
    // Nothing after the refused write: no second channel, no store request.
    QCOMPARE(module.writes().last(), QStringLiteral("setChannelVoltageSet(0, 1000)"));
    QCOMPARE(module.saveRequests, 0);
}

// The module stops answering after the first channel: the next write ends the job, nothing more
// is sent, and the module stays in stop mode with the first channel written.
void ProfilesTest::silentModuleHalfWay()
{
    ProfileTestModule& module = newModule(2);
    m_onProgress = [&module](const QString& step) {
        if (step == QLatin1String("Channel 0 written"))
            module.setAnswering(false);
    };
    QCOMPARE(write(module, sampleProfile(2)), int(ProfileWriteJob::WriteRefused));
    QVERIFY2(m_log.last().startsWith(QStringLiteral("Error writing Channel1.Control 0x0008: ")), qPrintable(m_log.last()));
    QCOMPARE(module.writes().last(), QStringLiteral("setChannelControl(1, 8)"));
    QCOMPARE(module.saveRequests, 0);
    QCOMPARE(module.channel(0).voltageSet, 1000.0f);
    QVERIFY(module.state.control & setStop);
}

void ProfilesTest::storeRetry_data()
{
    QTest::addColumn<bool>("retry");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("requests");
    QTest::newRow("Yes repeats the request") << true << int(int(ServiceJob::NoError)) << 2;
    QTest::newRow("No ends") << false << int(ProfileWriteJob::SaveNotAcknowledged) << 1;
}

void ProfilesTest::storeRetry()
{
    QFETCH(bool, retry);
    QFETCH(int, result);
    QFETCH(int, requests);
    ProfileTestModule& module = newModule(1);
    module.acknowledgeSave = false;
    m_retryAnswers = {retry};
    // The second request is acknowledged.
    m_onRetry = [&module] { module.acknowledgeSave = true; };
    const int r = write(module, sampleProfile(1));
    QCOMPARE(int(r), result);
    QCOMPARE(module.saveRequests, requests);
    QCOMPARE(m_messages.first(), QStringLiteral("Error setting ModuleControl.DoSaveSetValues. Try again?"));
    QCOMPARE(m_messages.contains(QStringLiteral("Profile written into device!")), retry);
}

// Without anyone listening for the question the answer is No: the job ends, it does not wait.
void ProfilesTest::storeRetryWithNobodyToAsk()
{
    ProfileTestModule& module = newModule(1);
    module.acknowledgeSave = false;
    makeCapable(module);
    ProfileWriteJob job(m_sessions.back().get(), &module, sampleProfile(1));
    job.setPollWaitMs(0);
    QSignalSpy finished(&job, &ServiceJob::finished);
    job.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(job.error(), int(ProfileWriteJob::SaveNotAcknowledged));
    QCOMPARE(module.saveRequests, 1);
}

void ProfilesTest::storeNeverFinishes()
{
    ProfileTestModule& module = newModule(1);
    module.saveBusyReads = -1;
    QCOMPARE(write(module, sampleProfile(1)), int(ProfileWriteJob::SaveNotFinished));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().startsWith(QStringLiteral("Error saving the set values")));
    QVERIFY(!m_log.contains(QStringLiteral("Profile written into device!")));
    // Stop mode is not released over a store still in progress.
    QVERIFY(module.state.control & doSaveSetValues);
}

// Releasing stop mode changes two bits of the word the module holds: a word that could not be
// read is neither taken as "store finished" nor written back (it would clear kill enable).
void ProfilesTest::unreadControlWordIsNotWrittenBack()
{
    ProfileTestModule& module = newModule(1);
    module.readsFailOnceAcknowledged = true;
    QCOMPARE(write(module, sampleProfile(1)), int(ProfileWriteJob::SaveNotFinished));
    QCOMPARE(module.writes().filter(QStringLiteral("setControl")).last(),
        QStringLiteral("setControl(%1)").arg(0x1000 | setStop | doClear | doSaveSetValues));
    module.setReadsFail(false);
    QCOMPARE(module.state.control & 0x1000u, 0x1000u);
    QVERIFY(module.state.control & setStop);
}

void ProfilesTest::nominalReadBackAllowsFloatRoundTrip()
{
    // kV through the module's float conversion: a few units in the last place away, not equal.
    ProfileTestModule& module = newModule(2);
    module.setVoltageUnit(QStringLiteral("kV"));
    module.nominalReadBackFactor = 1 + 3e-7;
    QCOMPARE(
        write(module, sampleProfile(2).convertedTo(QStringLiteral("kV"), QStringLiteral("mA"))), int(ServiceJob::NoError));
    // A real difference still stops the write.
    ProfileTestModule& wrong = newModule(1);
    wrong.nominalReadBackFactor = 1.001;
    QCOMPARE(write(wrong, sampleProfile(1)), int(ProfileWriteJob::ChannelNotConfirmed));
}

void ProfilesTest::valuesCheckedAgainstHardwareNominal_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("readsFail");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");
    QTest::newRow("nominal taken as kV") << "voltageNominal" << 3000.0 << false << int(ProfileWriteJob::AboveHardwareNominal)
                                         << "Channel1.VoltageMaxSet 3000 kV is above the channel's hardware nominal 3 kV";
    QTest::newRow("set current") << "currentSet" << 3.5 << false << int(ProfileWriteJob::AboveHardwareNominal)
                                 << "Channel1.CurrentSet 3.5 mA is above";
    QTest::newRow("negative bound") << "voltageInterlockMinSet" << -3.5 << false
                                    << int(ProfileWriteJob::AboveHardwareNominal) << "Channel1.VoltageIlkMinSet -3.5 kV";
    QTest::newRow("at the nominal") << "voltageNominal" << 3.0 << false << int(int(ServiceJob::NoError)) << "";
    QTest::newRow("nominals not read") << "voltageSet" << 1.0 << true << int(ProfileWriteJob::HardwareNominalNotRead)
                                       << "Channel 0: the hardware nominal values could not be read (no answer)";
}

void ProfilesTest::valuesCheckedAgainstHardwareNominal()
{
    QFETCH(QString, field);
    QFETCH(double, value);
    QFETCH(bool, readsFail);
    QFETCH(int, result);
    QFETCH(QString, message);
    ProfileTestModule& module = newModule(2);
    module.setVoltageUnit(QStringLiteral("kV"));
    for (int n = 0; n < 2; ++n) {
        MemoryModule::Channel c = module.channel(n);
        c.voltageHardwareNominal = 3;
        module.setChannel(n, c);
    }
    module.setReadsFail(readsFail);
    ModuleProfile p = sampleProfile(2);
    p.voltageUnit.clear(); // no units recorded: the numbers are the module's kV
    p.currentUnit.clear();
    for (ModuleProfile::Channel& c : p.channels) {
        c.voltageSet = 1;
        c.voltageNominal = 2;
    }
    ModuleProfile::Channel& c = p.channels[1];
    double* target = field == QLatin1String("voltageNominal") ? &c.voltageNominal
        : field == QLatin1String("currentSet")                ? &c.currentSet
        : field == QLatin1String("voltageSet")                ? &c.voltageSet
                                                              : &c.voltageInterlockMinSet;
    *target = value;
    QCOMPARE(write(module, p), result);
    if (result == int(ServiceJob::NoError))
        return;
    QVERIFY2(m_messages.size() == 1 && m_messages.first().startsWith(message), qPrintable(m_messages.join('|')));
    QVERIFY(m_messages.first().contains(QStringLiteral("Nothing written")));
    QCOMPARE(module.writes(), QStringList()); // checked before anything is sent
}

void ProfilesTest::saveWithFailedReadNamesValue()
{
    MemoryModule module(2);
    module.setReadsFail(true);
    ModuleProfile p;
    QString error;
    QVERIFY(!ModuleProfile::readFromModule(&module, &p, &error));
    QVERIFY2(error.endsWith(QStringLiteral("(no answer)")) && error.contains(QLatin1Char('.')), qPrintable(error));
    module.setReadsFail(false);
    QVERIFY2(ModuleProfile::readFromModule(&module, &p, &error), qPrintable(error));
    QCOMPARE(p.channels.size(), 2);
    QCOMPARE(float(p.channels.at(1).voltageNominal), module.channel(1).voltageNominal);
}

// Save Profile as a job through a device session: the file appears only when every value was
// read, and a module that does not answer leaves no file and says which value failed.
void ProfilesTest::saveJobSavesOnlyWhatWasRead()
{
    for (const bool answering : {true, false}) {
        auto* module = new MemoryModule(2);
        makeCapable(*module);
        module->setReadsFail(!answering);
        DeviceSession session(
            std::make_unique<MemoryControllerFactory>([module] { return QVector<MemoryModule*>{module}; }));
        QVERIFY(session.connectTo(QStringLiteral("memory")));
        const QString fileName = file(answering ? QStringLiteral("read.txt") : QStringLiteral("unread.txt"));
        SaveProfileJob job(&session, module, fileName);
        QSignalSpy finished(&job, &ServiceJob::finished);
        job.start();
        QVERIFY(!QFile::exists(fileName));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QCOMPARE(QFile::exists(fileName), answering);
        if (answering) {
            QCOMPARE(job.error(), int(ServiceJob::NoError));
            QCOMPARE(loadFile(fileName, 2).channels.size(), 2);
        } else {
            QCOMPARE(job.error(), int(SaveProfileJob::NotRead));
            QVERIFY2(job.errorText().startsWith(QStringLiteral("Profile not saved: ")), qPrintable(job.errorText()));
            QVERIFY2(
                job.errorText().endsWith(QStringLiteral("(no answer) could not be read from %1.").arg(module->address())),
                qPrintable(job.errorText()));
        }
    }
}

QTEST_GUILESS_MAIN(ProfilesTest)
#include "tst_profiles.moc"
