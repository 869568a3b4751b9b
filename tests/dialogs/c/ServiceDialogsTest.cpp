// The special-mode and factory-settings dialogs on their own, driven through their slots: a
// small module model answers the special-mode requests the way the module firmware does, so the
// whole transfer runs without a bus and without its timed waits.
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"

#include "dialogs/DialogFactory.h"
#include "dialogs/DialogSpecial.h"

#include "common/MemoryModule.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int serial = 31;

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
    QByteArray corruptOnce; // answered with a checksum error the first time only
    bool silent = false;    // reports nothing at all

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
            // Standby: class 20 is ready for command 2 with the next line, class 29 waits for it.
            if (special && mode != None)
                specialStatus = deviceClass == 20 ? 0x84 : 0x81;
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
            // The module leaves special mode and clears its request; the stop bit stays.
            special = false;
            control &= ~1u;
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
        if (line == corruptLine || (!corruptOnce.isEmpty() && line == corruptOnce)) {
            if (line == corruptOnce)
                corruptOnce.clear();
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
        if (silent)
            return;
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
    void checksumErrorsCountPerLine();
    void newTransferStartsClean();
    void refusedFiles_data();
    void refusedFiles();
    void stalledTransferGivesUp();
    void endSpecialStopsTransfer_data();
    void endSpecialStopsTransfer();
    void postFlashOnlyForWholeImage();
    void closingAsksDuringTransfer();
    void reportsOfOtherModulesIgnored();

    void vmeTest_data();
    void vmeTest();
    void factoryResetLog_data();
    void factoryResetLog();
    void factoryButtonsWhileResetRuns();

private:
    QString writeFile(const QList<QByteArray>& lines);
    QString writeRaw(const QByteArray& contents);
    // The dialog for module `serial`, a model of class `deviceClass` and the file chosen.
    void open(int deviceClass, const QList<QByteArray>& lines, bool write);
    // Reports until the dialog rests (idle or aborted) or `maxReports` ran out.
    void run(int maxReports = 400);
    // Reports while the dialog is in `state`, at most `maxReports`.
    void runWhile(DialogSpecial::State state, int maxReports = 400);

    QTemporaryDir m_dir;
    int m_files = 0;
    ScriptedDialogs m_dialogs;
    MemoryModule m_module{12, 20, serial};
    std::unique_ptr<DialogSpecial> m_dialog;
    FirmwareModel m_model;
};

namespace {
const QList<QByteArray> image = {
    "S00600004844521B",
    "S1130000285F245F2212226A000424290008237C2A",
    "S2080F8000010203045E",
    "S9030000FC",
};
QPushButton* button(QWidget* dialog, const char* name)
{
    return child<QPushButton>(dialog, name);
}
} // namespace

void ServiceDialogsTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void ServiceDialogsTest::cleanup()
{
    m_dialog.reset();
    m_dialogs.questionAnswer = QMessageBox::No;
    m_model = FirmwareModel();
    m_dialogs.asked.clear();
}

