// Commands through the device session against a slow simulated crate while the poller reads every
// module: they run off the caller's thread, in the order each caller gave them, ahead of the
// refresh; an emergency off overtakes the waiting ones; results come back to the session's thread.
#include "CrateFixture.h"

#include "device/BaseCrate.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"

#include <QMutex>
#include <QNetworkProxyFactory>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <memory>
#include <thread>

namespace {
const QString twoModules = QStringLiteral(R"([{"slot": 0, "type": "THE1640p"}, {"slot": 2, "type": "THX0830b"}])");

// What ran on the device side, in the order it ran; filled there, read here.
class RunLog
{
public:
    void add(const QString& entry)
    {
        QMutexLocker locker(&m_mutex);
        m_entries.append(entry);
    }
    QStringList entries() const
    {
        QMutexLocker locker(&m_mutex);
        return m_entries;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_entries;
};
} // namespace

class TestDeviceCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"))
            .clear();
    }

    void init()
    {
        m_crate = std::make_unique<CrateFixture>(twoModules);
        QString error;
        QVERIFY2(m_crate->start(&error), qPrintable(error));
        m_session = std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
        QVERIFY(m_session->connectTo(m_crate->simulator().address()));
        QCOMPARE(m_session->modules().size(), 2);
        // The poller is never idle: every module's channels every tick, over a slow link.
        m_session->setNeeds(this, Poller::AllModulesChannels | Poller::CurrentModuleChannels);
        QVERIFY(m_crate->simulator().command(QStringLiteral("delay 150")));
    }

    void cleanup()
    {
        m_session.reset();
        m_crate.reset();
    }

    // The window's thread and a script thread each give a series of set values to both modules.
    // Each caller's series arrives in its order on each module (the last value given is the one
    // the crate keeps), every result comes back to this thread, and none waits behind the refresh
    // until the end: all are done while the poller keeps reading.
    void orderKeptPerCallerAndModule()
    {
        RunLog ran;
        QStringList delivered;
        QThread* const guiThread = QThread::currentThread();
        bool resultsInGuiThread = true;
        bool ranOffGuiThread = true;
        const auto submit = [&](const QString& caller, int module, int step) {
            m_session->submitCommand(this, module, DeviceSession::Priority::Normal,
                [&, caller, module, step](BaseModule& target) -> DeviceSession::CommandResult {
                    if (QThread::currentThread() == guiThread)
                        ranOffGuiThread = false;
                    const bool ok = target.setChannelVoltageSet(caller == QLatin1String("gui") ? 0 : 1, float(10 * step));
                    ran.add(QStringLiteral("%1 %2 %3").arg(caller).arg(module).arg(step));
                    return [&, caller, module, step, ok] {
                        if (QThread::currentThread() != guiThread)
                            resultsInGuiThread = false;
                        delivered.append(QStringLiteral("%1 %2 %3 %4").arg(caller).arg(module).arg(step).arg(ok));
                    };
                });
        };
        constexpr int steps = 4;
        std::thread script([&] {
            for (int step = 1; step <= steps; ++step)
                for (int module = 0; module < 2; ++module)
                    submit(QStringLiteral("script"), module, step);
        });
        for (int step = 1; step <= steps; ++step)
            for (int module = 0; module < 2; ++module)
                submit(QStringLiteral("gui"), module, step);
        script.join();

        QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), 4 * steps, 20000);
        QVERIFY(ranOffGuiThread);
        QVERIFY(resultsInGuiThread);
        for (const QString& result : std::as_const(delivered))
            QVERIFY2(result.endsWith(QLatin1String(" 1")), qPrintable(result));
        const QStringList order = ran.entries();
        for (const QString& caller : {QStringLiteral("gui"), QStringLiteral("script")}) {
            for (int module = 0; module < 2; ++module) {
                QStringList expected;
                for (int step = 1; step <= steps; ++step)
                    expected.append(QStringLiteral("%1 %2 %3").arg(caller).arg(module).arg(step));
                const QString prefix = QStringLiteral("%1 %2 ").arg(caller).arg(module);
                QStringList seen;
                for (const QString& entry : order)
                    if (entry.startsWith(prefix))
                        seen.append(entry);
                QCOMPARE(seen, expected);
            }
            // The crate keeps the last value each caller gave.
            for (int module = 0; module < 2; ++module)
                QCOMPARE(m_session->sharedModule(module)->channelVoltageSet(caller == QLatin1String("gui") ? 0 : 1),
                    float(10 * steps));
        }
        // The refresh goes on once the commands are done.
        const qint64 doneAtMs = ModuleSnapshot::nowMs();
        QTRY_VERIFY_WITH_TIMEOUT(
            m_session->poller()->moduleSnapshot(1) && m_session->poller()->moduleSnapshot(1)->channelsReadAtMs >= doneAtMs,
            5000);
    }

    // An emergency off given behind a queue of normal commands runs next: at most the command in
    // flight when it was given runs before it.
    void emergencyOffOvertakesWaitingCommands()
    {
        RunLog ran;
        int results = 0;
        constexpr int normalCommands = 6;
        for (int step = 0; step < normalCommands; ++step) {
            m_session->submitCommand(
                this, 0, DeviceSession::Priority::Normal, [&ran, step](BaseModule& target) -> DeviceSession::CommandResult {
                    target.setChannelVoltageSet(2, float(step));
                    ran.add(QStringLiteral("set %1").arg(step));
                    return [] {};
                });
        }
        bool emergencyTaken = false;
        m_session->submitCommand(this, 1, DeviceSession::Priority::Urgent,
            [&ran, &results, &emergencyTaken](BaseModule& target) -> DeviceSession::CommandResult {
                const bool ok = target.setChannelEmergencyOff(0);
                ran.add(QStringLiteral("emergency off"));
                return [ok, &results, &emergencyTaken] {
                    emergencyTaken = ok;
                    ++results;
                };
            });
        QTRY_COMPARE_WITH_TIMEOUT(ran.entries().size(), normalCommands + 1, 20000);
        QTRY_COMPARE(results, 1);
        QVERIFY(emergencyTaken);
        const int position = int(ran.entries().indexOf(QStringLiteral("emergency off")));
        QVERIFY2(position >= 0 && position <= 1, qPrintable(ran.entries().join(QStringLiteral(", "))));
    }

    // Crate commands share the modules' queue: off the caller's thread, in the order given,
    // results back in this thread; the crate stays reachable without modules (a crate switched
    // off) and nothing runs once the connection is gone.
    void crateCommandsShareTheQueue()
    {
        using Result = DeviceSession::CommandResult;
        RunLog ran;
        QThread* const guiThread = QThread::currentThread();
        bool offGuiThread = true;
        bool resultsInGuiThread = true;
        int results = 0;
        const auto moduleCommand = [&](const QString& name) {
            m_session->submitCommand(this, 0, DeviceSession::Priority::Normal, [&, name](BaseModule& target) -> Result {
                offGuiThread = offGuiThread && QThread::currentThread() != guiThread;
                target.setChannelVoltageSet(4, 5.0f);
                ran.add(name);
                return [&] { ++results; };
            });
        };
        bool powerRead = false;
        bool powerOn = false;
        const auto crateCommand = [&] {
            m_session->submitCrateCommand(
                this, DeviceSession::Priority::Normal, [&](BaseController&, BaseCrate* crate) -> Result {
                    offGuiThread = offGuiThread && QThread::currentThread() != guiThread;
                    bool on = false;
                    const bool read = crate && crate->readPowerOn(&on);
                    ran.add(crate ? QStringLiteral("crate") : QStringLiteral("no crate"));
                    return [&, read, on] {
                        resultsInGuiThread = resultsInGuiThread && QThread::currentThread() == guiThread;
                        powerRead = read;
                        powerOn = on;
                        ++results;
                    };
                });
        };
        moduleCommand(QStringLiteral("module"));
        crateCommand();
        moduleCommand(QStringLiteral("module again"));
        QTRY_COMPARE_WITH_TIMEOUT(results, 3, 10000);
        QCOMPARE(ran.entries(), (QStringList{"module", "crate", "module again"}));
        QVERIFY(offGuiThread);
        QVERIFY(resultsInGuiThread);
        QVERIFY(powerRead && powerOn);

        m_session->releaseModules();
        powerRead = false;
        crateCommand();
        QTRY_COMPARE_WITH_TIMEOUT(results, 4, 10000);
        QCOMPARE(ran.entries().last(), QStringLiteral("crate"));
        QVERIFY(powerRead);

        m_session->release();
        bool dropped = false;
        bool ranAfterRelease = false;
        m_session->submitCrateCommand(
            this, DeviceSession::Priority::Normal,
            [&](BaseController&, BaseCrate*) -> Result {
                ranAfterRelease = true;
                return {};
            },
            [&dropped] { dropped = true; });
        QTRY_VERIFY(dropped);
        QVERIFY(!ranAfterRelease);
    }

    // A command whose module went away before its turn sends nothing and says so; one whose
    // receiver is gone delivers nothing.
    void commandsForReleasedModulesAreDropped()
    {
        bool ran = false;
        bool dropped = false;
        // Keeps the device thread busy so the next command is still waiting at the release.
        m_session->submitCommand(nullptr, 0, DeviceSession::Priority::Normal, [](BaseModule& target) {
            target.setChannelVoltageSet(3, 1.0f);
            return DeviceSession::CommandResult();
        });
        m_session->submitCommand(
            nullptr, 1, DeviceSession::Priority::Normal,
            [&ran](BaseModule&) -> DeviceSession::CommandResult {
                ran = true;
                return {};
            },
            [&dropped] { dropped = true; });
        m_session->releaseModules();
        QTRY_VERIFY_WITH_TIMEOUT(dropped, 10000);
        QVERIFY(!ran);

        auto receiver = std::make_unique<QObject>();
        bool delivered = false;
        QVERIFY(m_session->connectTo(m_crate->simulator().address()));
        m_session->submitCommand(receiver.get(), 0, DeviceSession::Priority::Normal,
            [&delivered](BaseModule& target) -> DeviceSession::CommandResult {
                target.setChannelVoltageSet(3, 2.0f);
                return [&delivered] { delivered = true; };
            });
        bool after = false;
        m_session->submitCommand(nullptr, 0, DeviceSession::Priority::Normal,
            [&after](BaseModule&) -> DeviceSession::CommandResult { return [&after] { after = true; }; });
        receiver.reset();
        QTRY_VERIFY_WITH_TIMEOUT(after, 10000);
        QVERIFY(!delivered);
    }

private:
    std::unique_ptr<CrateFixture> m_crate;
    std::unique_ptr<DeviceSession> m_session;
};

QTEST_GUILESS_MAIN(TestDeviceCommands)
#include "tst_devicecommands.moc"
