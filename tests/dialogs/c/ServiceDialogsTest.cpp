// The special-mode and factory-settings dialogs on their own, driven through their slots: a
// small module model answers the special-mode requests the way the module firmware does, so the
// whole transfer runs without a bus and without its timed waits.
#include "../b/AnsweringDialogs.h"

#include "dialogs/DialogFactory.h"
#include "dialogs/DialogSpecial.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int serial = 31;

template <typename T>
T* child(QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// The module side of the special-mode protocol (both layouts): special mode on setSPMD|setSTOP,
// the command register reads the last command, lines collected, compared or rejected.
struct FirmwareModel
{
    int deviceClass = 20;
    quint32 control = 0, command = 0, specialStatus = 0;
    bool special = false;
    enum { None, Program, Compare, Verify } mode = None;
    QList<QByteArray> received, pending, stored;
    QList<quint32> commands;
    QStringList shownAddresses;
    QByteArray corruptLine; // always answered with a checksum error

    void connectTo(DialogSpecial& dialog)
    {
        QObject::connect(&dialog, &DialogSpecial::setModuleControl, [this](int, quint32 word) {
            control = word;
            special = (word & 5) == 5 ? true : special && (word & 5);
        });
        QObject::connect(&dialog, &DialogSpecial::setSpecialControl, [this](int, quint32 c) { write(c); });
        QObject::connect(&dialog, &DialogSpecial::sendHexLine, [this, &dialog](int, QByteArray line) {
            shownAddresses.append(child<QLineEdit>(&dialog, "txtAddress")->text());
            take(line);
        });
    }
    void write(quint32 c)
    {
        commands.append(c);
        command = c;
        switch (c) {
        case 1:
            if (deviceClass != 20 && specialStatus != 0x81)
                specialStatus = 0x81;
            return;
        case 3:
            mode = Program;
            pending.clear();
            break;
        case 4:
            mode = Compare;
            break;
        case 5:
            mode = Verify;
            break;
        case 6:
            stored = pending;
            break;
        case 7:
            special = false;
            control &= ~5u;
            return;
        default:
            return;
        }
        // A 24-channel module waits for the first line at once.
        specialStatus = deviceClass == 20 ? 0x84 : 0x81;
    }
    void take(const QByteArray& line)
    {
        received.append(line);
        if (deviceClass == 20)
            command = 2;
        if (line == corruptLine) {
            specialStatus = 0x92;
            return;
        }
        if (mode == Program) {
            pending.append(line);
        } else {
            const QList<QByteArray>& image = mode == Verify ? pending : stored;
            if (!image.contains(line)) {
                specialStatus = 0x96;
                return;
            }
        }
        specialStatus = 0x84;
    }
    // One refresh: the words the main window would report, and the timers run out at once.
    void report(DialogSpecial& dialog)
    {
        dialog.updateModuleControl(serial, control);
        dialog.updateModuleStatus(serial, special ? 0x44 : 0);
        dialog.updateModuleSpecialControlStatus(serial, command, specialStatus);
        using State = DialogSpecial::State;
        if (dialog.state() == State::Settling || dialog.state() == State::PostFlashWait)
            QMetaObject::invokeMethod(&dialog, "timeout");
    }
};

} // namespace

class ServiceDialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void transfer_data();
    void transfer();
    void pageAndOffset();
    void checksumErrorsGiveUp_data();
    void checksumErrorsGiveUp();
    void newTransferStartsClean();
    void refusedFiles_data();
    void refusedFiles();
    void reportsOfOtherModulesIgnored();

    void vmeTest_data();
    void vmeTest();
    void factoryResetLog_data();
    void factoryResetLog();

private:
    QString writeFile(const QList<QByteArray>& lines);
    // The dialog for module `serial`, a model of class `deviceClass` and the file chosen.
    void open(int deviceClass, const QList<QByteArray>& lines, bool write);
    // Reports until the dialog rests (idle or aborted) or `maxReports` ran out.
    void run(int maxReports = 400);

    QTemporaryDir m_dir;
    int m_files = 0;
    AnsweringDialogs m_dialogs;
    std::unique_ptr<DialogSpecial> m_dialog;
    FirmwareModel m_model;
};

namespace {
const QList<QByteArray> image = {
    "S00600004844521B",
    "S1130000285F245F2212226A000424290008237C2A",
    "S2080F80000102030461",
    "S9030000FC",
};
} // namespace

void ServiceDialogsTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void ServiceDialogsTest::cleanup()
{
    m_dialog.reset();
    m_model = FirmwareModel();
    m_dialogs.informations.clear();
    m_dialogs.warnings.clear();
}