QString ServiceDialogsTest::writeRaw(const QByteArray& contents)
{
    const QString path = m_dir.filePath(QStringLiteral("image%1.hex").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString ServiceDialogsTest::writeFile(const QList<QByteArray>& lines)
{
    QByteArray contents;
    for (const QByteArray& line : lines)
        contents += line + "\r\n";
    return writeRaw(contents);
}

void ServiceDialogsTest::open(int deviceClass, const QList<QByteArray>& lines, bool write)
{
    m_dialog = std::make_unique<DialogSpecial>();
    m_dialog->setUserDialogs(&m_dialogs);
    m_dialog->setTarget(&m_module, serial, QStringLiteral("VME BA 0x4000, serial 31"));
    m_dialog->updateDeviceClass(quint16(deviceClass));
    m_model.deviceClass = deviceClass;
    m_model.connectTo(*m_dialog);
    child<QRadioButton>(m_dialog.get(), write ? "chkS19ModeWrite" : "chkS19ModeCompare")->setChecked(true);
    m_dialog->setHexFilename(writeFile(lines));
}

void ServiceDialogsTest::run(int maxReports)
{
    button(m_dialog.get(), "btnSendHexFile")->click();
    for (int report = 0; report < maxReports && m_dialog->transferRunning(); ++report)
        m_model.report(*m_dialog);
}

void ServiceDialogsTest::runWhile(DialogSpecial::State state, int maxReports)
{
    for (int report = 0; report < maxReports && m_dialog->state() == state; ++report)
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
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Special Mode - VME BA 0x4000, serial 31"));
    m_model.stored = write ? QList<QByteArray>() : image;
    run();

    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(m_dialogs.warnings().isEmpty());
    if (write) {
        // Programmed, verified with the same lines, stored by post flash, special mode ended.
        QCOMPARE(m_model.received, image + image);
        QCOMPARE(m_model.stored, image);
        QVERIFY(m_model.commands.indexOf(5) > m_model.commands.indexOf(3));
        QVERIFY(m_model.commands.indexOf(6) > m_model.commands.indexOf(5));
        QCOMPARE(m_model.commands.last(), 7u);
        QVERIFY(m_dialogs.informations().isEmpty());
    } else {
        QCOMPARE(m_model.received, image);
        QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
        QVERIFY(!m_model.commands.contains(7));
        QVERIFY(!m_model.commands.contains(3));
    }
    QVERIFY(button(m_dialog.get(), "btnSendHexFile")->isEnabled());
    QVERIFY(button(m_dialog.get(), "btnPostFlash")->isEnabled());
}

void ServiceDialogsTest::pageAndOffset()
{
    open(20, {"S2080F8000010203045E", "S2080123450001020388", "S2080E1234AABBCCDD95"}, true);
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
    // The module rejects one line every time: it goes three times, then the transfer gives up,
    // whatever ready reports come between the resends.
    QFETCH(int, deviceClass);
    open(deviceClass, image, true);
    m_model.corruptLine = image.at(1);
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);
    QCOMPARE(m_model.received.count(image.at(1)), 3);
    QCOMPARE(m_model.received.last(), image.at(1));
    QCOMPARE(m_dialogs.warnings(), QStringList{"3 Checksum Errors while transmitting HEX File. Giving Up!"});
    QCOMPARE(child<QLabel>(m_dialog.get(), "txtInfo")->text(), QStringLiteral("3 HEX Lines sent again."));
    QVERIFY(button(m_dialog.get(), "btnSelectFile")->isEnabled());
    // The module holds part of an image: Post Flash must not store it.
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
}

void ServiceDialogsTest::checksumErrorsCountPerLine()
{
    // Every line fails once and goes through on its resend: single errors on many lines are no
    // reason to give up.
    for (int deviceClass : {20, 29}) {
        cleanup();
        const QList<QByteArray> lines = {image.at(0), "S10B00100102030405060708C0", "S10B0020111213141516171830",
            "S10B00302122232425262728A0", "S10B0040313233343536373810", image.at(3)};
        open(deviceClass, lines, false);
        m_model.stored = lines;
        button(m_dialog.get(), "btnSendHexFile")->click();
        for (int report = 0; report < 600 && m_dialog->transferRunning(); ++report) {
            if (m_model.corruptOnce.isEmpty() && m_model.received.size() < 12)
                m_model.corruptOnce = lines.value(m_model.received.size() / 2);
            m_model.report(*m_dialog);
        }
        QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
        QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
        QVERIFY(m_dialogs.warnings().isEmpty());
    }
}

void ServiceDialogsTest::newTransferStartsClean()
{
    // A transfer that gave up with a line still to be sent again...
    open(29, image, true);
    m_model.corruptLine = image.at(1);
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);

    // ...does not send that line into the next file's transfer.
    const QList<QByteArray> other = {"S1130100000102030405060708090A0B0C0D0E0F73", "S9030000FC"};
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
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("warning");
    const QByteArray head = image.at(0) + "\n" + image.at(1) + "\n";
    QTest::newRow("1,100 characters after record 3") << head + image.at(2) + QByteArray(1100, 'A') + "\n"
            + image.at(3) << "Line 3 of the HEX file: 1120 characters, a record has at most 514. Nothing was sent.";
    QTest::newRow("bad checksum") << head + "S1130100000102030405060708090A0B0C0D0E0F6D\n"
                                  << "Line 3 of the HEX file: checksum is 0x73, the record gives 0x6D. Nothing was sent.";
    QTest::newRow("odd length") << head + "S1130100000102030405060708090A0B0C0D0E0F6\n"
                                << "Line 3 of the HEX file: the byte count calls for 42 characters, the line has 41. "
                                   "Nothing was sent.";
    QTest::newRow("extra characters") << head + "S9030000FC00\n"
                                      << "Line 3 of the HEX file: the byte count calls for 10 characters, the line has "
                                         "12. Nothing was sent.";
    QTest::newRow("not hexadecimal") << head + "S1130100000102030405060708090A0B0C0D0EXX6C\n"
                                     << "Line 3 of the HEX file: character 39 is not a hexadecimal digit. Nothing was "
                                        "sent.";
    QTest::newRow("short line at the end") << head + "S1"
                                           << "Line 3 of the HEX file: the line ends before its byte count. Nothing "
                                              "was sent.";
    QTest::newRow("count too small") << head + "S2030000FC\n"
                                     << "Line 3 of the HEX file: the byte count is too small for an S2 record. Nothing "
                                        "was sent.";
    QTest::newRow("reserved type") << head + "S4030000FC\n"
                                   << "Line 3 of the HEX file: record type S4 is reserved. Nothing was sent.";
    QTest::newRow("not a record") << head + ":10010000214601360121470136007EFE09D2190140\n"
                                  << "Line 3 of the HEX file: not an S-record (a record starts with S0 to S9). Nothing "
                                     "was sent.";
    QTest::newRow("lower-case s") << QByteArray("s00600004844521B\n")
                                  << "Line 1 of the HEX file: not an S-record (a record starts with S0 to S9). Nothing "
                                     "was sent.";
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) & 0xFF);
    QTest::newRow("binary") << binary
                            << "Line 1 of the HEX file: not an S-record (a record starts with S0 to S9). Nothing was "
                               "sent.";
    QTest::newRow("empty") << QByteArray() << "The HEX file holds no data records. Nothing was sent.";
    QTest::newRow("blank lines") << QByteArray("\n  \r\n\t\n\n") << "The HEX file holds no data records. Nothing was sent.";
    QTest::newRow("header and end only") << image.at(0) + "\n" + image.at(3) + "\n"
                                         << "The HEX file holds no data records. Nothing was sent.";
}

