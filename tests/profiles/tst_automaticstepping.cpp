// Automatic stepping without a window, against in-memory modules of a device session: the
// direction logic, the scopes, volts for modules shown in kV, the deviation threshold, refused
// writes in the log, the record file, and one step or pass at a time, run off this thread.
#include "profiles/AutomaticStepping.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include "device/DeviceSession.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {
using Parameters = AutomaticStepping::Parameters;

Parameters parameters(AutomaticStepping::Scope scope, double increment = 100)
{
    Parameters p;
    p.upperVolts = 500;
    p.lowerVolts = 300;
    p.incrementVolts = increment;
    p.scope = scope;
    return p;
}

// Notes whether a write reached it on the test's (the GUI) thread.
class NotingModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    std::atomic<bool> writtenOnGuiThread{false};
    bool setAllChannelsVoltageSet(float vset) override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            writtenOnGuiThread = true;
        return MemoryModule::setAllChannelsVoltageSet(vset);
    }
};

void setVoltage(MemoryModule& module, int channel, float value)
{
    MemoryModule::Channel c = module.channel(channel);
    c.voltageSet = value;
    module.setChannel(channel, c);
}
} // namespace

class AutomaticSteppingTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void directionTurnsAtLimits_data();
    void directionTurnsAtLimits();
    void scopesReachTheirModules_data();
    void scopesReachTheirModules();
    void limitsAreVoltsForEveryModule();
    void deviationThreshold_data();
    void deviationThreshold();
    void refusedWriteShowsInLog();
    void channelScopeNeedsChannel();
    void recordPerModuleAndPass();
    void oneAtATimeOffThisThread();

private:
    AutomaticStepping::Target target(int current = 0, int row = 0) const;
    // Runs a step or a pass to its end: whether it demanded a value, the deviations found.
    bool step(const Parameters& parameters, const AutomaticStepping::Target& target);
    int controlPass(const Parameters& parameters, const AutomaticStepping::Target& target);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<AutomaticStepping> m_stepping;
    std::vector<MemoryModule*> m_modules; // owned by the session
};

void AutomaticSteppingTest::init()
{
    m_stepping.reset();
    m_session.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_modules.clear();
    m_session = std::make_unique<DeviceSession>(std::make_unique<MemoryControllerFactory>([this] {
        for (int serial = 1; serial <= 6; ++serial)
            m_modules.push_back(new NotingModule(2, 20, 100 + serial));
        return QVector<MemoryModule*>(m_modules.begin(), m_modules.end());
    }));
    QVERIFY(m_session->connectTo(QStringLiteral("memory")));
    m_session->poller()->setTickIntervalMs(3600 * 1000);
    m_stepping = std::make_unique<AutomaticStepping>(m_session.get());
    m_stepping->setLogFileName(m_dir->filePath(QStringLiteral("autologfile.csv")));
}

bool AutomaticSteppingTest::step(const Parameters& parameters, const AutomaticStepping::Target& target)
{
    QSignalSpy done(m_stepping.get(), &AutomaticStepping::stepFinished);
    m_stepping->step(parameters, target);
    if (done.isEmpty() && !done.wait(5000))
        qFatal("step did not end");
    return done.first().first().toBool();
}

int AutomaticSteppingTest::controlPass(const Parameters& parameters, const AutomaticStepping::Target& target)
{
    QSignalSpy done(m_stepping.get(), &AutomaticStepping::controlPassFinished);
    m_stepping->controlPass(parameters, target);
    if (done.isEmpty() && !done.wait(5000))
        qFatal("control pass did not end");
    return done.first().first().toInt();
}

AutomaticStepping::Target AutomaticSteppingTest::target(int current, int row) const
{
    AutomaticStepping::Target t;
    t.current = m_modules.at(current);
    t.row = row;
    for (MemoryModule* module : m_modules)
        t.modules.append(module);
    return t;
}

void AutomaticSteppingTest::directionTurnsAtLimits_data()
{
    QTest::addColumn<double>("increment");
    QTest::addColumn<QList<double>>("applied");
    QTest::newRow("up and down") << 100.0 << QList<double>{350, 450, 500, 400, 300, 400};
    QTest::newRow("increment wider than the span") << 1000.0 << QList<double>{500, 300, 500, 300};
}