QString ServiceDialogsTest::writeFile(const QList<QByteArray>& lines)
{
    const QString path = m_dir.filePath(QStringLiteral("image%1.hex").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    for (const QByteArray& line : lines)
        file.write(line + "\r\n");
    return path;
}

void ServiceDialogsTest::open(int deviceClass, const QList<QByteArray>& lines, bool write)
{
    m_dialog = std::make_unique<DialogSpecial>();
    m_dialog->setUserDialogs(&m_dialogs);
    m_dialog->setSerialNumber(serial);
    m_dialog->updateDeviceClass(quint16(deviceClass));
    m_model.deviceClass = deviceClass;
    m_model.connectTo(*m_dialog);
    child<QRadioButton>(m_dialog.get(), write ? "chkS19ModeWrite" : "chkS19ModeCompare")->setChecked(true);
    m_dialog->setHexFilename(writeFile(lines));
}

void ServiceDialogsTest::run(int maxReports)
{
    child<QPushButton>(m_dialog.get(), "btnSendHexFile")->click();
    for (int report = 0; report < maxReports && m_dialog->transferRunning(); ++report)
        m_model.report(*m_dialog);
}

void ServiceDialogsTest::transfer_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<bool>("write");
    for (int deviceClass : {20, 29}) {
        QTest::addRow("write, class %d", deviceClass) << deviceClass << true;
        QTest::addRow("compare, class %d", deviceClass) << deviceClass << false;
    }
}

void ServiceDialogsTest::transfer()
{
    QFETCH(int, deviceClass);
    QFETCH(bool, write);
    open(deviceClass, image, write);
    m_model.stored = write ? QList<QByteArray>() : image;
    run();

    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(m_dialogs.warnings.isEmpty());
    if (write) {
        // Programmed, verified with the same lines, stored by post flash, special mode ended.
        QCOMPARE(m_model.received, image + image);
        QCOMPARE(m_model.stored, image);
        QVERIFY(m_model.commands.indexOf(5) > m_model.commands.indexOf(3));
        QVERIFY(m_model.commands.indexOf(6) > m_model.commands.indexOf(5));
        QCOMPARE(m_model.commands.last(), 7u);
        QVERIFY(m_dialogs.informations.isEmpty());
    } else {
        QCOMPARE(m_model.received, image);
        QCOMPARE(m_dialogs.informations, QStringList{"HEX file compare complete!"});
        QVERIFY(!m_model.commands.contains(7));
        QVERIFY(!m_model.commands.contains(3));
    }
    QVERIFY(child<QPushButton>(m_dialog.get(), "btnSendHexFile")->isEnabled());
}

void ServiceDialogsTest::pageAndOffset()
{
    open(20, {"S2080F80000102030461", "S208012345000102035B", "s2080e1234aabbccdd"}, true);
    run();
    QCOMPARE(m_model.shownAddresses.mid(0, 3), (QStringList{"Burning: 3E:8000", "Burning: 00:2345", "Burning: 38:9234"}));
}

void ServiceDialogsTest::checksumErrorsGiveUp_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::newRow("12 channels") << 20;
    QTest::newRow("24 channels") << 29;
}

void ServiceDialogsTest::checksumErrorsGiveUp()
{
    QFETCH(int, deviceClass);
    open(deviceClass, image, true);
    m_model.corruptLine = image.at(1);
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);
    QCOMPARE(m_dialogs.warnings, QStringList{"3 Checksum Errors while transmitting HEX File. Giving Up!"});
    QCOMPARE(child<QLabel>(m_dialog.get(), "txtInfo")->text(), QStringLiteral("3 HEX Lines sent again."));
    QVERIFY(child<QPushButton>(m_dialog.get(), "btnSelectFile")->isEnabled());
}

void ServiceDialogsTest::newTransferStartsClean()
{
    // A transfer that gave up with a line still to be sent again...
    open(29, image, true);
    m_model.corruptLine = image.at(1);
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);

    // ...does not send that line into the next file's transfer.
    const QList<QByteArray> other = {"S1130100000102030405060708090A0B0C0D0E0F6C", "S9030000FC"};
    m_dialog->setHexFilename(writeFile(other));
    m_model.corruptLine.clear();
    m_model.received.clear();
    m_model.special = false;
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QCOMPARE(m_model.received, other + other);
}

void ServiceDialogsTest::refusedFiles_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QString>("warning");
    // An empty line carries no record: it is skipped, nothing stalls.
    QTest::newRow("empty line") << QList<QByteArray>{image.at(0), "", "  ", image.at(3)}
                                << QList<QByteArray>{image.at(0), image.at(3), image.at(0), image.at(3)} << QString();
    QTest::newRow("short line") << QList<QByteArray>{image.at(0), "S1", image.at(3)} << QList<QByteArray>{image.at(0)}
                                << "Line 2 of the HEX file is too short for a record. Giving Up!";
    QTest::newRow("nine characters") << QList<QByteArray>{"", "S10300001"} << QList<QByteArray>{}
                                     << "Line 2 of the HEX file is too short for a record. Giving Up!";
}

void ServiceDialogsTest::refusedFiles()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QString, warning);
    for (int deviceClass : {20, 29}) {
        cleanup();
        open(deviceClass, lines, true);
        run();
        QCOMPARE(m_model.received, sent);
        QCOMPARE(m_dialog->state(), warning.isEmpty() ? DialogSpecial::State::Idle : DialogSpecial::State::Aborted);
        QCOMPARE(m_dialogs.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    }

    // A file that cannot be opened.
    m_dialog->setHexFilename(m_dir.filePath(QStringLiteral("missing.hex")));
    child<QPushButton>(m_dialog.get(), "btnSendHexFile")->click();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(m_dialogs.warnings.last().startsWith("Can not open HEX file "));
}

