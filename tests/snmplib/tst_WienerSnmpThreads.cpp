// Calls on one handle from several threads (the GUI refresh and a script) are serialised in the
// library: every thread gets complete, unmixed answers, and closing a handle under a running
// call is safe.
#include "SimulatedCrate.h"

#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

class TestWienerSnmpThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoThreadsOnOneHandle();
    void closeWhileAnotherThreadCalls();
    void lastErrorBelongsToTheCallingThread();

private:
    SimulatedCrate m_crate;
    HSNMP m_handle = nullptr;
};

void TestWienerSnmpThreads::initTestCase()
{
    QVERIFY2(m_crate.start(), qPrintable(m_crate.errorText()));
    m_handle = m_crate.open();
    QVERIFY(m_handle);
    QTRY_VERIFY_WITH_TIMEOUT(getPsSerialNumber(m_handle) && *getPsSerialNumber(m_handle), 15000);
}

void TestWienerSnmpThreads::lastErrorBelongsToTheCallingThread()
{
    QCOMPARE(setOutputVoltage(m_handle, 0, 99999.0), 0);
    // Another thread's calls on the same handle, one read that succeeds and one that fails
    // otherwise, leave this thread's reason alone.
    QString otherReasons;
    std::unique_ptr<QThread> other(QThread::create([&] {
        getOutputVoltage(m_handle, 0);
        otherReasons = QString::fromLatin1(snmpLastError(m_handle));
        getOutputVoltage(m_handle, 450);
        otherReasons += QLatin1Char('/') + QString::fromLatin1(snmpLastError(m_handle));
    }));
    other->start();
    QVERIFY(other->wait(10000));
    QCOMPARE(otherReasons, QStringLiteral("/noSuchInstance"));
    QCOMPARE(QString::fromLatin1(snmpLastError(m_handle)), QStringLiteral("wrongValue"));
}

void TestWienerSnmpThreads::twoThreadsOnOneHandle()
{
    SnmpDoubleBuffer voltages{};
    voltages.count = 16;
    for (int i = 0; i < 16; ++i)
        voltages.value[i] = 200.0 + i;
    QCOMPARE(setMultipleOutputVoltages(m_handle, 0, &voltages), 1);
    const QByteArray description = getModuleDescription(m_handle, 1);
    QVERIFY(!description.isEmpty());

    constexpr int rounds = 60;
    std::atomic<int> wrong{0};
    HSNMP h = m_handle;
    // The refresh: block reads of one module, each answer checked value by value.
    std::unique_ptr<QThread> refresh(QThread::create([&] {
        for (int round = 0; round < rounds; ++round) {
            const SnmpDoubleBuffer* b = getMultipleOutputVoltages(h, 0, 16);
            if (!b || b->count != 16) {
                ++wrong;
                continue;
            }
            for (int i = 0; i < 16; ++i) {
                if (b->value[i] != 200.0 + i)
                    ++wrong;
            }
        }
    }));
    // The script: texts and another module's blocks on the same handle.
    std::unique_ptr<QThread> script(QThread::create([&] {
        for (int round = 0; round < rounds; ++round) {
            const char* text = getModuleDescription(h, 1);
            if (!text || description != text)
                ++wrong;
            const SnmpDoubleBuffer* b = getMultipleOutputConfigMaxTerminalVoltages(h, 100, 48);
            if (!b || b->count != 48 || b->value[47] != 4000.0)
                ++wrong;
            if (setOutputVoltage(h, 150 + round % 8, 10.0) != 0) // no such channel
                ++wrong;
            if (setOutputVoltage(h, 110, 10.0 * round) != 1)
                ++wrong;
            // Several requests in flight on the handle the refresh uses too.
            SnmpChannelBlock block{};
            block.which = WIENER_BLOCK_VOLTAGE | WIENER_BLOCK_NOMINAL_VOLTAGE;
            if (getChannelBlock(h, 0, 16, &block) != 16 || block.voltages.value[15] != 215.0)
                ++wrong;
        }
    }));
    // Another handle with its requests in flight at the same time (a second crate).
    HSNMP second = m_crate.open();
    QVERIFY(second);
    std::unique_ptr<QThread> other(QThread::create([&] {
        for (int round = 0; round < rounds; ++round) {
            SnmpChannelBlock block{};
            block.which = WIENER_BLOCK_ALL;
            if (getChannelBlock(second, 100, 48, &block) != 48 || block.nominalVoltages.value[47] != 4000.0)
                ++wrong;
        }
    }));
    refresh->start();
    script->start();
    other->start();
    QVERIFY(refresh->wait(120000));
    QVERIFY(script->wait(120000));
    QVERIFY(other->wait(120000));
    QCOMPARE(wrong.load(), 0);
    QCOMPARE(getOutputVoltage(m_handle, 110), 10.0 * (rounds - 1));
}

void TestWienerSnmpThreads::closeWhileAnotherThreadCalls()
{
    HSNMP second = snmpOpen(m_crate.simulator().address().toLatin1().constData());
    QVERIFY(second);
    std::atomic<bool> started{false};
    std::atomic<int> answered{0};
    std::atomic<int> refused{0};
    std::unique_ptr<QThread> caller(QThread::create([&] {
        // Calls until the close shows (bounded, should the close never take effect).
        QElapsedTimer timer;
        timer.start();
        while (refused.load() == 0 && timer.elapsed() < 30000) {
            const SnmpDoubleBuffer* b = getMultipleOutputVoltages(second, 0, 16);
            started = true;
            if (b && b->count == 16)
                ++answered;
            else if (!b)
                ++refused; // after the close: an unknown handle
        }
    }));
    caller->start();
    QTRY_VERIFY_WITH_TIMEOUT(started.load(), 10000);
    snmpClose(second);
    QVERIFY(caller->wait(120000));
    QVERIFY(answered.load() > 0);
    QVERIFY(refused.load() > 0);
    // The first handle is untouched by the other's close.
    QCOMPARE(getMultipleOutputVoltages(m_handle, 0, 16)->count, 16);
}

QTEST_GUILESS_MAIN(TestWienerSnmpThreads)
#include "tst_WienerSnmpThreads.moc"