void AutomaticSteppingTest::directionTurnsAtLimits()
{
    QFETCH(double, increment);
    QFETCH(QList<double>, applied);
    MemoryModule& module = *m_modules.at(0);
    setVoltage(module, 1, 250);
    for (double expected : applied) {
        QVERIFY(step(parameters(AutomaticStepping::SelectedModule, increment), target(0, 1)));
        QCOMPARE(module.channel(0).voltageSet, float(expected));
        QCOMPARE(module.channel(1).voltageSet, float(expected));
    }
}

void AutomaticSteppingTest::scopesReachTheirModules_data()
{
    QTest::addColumn<int>("scope");
    QTest::addColumn<QList<bool>>("stepped"); // per module, channel 1
    QTest::newRow("channel") << 0 << QList<bool>{false, false, false, false, false, false};
    QTest::newRow("module") << 1 << QList<bool>{false, true, false, false, false, false};
    QTest::newRow("system") << 2 << QList<bool>{true, true, true, true, true, true};
    QTest::newRow("first four") << 3 << QList<bool>{true, true, true, true, false, false};
}

void AutomaticSteppingTest::scopesReachTheirModules()
{
    QFETCH(int, scope);
    QFETCH(QList<bool>, stepped);
    for (const auto& module : m_modules)
        setVoltage(*module, 1, 250);
    // Current module 1, current row 0: the channel scope steps its channel 0 only.
    QVERIFY(step(parameters(AutomaticStepping::Scope(scope)), target(1, 0)));
    for (int index = 0; index < int(m_modules.size()); ++index)
        QCOMPARE(m_modules.at(index)->channel(1).voltageSet, stepped.at(index) ? 100.0f : 250.0f);
    QCOMPARE(m_modules.at(1)->channel(0).voltageSet, 100.0f);
}

void AutomaticSteppingTest::limitsAreVoltsForEveryModule()
{
    MemoryModule& kilovolts = *m_modules.at(0);
    kilovolts.setVoltageUnit(QStringLiteral("kV"));
    setVoltage(kilovolts, 0, 0.25f); // 250 V
    QVERIFY(step(parameters(AutomaticStepping::WholeSystem), target(0, 0)));
    QCOMPARE(m_stepping->demandedVolts(), 350.0);
    QCOMPARE(kilovolts.channel(1).voltageSet, 0.35f);
    QCOMPARE(m_modules.at(1)->channel(1).voltageSet, 350.0f);
    // Read back in kV and compared in volts: no deviation.
    QSignalSpy log(m_stepping.get(), &AutomaticStepping::controlLog);
    QCOMPARE(controlPass(parameters(AutomaticStepping::WholeSystem), target(0, 0)), 0);
    QCOMPARE(log.count(), 0);
}

void AutomaticSteppingTest::deviationThreshold_data()
{
    QTest::addColumn<float>("readBack");
    QTest::addColumn<int>("errors");
    QTest::newRow("within 1 mV") << 300.0005f << 0;
    QTest::newRow("beyond 1 mV") << 300.002f << 1;
}

void AutomaticSteppingTest::deviationThreshold()
{
    QFETCH(float, readBack);
    QFETCH(int, errors);
    MemoryModule& module = *m_modules.at(0);
    setVoltage(module, 0, 400);
    step(parameters(AutomaticStepping::SelectedChannel), target(0, 0)); // up to 500 ...
    step(parameters(AutomaticStepping::SelectedChannel), target(0, 0)); // ... and down to 400
    setVoltage(module, 0, 400);
    step(parameters(AutomaticStepping::SelectedChannel), target(0, 0));
    QCOMPARE(m_stepping->demandedVolts(), 300.0);
    setVoltage(module, 0, readBack);
    QSignalSpy log(m_stepping.get(), &AutomaticStepping::controlLog);
    QCOMPARE(controlPass(parameters(AutomaticStepping::SelectedChannel), target(0, 0)), errors);
    QCOMPARE(log.count(), errors);
    if (errors) {
        const QString message = log.first().first().toString();
        QVERIFY2(message.endsWith(QStringLiteral(": memory.0.VSet = 300.002 (demand was 300)")), qPrintable(message));
    }
}