void ServiceDialogsTest::reportsOfOtherModulesIgnored()
{
    open(20, image, true);
    QSignalSpy control(m_dialog.get(), &DialogSpecial::setModuleControl);
    child<QPushButton>(m_dialog.get(), "btnSendHexFile")->click();
    // While the transfer runs the target does not move, and another module's words are not its.
    m_dialog->setSerialNumber(serial + 1);
    QCOMPARE(m_dialog->serialNumber(), serial);
    m_dialog->updateModuleStatus(serial + 1, 0x44);
    QCOMPARE(m_dialog->state(), DialogSpecial::State::RequestingSpecialMode);
    QVERIFY(control.isEmpty());
    m_dialog->updateModuleStatus(serial, 0x44);
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Settling);
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(0).toInt(), serial);
}

// ---- Factory settings ----

void ServiceDialogsTest::vmeTest_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("lastPassed");
    QTest::newRow("12 channels") << 12 << "Module EventChannelMask 0x0800 passed";
    QTest::newRow("24 channels") << 24 << "Module EventChannelMask 0x800000 passed";
}

void ServiceDialogsTest::vmeTest()
{
    QFETCH(int, channels);
    QFETCH(QString, lastPassed);
    DialogFactory dialog;
    dialog.setSerialNumber(serial);
    dialog.setChannelNumber(channels);
    dialog.show();
    quint32 eventMask = 0, channelMask = 0;
    connect(&dialog, &DialogFactory::setModuleEventMask, [&](int, quint32 mask) { eventMask = mask; });
    connect(&dialog, &DialogFactory::setModuleEventChannelMask, [&](int, quint32 mask) { channelMask = mask; });
    dialog.on_btnVmeTest_clicked();
    for (int report = 0; report < 100 && dialog.state() != DialogFactory::State::Idle; ++report) {
        dialog.updateModuleEventMask(serial + 1, eventMask); // another module: not this test's
        dialog.updateModuleEventMask(serial, eventMask);
        dialog.updateModuleEventChannelMask(serial, channelMask);
    }
    const QStringList log = dialog.log().split('\n');
    QCOMPARE(log.first(), QStringLiteral("Starting Test..."));
    QCOMPARE(log.at(16), QStringLiteral("Module EventMask 0x8000 passed"));
    QCOMPARE(log.size(), 1 + 16 + channels + 1);
    QCOMPARE(log.at(log.size() - 2), lastPassed);
    QCOMPARE(log.last(), QStringLiteral("Test finished!"));
}

void ServiceDialogsTest::factoryResetLog_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("ending");
    QTest::newRow("done") << true << "Reset to Factory Settings done!";
    QTest::newRow("gave up") << false << "Reset to Factory Settings failed!";
}

void ServiceDialogsTest::factoryResetLog()
{
    QFETCH(bool, success);
    QFETCH(QString, ending);
    DialogFactory dialog;
    dialog.setSerialNumber(serial);
    dialog.show();
    int stores = 0;
    connect(&dialog, &DialogFactory::storeFactorySettings, [&](int serialNumber) {
        QCOMPARE(serialNumber, serial);
        ++stores;
        // Reports arriving while the procedure runs do not start it again.
        dialog.updateModuleEventMask(serial, 0);
        dialog.updateChannelVoltageNominal(serial, 0, 3000, "V");
        dialog.updateChannelCurrentNominal(serial, 0, 0.003f, "mA");
        dialog.factoryResetDone(success);
    });
    QSignalSpy control(&dialog, &DialogFactory::setModuleControl);
    dialog.on_btnFactoryReset_clicked();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(1).toUInt(), 4u);
    // Not before the module both was asked to stop and reports it.
    dialog.updateModuleControl(serial, 0);
    dialog.updateModuleStatus(serial, 0x04);
    dialog.updateModuleEventMask(serial, 0);
    dialog.updateModuleControl(serial, 0x04);
    dialog.updateModuleStatus(serial, 0);
    dialog.updateModuleEventMask(serial, 0);
    QCOMPARE(stores, 0);
    dialog.updateModuleStatus(serial, 0x04);
    dialog.updateModuleControl(serial, 0x04);
    dialog.updateModuleEventMask(serial, 0);
    QCOMPARE(stores, 1);
    QCOMPARE(dialog.log(),
        QStringLiteral("Setting Module to Mode STOP...\n\nModule is now in Mode STOP.\nResetting Module to Factory "
                       "settings ...\nChannel 0: Voltage Hardware Nominal 3000 V\nChannel 0: Current Hardware Nominal "
                       "0.003 mA\n\n")
            + ending);
    dialog.updateModuleEventMask(serial, 0);
    dialog.updateModuleEventMask(serial, 0);
    QCOMPARE(dialog.state(), DialogFactory::State::Idle);
}

QTEST_MAIN(ServiceDialogsTest)
#include "ServiceDialogsTest.moc"
