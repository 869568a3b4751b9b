// What the operator reads of a command's outcome, built on the device side from the module's
// answers: every failed channel named with its reason, channels grouped by reason, a module-wide
// write named by the module's address, and a channel the module did not confirm never counted
// as taken.
#include "common/MemoryModule.h"

#include "device/CommandOutcome.h"

#include <QTest>

class TestCommandOutcome : public QObject
{
    Q_OBJECT

private slots:
    void texts_data()
    {
        QTest::addColumn<QList<int>>("channels");
        QTest::addColumn<QStringList>("reasons");
        QTest::addColumn<QStringList>("expected");
        const QString noAnswer = QStringLiteral("no answer: check address, port and read community");
        QTest::newRow("all taken") << QList<int>{0, 1} << QStringList{QString(), QString()} << QStringList();
        QTest::newRow("one channel") << QList<int>{0, 7} << QStringList{QString(), QStringLiteral("wrongValue")}
                                     << QStringList{
                                            QStringLiteral("Channel 7: switch on refused by the crate (wrongValue)")};
        QTest::newRow("grouped by reason, in order")
            << QList<int>{3, 35, 36, 40}
            << QStringList{QStringLiteral("no answer"), QStringLiteral("wrongValue"), QStringLiteral("no answer"), QString()}
            << QStringList{QStringLiteral("Switch on failed for channels 3, 36: %1; channel 35: refused by the crate "
                                          "(wrongValue)")
                               .arg(noAnswer)};
        QTest::newRow("fewer reasons than channels")
            << QList<int>{0, 1, 2} << QStringList{QString()}
            << QStringList{QStringLiteral("Switch on failed for channels 1, 2: refused by the crate (not confirmed)")};
    }
    void texts()
    {
        QFETCH(QList<int>, channels);
        QFETCH(QStringList, reasons);
        QFETCH(QStringList, expected);
        MemoryModule module(48);
        QCOMPARE(CommandOutcome::ofReasons(module, channels, reasons, QStringLiteral("switch on")), expected);
    }

    // The several-channel Set value of a module without a together-write: each channel written in
    // turn, each refusal named; a module-wide write that nobody answered names the module.
    void fromTheModule()
    {
        MemoryModule module(4);
        module.refuse(QStringLiteral("setChannelVoltageSet"), QStringLiteral("wrongValue"));
        const QList<int> channels{1, 2};
        const QStringList reasons = module.setChannelsValue(channels, BaseModule::SetQuantity::Voltage, 5.0f);
        QCOMPARE(reasons, QStringList({QStringLiteral("wrongValue"), QStringLiteral("wrongValue")}));
        QCOMPARE(CommandOutcome::ofReasons(module, channels, reasons, QStringLiteral("set voltage 5 V")),
            QStringList{QStringLiteral("Set voltage 5 V failed for channels 1, 2: refused by the crate (wrongValue)")});
        QCOMPARE(module.channel(1).voltageSet, 0.0f);

        module.setAnswering(false);
        const CommandOutcome outcome =
            CommandOutcome::ofWrite(module, module.setAllChannelsVoltageSet(1.0f), -1, QStringLiteral("set voltage"));
        QCOMPARE(outcome.failures,
            QStringList{QStringLiteral("memory: set voltage failed: no answer: check address, port and read community")});
        QVERIFY(CommandOutcome::ofWrite(module, true, 3, QStringLiteral("set voltage")).failures.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCommandOutcome)
#include "tst_commandoutcome.moc"