void ServiceDialogsTest::refusedFiles()
{
    // A file is checked whole before anything is asked of the module: no special mode, no
    // command, no line.
    QFETCH(QByteArray, contents);
    QFETCH(QString, warning);
    for (int deviceClass : {20, 29}) {
        cleanup();
        open(deviceClass, {}, true);
        m_dialog->setHexFilename(writeRaw(contents));
        QSignalSpy control(m_dialog.get(), &DialogSpecial::setModuleControl);
        QSignalSpy commands(m_dialog.get(), &DialogSpecial::setSpecialControl);
        QSignalSpy lines(m_dialog.get(), &DialogSpecial::sendHexLine);
        run();
        QCOMPARE(m_dialogs.warnings(), QStringList{warning});
        QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
        QVERIFY(control.isEmpty());
        QVERIFY(commands.isEmpty());
        QVERIFY(lines.isEmpty());
        QVERIFY(button(m_dialog.get(), "btnSendHexFile")->isEnabled());
        QVERIFY(button(m_dialog.get(), "btnSelectFile")->isEnabled());
    }

    // A file that cannot be opened.
    m_dialog->setHexFilename(m_dir.filePath(QStringLiteral("missing.hex")));
    button(m_dialog.get(), "btnSendHexFile")->click();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(m_dialogs.warnings().last().startsWith("Can not open HEX file "));
}

