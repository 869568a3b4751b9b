// The script thread and the poller on one module at once, against the crate simulator: every
// module call of the script is serialised with the poller's reads (run under ThreadSanitizer),
// and a release of the modules ends a running script without another call on its module.
#include "app/IsolatedSettings.h"
#include "common/SimulatorProcess.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"
#include "scripting/ScriptThread.h"

#include <QCoreApplication>
#include <QNetworkProxyFactory>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestScriptThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // See tst_snmpmodulethreads: no system proxy lookup thread that ThreadSanitizer cannot see.
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        QVERIFY2(m_simulator.start(), qPrintable(m_simulator.output()));
        QVERIFY(m_simulator.command(QStringLiteral("noise off")));
        m_session = std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
        QVERIFY(m_session->connectTo(m_simulator.address()));
        m_session->setNeeds(this, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);
        connect(m_session.get(), &DeviceSession::modulesAboutToBeReleased, &m_thread, &ScriptThread::releaseModule);
    }
    void cleanupTestCase()
    {
        m_session.reset();
        m_simulator.stop();
    }

    void scriptAndPollerShareModule()
    {
        QSignalSpy lines(&m_thread, &ScriptThread::scriptMessage);
        // Channel 0 reads the crate and stores the module's block of set values in one operation;
        // the other channels answer from that block: a value once written to them, never
        // another quantity's.
        m_thread.setScript(QStringLiteral(R"(
            var wrong = [];
            mod.setChannelOn(1);
            for (var i = 1; i <= 300; ++i) {
                var c = i % 4;
                mod.setChannelVoltageSet(c, i);
                var v = mod.channelVoltageSet(c);
                if (c == 0 ? v != i : v != 0 && ((v - c) % 4 != 0 || v > i))
                    wrong.push(c + ": " + v + " after " + i);
                mod.channelVoltageMeasure(1);
                mod.status();
                mod.channelStatus(2);
            }
            mod.setChannelOff(1);
            wrong.join())"));
        QVERIFY(m_thread.runOn(m_session->sharedModule(0)));
        // The window's part: a command's immediate re-read on top of the poller's cadence.
        while (m_thread.isRunning()) {
            m_session->poller()->refreshNow(0);
            QTest::qWait(5);
        }
        QTRY_COMPARE(lines.count(), 1);
        QCOMPARE(lines.at(0).at(0).toString(), QStringLiteral("Script exited with result "));
        QVERIFY(m_session->poller()->moduleSnapshot(0));
    }

    void releaseEndsRun()
    {
        QSignalSpy lines(&m_thread, &ScriptThread::scriptMessage);
        m_thread.setScript(QStringLiteral("script.print('started'); while (true) { mod.channelStatus(0); }"));
        QVERIFY(m_thread.runOn(m_session->sharedModule(0)));
        QTRY_COMPARE(lines.count(), 1);
        QPointer<BaseModule> module = m_session->modules().at(0);
        QVERIFY(m_session->connectTo(m_simulator.address()));
        QTRY_VERIFY_WITH_TIMEOUT(!m_thread.isRunning(), 10000);
        QTRY_COMPARE(lines.count(), 2);
        QVERIFY(lines.at(1).at(0).toString().contains(QStringLiteral("module released")));
        // The old module goes once the thread has let go of it.
        QTRY_VERIFY(module.isNull());
        m_thread.setScript(QStringLiteral("mod.serialNumber()"));
        QVERIFY(m_thread.runOn(m_session->sharedModule(0)));
        QTRY_COMPARE(lines.count(), 3);
        QCOMPARE(lines.at(2).at(0).toString(), QStringLiteral("Script exited with result 4711001"));
    }

private:
    SimulatorProcess m_simulator;
    std::unique_ptr<DeviceSession> m_session;
    ScriptThread m_thread;
};

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    QCoreApplication application(argc, argv);
    TestScriptThread test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scriptthread.moc"