void AutomaticSteppingTest::refusedWriteShowsInLog()
{
    m_modules.at(2)->refuse(QStringLiteral("setAllChannelsVoltageSet"), QStringLiteral("wrongValue"));
    QSignalSpy log(m_stepping.get(), &AutomaticStepping::controlLog);
    QVERIFY(step(parameters(AutomaticStepping::WholeSystem), target(0, 0)));
    QCOMPARE(log.count(), 1);
    QVERIFY(log.first().first().toString().endsWith(QStringLiteral("memory: Vset 100 V refused by the crate (wrongValue)")));
    // The pass reports the module that kept its old value.
    QCOMPARE(controlPass(parameters(AutomaticStepping::WholeSystem), target(0, 0)), 2);
}

void AutomaticSteppingTest::channelScopeNeedsChannel()
{
    QSignalSpy log(m_stepping.get(), &AutomaticStepping::controlLog);
    QVERIFY(!step(parameters(AutomaticStepping::SelectedChannel), target(0, -1)));
    QVERIFY(log.first().first().toString().endsWith(QStringLiteral("no channel selected; nothing changed.")));
    QVERIFY(m_modules.at(0)->writes().isEmpty());
    // A silent module: nothing demanded, nothing written.
    m_modules.at(0)->setAnswering(false);
    QVERIFY(!step(parameters(AutomaticStepping::SelectedModule), target(0, 0)));
    QVERIFY(m_modules.at(0)->writes().isEmpty());
}

void AutomaticSteppingTest::recordPerModuleAndPass()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto restoreLocale = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    MemoryModule::Channel c;
    c.voltageMeasure = 1234.5f;
    m_modules.at(0)->setChannel(1, c);
    QVERIFY(step(parameters(AutomaticStepping::FirstFourModules, 1000), target(0, 0)));
    controlPass(parameters(AutomaticStepping::FirstFourModules), target(0, 0));
    controlPass(parameters(AutomaticStepping::FirstFourModules), target(0, 0));
    QFile file(m_dir->filePath(QStringLiteral("autologfile.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 8); // four modules, two passes
    // date;time;demand;serial;then set, measured and demand minus measured of each channel
    const QStringList fields = lines.first().split(';');
    QCOMPARE(fields.size(), 4 + 2 * 3 + 1);
    QCOMPARE(fields.mid(2, 2), QStringList({QStringLiteral("500"), QStringLiteral("101")}));
    QCOMPARE(fields.mid(7, 3), QStringList({QStringLiteral("500"), QStringLiteral("1234,5"), QStringLiteral("-734,5")}));
}

// A step still waiting for the crate takes no second step or pass (the window retries a pass
// later); the module's writes run on the session's poller thread.
void AutomaticSteppingTest::oneAtATimeOffThisThread()
{
    MemoryModule& module = *m_modules.at(0);
    setVoltage(module, 1, 250);
    QSignalSpy steps(m_stepping.get(), &AutomaticStepping::stepFinished);
    QSignalSpy passes(m_stepping.get(), &AutomaticStepping::controlPassFinished);
    m_stepping->step(parameters(AutomaticStepping::SelectedModule), target(0, 1));
    QVERIFY(m_stepping->busy());
    m_stepping->step(parameters(AutomaticStepping::SelectedModule), target(0, 1));
    m_stepping->controlPass(parameters(AutomaticStepping::SelectedModule), target(0, 1));
    QTRY_COMPARE(steps.count(), 1);
    QVERIFY(!m_stepping->busy());
    QTest::qWait(20);
    QCOMPARE(steps.count(), 1);
    QCOMPARE(passes.count(), 0);
    QCOMPARE(module.channel(1).voltageSet, 350.0f); // one increment
    QCOMPARE(module.writes(), QStringList{QStringLiteral("setAllChannelsVoltageSet(350)")});
    QVERIFY(!static_cast<NotingModule&>(module).writtenOnGuiThread);
}

QTEST_GUILESS_MAIN(AutomaticSteppingTest)
#include "tst_automaticstepping.moc"