void ServiceDialogsTest::stalledTransferGivesUp()
{
    // The module stops answering in the middle of the programming pass.
    open(29, image, true);
    m_dialog->setTiming(1, 300);
    button(m_dialog.get(), "btnSendHexFile")->click();
    for (int report = 0; report < 100 && m_model.received.size() < 2; ++report)
        m_model.report(*m_dialog);
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Programming);
    m_model.silent = true;
    QTRY_COMPARE_WITH_TIMEOUT(m_dialog->state(), DialogSpecial::State::Aborted, 3000);
    QCOMPARE(m_dialogs.warnings(), QStringList{"The module did not advance the transfer for 0.3 s. Giving Up!"});
    QVERIFY(button(m_dialog.get(), "btnSendHexFile")->isEnabled());
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());

    // A module that never enters special mode gives up the same way.
    cleanup();
    open(20, image, true);
    m_dialog->setTiming(1, 300);
    button(m_dialog.get(), "btnSendHexFile")->click();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000 && m_dialog->transferRunning()) {
        m_dialog->updateModuleControl(serial, 0);
        m_dialog->updateModuleStatus(serial, 0); // not in special mode
        QTest::qWait(20);
    }
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);
    QVERIFY(button(m_dialog.get(), "btnPostFlash")->isEnabled()); // nothing was programmed
}

void ServiceDialogsTest::endSpecialStopsTransfer_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<quint32>("controlBefore");
    QTest::addColumn<int>("state");
    using State = DialogSpecial::State;
    for (int deviceClass : {20, 29}) {
        for (quint32 before : {0x0000u, 0x0004u, 0x4004u}) {
            QTest::addRow("class %d, control 0x%04x, programming", deviceClass, before)
                << deviceClass << before << int(State::Programming);
            QTest::addRow("class %d, control 0x%04x, verifying", deviceClass, before)
                << deviceClass << before << int(State::Verifying);
        }
        QTest::addRow("class %d, settling", deviceClass) << deviceClass << 0x0004u << int(State::Settling);
    }
}

void ServiceDialogsTest::endSpecialStopsTransfer()
{
    QFETCH(int, deviceClass);
    QFETCH(quint32, controlBefore);
    QFETCH(int, state);
    open(deviceClass, image, true);
    m_model.control = controlBefore;
    button(m_dialog.get(), "btnSendHexFile")->click();
    // Reports until the transfer is in the asked state, a line into it for the passes.
    for (int report = 0; report < 200; ++report) {
        const bool inPass = m_dialog->state() == DialogSpecial::State(state)
            && (state == int(DialogSpecial::State::Settling) || m_model.received.size() % 4 == 2);
        if (inPass)
            break;
        m_model.report(*m_dialog);
        if (state == int(DialogSpecial::State::Settling) && m_dialog->state() == DialogSpecial::State::Settling)
            break;
    }
    QCOMPARE(int(m_dialog->state()), state);

    button(m_dialog.get(), "btnEndSpecial")->click();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QCOMPARE(m_model.commands.last(), 7u);
    QVERIFY(!m_model.special);
    QVERIFY(button(m_dialog.get(), "btnSendHexFile")->isEnabled());
    QVERIFY(button(m_dialog.get(), "btnSelectFile")->isEnabled());
    QVERIFY(child<QWidget>(m_dialog.get(), "grpFlashMode")->isEnabled());
    const int sent = int(m_model.received.size());
    for (int report = 0; report < 5; ++report)
        m_model.report(*m_dialog);
    // Nothing more goes to the module, and its control word is what it was before.
    QCOMPARE(int(m_model.received.size()), sent);
    QCOMPARE(m_model.control, controlBefore);
    QCOMPARE(m_model.commands.last(), 7u);
    // Part of an image was programmed (or none, while settling).
    QCOMPARE(button(m_dialog.get(), "btnPostFlash")->isEnabled(), state == int(DialogSpecial::State::Settling));
}

void ServiceDialogsTest::postFlashOnlyForWholeImage()
{
    open(20, image, true);
    QSignalSpy commands(m_dialog.get(), &DialogSpecial::setSpecialControl);
    button(m_dialog.get(), "btnSendHexFile")->click();
    // Not while a transfer runs...
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
    runWhile(DialogSpecial::State::RequestingSpecialMode);
    runWhile(DialogSpecial::State::Settling);
    runWhile(DialogSpecial::State::RequestingSpecialModeAgain);
    runWhile(DialogSpecial::State::Starting);
    m_model.report(*m_dialog);
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Programming);
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
    // ...nor after a Write stopped short of its end...
    button(m_dialog.get(), "btnEndSpecial")->click();
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
    QVERIFY(!m_dialog->postFlashOffered());
    // ...not for a compare either...
    child<QRadioButton>(m_dialog.get(), "chkS19ModeCompare")->setChecked(true);
    m_model.stored = image;
    run();
    QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
    // ...but again once a whole file was programmed and verified.
    child<QRadioButton>(m_dialog.get(), "chkS19ModeWrite")->setChecked(true);
    m_model.special = false;
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(button(m_dialog.get(), "btnPostFlash")->isEnabled());
}

void ServiceDialogsTest::closingAsksDuringTransfer()
{
    open(20, image, true);
    m_dialog->show();
    button(m_dialog.get(), "btnSendHexFile")->click();
    QVERIFY(m_dialog->transferRunning());
    // Escape and the window's close button ask first; No keeps the dialog.
    m_dialogs.questionAnswer = QMessageBox::No;
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(!m_dialog->close());
    QCOMPARE(m_dialogs.questions().count("Update is running! Close anyway? (Update will continue in background)"), 2);
    // Yes hides it; the transfer goes on.
    m_dialogs.questionAnswer = QMessageBox::Yes;
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_dialog->transferRunning());
}

void ServiceDialogsTest::reportsOfOtherModulesIgnored()
{
    open(20, image, true);
    QSignalSpy control(m_dialog.get(), &DialogSpecial::setModuleControl);
    button(m_dialog.get(), "btnSendHexFile")->click();
    // While the transfer runs the target does not move, and another module's words are not its.
    MemoryModule other(12, 20, serial + 1);
    m_dialog->setTarget(&other, serial + 1, QStringLiteral("other"));
    QCOMPARE(m_dialog->target(), &m_module);
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
    dialog.setTarget(&m_module, serial, QStringLiteral("VME BA 0x4000, serial 31"));
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
    dialog.setTarget(&m_module, serial, QStringLiteral("VME BA 0x4000, serial 31"));
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

void ServiceDialogsTest::factoryButtonsWhileResetRuns()
{
    DialogFactory dialog;
    dialog.setTarget(&m_module, serial, QStringLiteral("VME BA 0x4000, serial 31"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Factory Settings - VME BA 0x4000, serial 31"));
    dialog.show();
    bool enabledDuringReset = true;
    connect(&dialog, &DialogFactory::storeFactorySettings, [&](int) {
        enabledDuringReset = button(&dialog, "btnVmeTest")->isEnabled() || button(&dialog, "btnFactoryReset")->isEnabled();
        dialog.factoryResetDone(true);
    });
    dialog.on_btnFactoryReset_clicked();
    QVERIFY(!button(&dialog, "btnVmeTest")->isEnabled());
    QVERIFY(!button(&dialog, "btnFactoryReset")->isEnabled());
    // The target stays while the reset runs.
    MemoryModule other(12, 20, serial + 1);
    dialog.setTarget(&other, serial + 1, QStringLiteral("other"));
    QCOMPARE(dialog.target(), &m_module);
    dialog.updateModuleControl(serial, 0x04);
    dialog.updateModuleStatus(serial, 0x04);
    dialog.updateModuleEventMask(serial, 0);
    QVERIFY(!enabledDuringReset);
    QVERIFY(button(&dialog, "btnVmeTest")->isEnabled());
    QVERIFY(button(&dialog, "btnFactoryReset")->isEnabled());
}

QTEST_MAIN(ServiceDialogsTest)
#include "ServiceDialogsTest.moc"
