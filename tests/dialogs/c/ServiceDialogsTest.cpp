// The special-mode and factory-settings dialogs. The special-mode dialog runs its transfers as
// jobs through a device session on an in-memory module that answers the special-mode requests
// the way the module firmware does (the test plays the main window's part: it starts the job the
// dialog asks for and carries out the buttons' requests), with the timed waits shortened. The
// factory dialog is driven through its slots.
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"

#include "device/DeviceSession.h"
#include "dialogs/DialogFactory.h"
#include "dialogs/DialogSpecial.h"
#include "service/FirmwareTransferJob.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

constexpr int serial = 31;
constexpr int transferTimeoutMs = 10000;

// The module side of the special-mode protocol (both layouts): special mode on setSPMD|setSTOP,
// the command register reads the last command, lines collected, compared or rejected. Called on
// the poller's thread; the test reads it under the module's lock (model()).
class LoaderModule : public MemoryModule
{
public:
    struct Model
    {
        quint32 control = 0, command = 0, specialStatus = 0;
        bool special = false;
        enum { None, Program, Compare, Verify } mode = None;
        QList<QByteArray> received, pending, stored;
        QList<quint32> commands;
        QByteArray corruptLine; // always answered with a checksum error
        bool eachLineFailsOnce = false;
        QList<QByteArray> failedOnce;
        int silentAfterLines = -1; // stops answering after this many lines
        bool neverSpecial = false; // never enters its special mode
    };

    explicit LoaderModule(int deviceClass)
        : MemoryModule(12, deviceClass, serial)
    {
    }

    Model model()
    {
        Lock lock(m_mutex);
        return m_model;
    }
    template <typename Change>
    void change(Change change)
    {
        Lock lock(m_mutex);
        change(m_model);
    }

    bool connected() override
    {
        Lock lock(m_mutex);
        return !silent() && MemoryModule::connected();
    }
    quint32 control() override
    {
        Lock lock(m_mutex);
        return silent() ? 0 : m_model.control;
    }
    quint32 status() override
    {
        Lock lock(m_mutex);
        return !silent() && m_model.special ? 0x44 : 0;
    }
    quint32 specialControlCommand() override
    {
        Lock lock(m_mutex);
        return silent() ? 0 : m_model.command;
    }
    quint32 specialControlStatus() override
    {
        Lock lock(m_mutex);
        return silent() ? 0 : m_model.specialStatus;
    }
    bool setControl(quint32 word) override
    {
        Lock lock(m_mutex);
        if (!accept(QStringLiteral("setControl"), QString::number(word)))
            return false;
        m_model.control = word;
        m_model.special = (word & 5) == 5 ? !m_model.neverSpecial : m_model.special && (word & 5);
        return true;
    }
    bool setSpecialControlCommand(quint32 c) override
    {
        Lock lock(m_mutex);
        if (!accept(QStringLiteral("setSpecialControlCommand"), QString::number(c)))
            return false;
        write(c);
        return true;
    }
    bool sendHexLine(QByteArray line) override
    {
        Lock lock(m_mutex);
        if (!accept(QStringLiteral("sendHexLine"), QString::fromLatin1(line)))
            return false;
        take(line);
        return true;
    }

private:
    using Lock = std::lock_guard<std::recursive_mutex>;

    bool silent() const { return m_model.silentAfterLines >= 0 && m_model.received.size() >= m_model.silentAfterLines; }
    void write(quint32 c)
    {
        Model& m = m_model;
        m.commands.append(c);
        m.command = c;
        const int deviceClass = this->deviceClass();
        switch (c) {
        case 1:
            // Standby: class 20 is ready for command 2 with the next line, class 29 waits for it.
            if (m.special && m.mode != Model::None)
                m.specialStatus = deviceClass == 20 ? 0x84 : 0x81;
            return;
        case 3:
            m.mode = Model::Program;
            m.pending.clear();
            break;
        case 4:
            m.mode = Model::Compare;
            break;
        case 5:
            m.mode = Model::Verify;
            break;
        case 6:
            m.stored = m.pending;
            break;
        case 7:
            // The module leaves special mode and clears its request; the stop bit stays.
            m.special = false;
            m.control &= ~1u;
            return;
        default:
            return;
        }
        // A 24-channel module waits for the first line at once.
        m.specialStatus = deviceClass == 20 ? 0x84 : 0x81;
    }
    void take(const QByteArray& line)
    {
        Model& m = m_model;
        m.received.append(line);
        if (deviceClass() == 20)
            m.command = 2;
        const bool failsOnce = m.eachLineFailsOnce && !m.failedOnce.contains(line);
        if (line == m.corruptLine || failsOnce) {
            m.failedOnce.append(line);
            m.specialStatus = 0x92;
            return;
        }
        if (m.mode == Model::Program) {
            m.pending.append(line);
        } else {
            const QList<QByteArray>& image = m.mode == Model::Verify ? m.pending : m.stored;
            if (!image.contains(line)) {
                m.specialStatus = 0x96;
                return;
            }
        }
        m.specialStatus = 0x84;
    }

    Model m_model;
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
    void targetFixedWhileTransferRuns();

    void vmeTest_data();
    void vmeTest();
    void factoryResetLog_data();
    void factoryResetLog();
    void factoryButtonsWhileResetRuns();

private:
    QString writeFile(const QList<QByteArray>& lines);
    QString writeRaw(const QByteArray& contents);
    // The dialog for a module of class `deviceClass` and the file chosen.
    void open(int deviceClass, const QList<QByteArray>& lines, bool write);
    // Starts the transfer and waits until the dialog rests (idle or aborted).
    void run();
    // The words of the module to the dialog, as the main window's refresh reports them.
    void reportToDialog();

    QTemporaryDir m_dir;
    int m_files = 0;
    ScriptedDialogs m_dialogs;
    MemoryModule m_module{12, 20, serial};
    std::unique_ptr<DeviceSession> m_session;
    LoaderModule* m_loader = nullptr; // owned by the session
    std::unique_ptr<DialogSpecial> m_dialog;
    QStringList m_shownAddresses; // the address display as each line went out
    // Runs whenever the transfer's state changes or a line goes out (the test's hook into it).
    std::function<void()> m_onProgress;
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
    m_session.reset();
    m_loader = nullptr;
    m_onProgress = nullptr;
    m_shownAddresses.clear();
    m_dialogs.questionAnswer = QMessageBox::No;
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
    m_session = std::make_unique<DeviceSession>(std::make_unique<MemoryControllerFactory>([this, deviceClass] {
        m_loader = new LoaderModule(deviceClass);
        return QVector<MemoryModule*>{m_loader};
    }));
    QVERIFY(m_session->connectTo(QStringLiteral("memory")));
    m_dialog = std::make_unique<DialogSpecial>();
    m_dialog->setUserDialogs(&m_dialogs);
    m_dialog->setTarget(m_loader, serial, QStringLiteral("VME BA 0x4000, serial 31"));
    m_dialog->updateDeviceClass(quint16(deviceClass));
    m_dialog->setTiming(1, 15000, 0);
    // The main window's part: the transfer as a job, the buttons' requests on the module.
    connect(m_dialog.get(), &DialogSpecial::transferRequested, m_dialog.get(),
        [this](const QVector<FirmwareFile::Line>& fileLines, qint64 size, bool writing) {
            auto* job = new FirmwareTransferJob(m_session.get(), m_loader, fileLines, size, writing, m_dialog.get());
            m_dialog->followTransfer(job);
            connect(job, &ServiceJob::finished, job, &QObject::deleteLater);
            connect(job, &ServiceJob::progress, m_dialog.get(), [this](int done, int, const QString& step) {
                if (done >= 0 && (step.startsWith("Burning") || step.startsWith("Comparing")))
                    m_shownAddresses.append(step);
                if (m_onProgress)
                    m_onProgress();
            });
            connect(job, &FirmwareTransferJob::stateChanged, m_dialog.get(), [this] {
                if (m_onProgress)
                    m_onProgress();
            });
            job->start();
        });
    connect(m_dialog.get(), &DialogSpecial::setModuleControl, m_dialog.get(),
        [this](quint32 word) { m_loader->setControl(word); });
    connect(m_dialog.get(), &DialogSpecial::setSpecialControl, m_dialog.get(),
        [this](quint32 command) { m_loader->setSpecialControlCommand(command); });
    child<QRadioButton>(m_dialog.get(), write ? "chkS19ModeWrite" : "chkS19ModeCompare")->setChecked(true);
    m_dialog->setHexFilename(writeFile(lines));
}

void ServiceDialogsTest::run()
{
    button(m_dialog.get(), "btnSendHexFile")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->transferRunning(), transferTimeoutMs);
}

void ServiceDialogsTest::reportToDialog()
{
    m_dialog->updateModuleControl(m_loader->control());
    m_dialog->updateModuleStatus(m_loader->status());
    m_dialog->updateModuleSpecialControlStatus(m_loader->specialControlCommand(), m_loader->specialControlStatus());
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
    m_loader->change([&](LoaderModule::Model& m) { m.stored = write ? QList<QByteArray>() : image; });
    run();

    const LoaderModule::Model model = m_loader->model();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(m_dialogs.warnings().isEmpty());
    if (write) {
        // Programmed, verified with the same lines, stored by post flash, special mode ended.
        QCOMPARE(model.received, image + image);
        QCOMPARE(model.stored, image);
        QVERIFY(model.commands.indexOf(5) > model.commands.indexOf(3));
        QVERIFY(model.commands.indexOf(6) > model.commands.indexOf(5));
        QCOMPARE(model.commands.last(), 7u);
        QVERIFY(m_dialogs.informations().isEmpty());
    } else {
        QCOMPARE(model.received, image);
        QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
        QVERIFY(!model.commands.contains(7));
        QVERIFY(!model.commands.contains(3));
    }
    QVERIFY(model.commands.indexOf(14) < model.commands.indexOf(write ? 3 : 4)); // settled first
    QVERIFY(button(m_dialog.get(), "btnSendHexFile")->isEnabled());
    QVERIFY(button(m_dialog.get(), "btnPostFlash")->isEnabled());
}

void ServiceDialogsTest::pageAndOffset()
{
    open(20, {"S2080F8000010203045E", "S2080123450001020388", "S2080E1234AABBCCDD95"}, true);
    run();
    QCOMPARE(m_shownAddresses.mid(0, 3), (QStringList{"Burning: 3E:8000", "Burning: 00:2345", "Burning: 38:9234"}));
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
    m_loader->change([](LoaderModule::Model& m) { m.corruptLine = image.at(1); });
    run();
    const LoaderModule::Model model = m_loader->model();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);
    QCOMPARE(model.received.count(image.at(1)), 3);
    QCOMPARE(model.received.last(), image.at(1));
    QCOMPARE(model.commands.last(), 1u); // left in standby
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
        m_loader->change([&](LoaderModule::Model& m) {
            m.stored = lines;
            m.eachLineFailsOnce = true;
        });
        run();
        QCOMPARE(m_dialogs.warnings(), QStringList());
        QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
        QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
        QCOMPARE(m_loader->model().received.size(), 2 * lines.size());
    }
}

void ServiceDialogsTest::newTransferStartsClean()
{
    // A transfer that gave up with a line still to be sent again...
    open(29, image, true);
    m_loader->change([](LoaderModule::Model& m) { m.corruptLine = image.at(1); });
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);

    // ...does not send that line into the next file's transfer.
    const QList<QByteArray> other = {"S1130100000102030405060708090A0B0C0D0E0F73", "S9030000FC"};
    m_dialog->setHexFilename(writeFile(other));
    m_loader->change([](LoaderModule::Model& m) {
        m.corruptLine.clear();
        m.received.clear();
        m.special = false;
    });
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QCOMPARE(m_loader->model().received, other + other);
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
    // A file is checked whole before anything is asked of the module: no transfer, no special
    // mode, no command, no line.
    QFETCH(QByteArray, contents);
    QFETCH(QString, warning);
    for (int deviceClass : {20, 29}) {
        cleanup();
        open(deviceClass, {}, true);
        m_dialog->setHexFilename(writeRaw(contents));
        QSignalSpy requested(m_dialog.get(), &DialogSpecial::transferRequested);
        run();
        QCOMPARE(m_dialogs.warnings(), QStringList{warning});
        QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
        QVERIFY(requested.isEmpty());
        QCOMPARE(m_loader->writes(), QStringList());
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
    m_dialog->setTiming(1, 300, 0);
    m_loader->change([](LoaderModule::Model& m) { m.silentAfterLines = 2; });
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);
    QCOMPARE(m_loader->model().received.size(), 2);
    QCOMPARE(m_dialogs.warnings(), QStringList{"The module did not advance the transfer for 0.3 s. Giving Up!"});
    QVERIFY(button(m_dialog.get(), "btnSendHexFile")->isEnabled());
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());

    // A module that never enters special mode gives up the same way.
    cleanup();
    open(20, image, true);
    m_dialog->setTiming(1, 300, 0);
    m_loader->change([](LoaderModule::Model& m) { m.neverSpecial = true; });
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Aborted);
    QVERIFY(m_loader->model().received.isEmpty());
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
    m_loader->change([&](LoaderModule::Model& m) { m.control = controlBefore; });
    // End Special once the transfer is in the asked state, two lines into it for the passes.
    bool clicked = false;
    int linesInState = 0;
    m_onProgress = [&] {
        if (clicked || int(m_dialog->state()) != state)
            return;
        if (state != int(DialogSpecial::State::Settling) && ++linesInState < 3)
            return;
        clicked = true;
        button(m_dialog.get(), "btnEndSpecial")->click();
    };
    button(m_dialog.get(), "btnSendHexFile")->click();
    QTRY_VERIFY_WITH_TIMEOUT(clicked, transferTimeoutMs);
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(!m_dialog->transferRunning());
    QVERIFY(button(m_dialog.get(), "btnSendHexFile")->isEnabled());
    QVERIFY(button(m_dialog.get(), "btnSelectFile")->isEnabled());
    QVERIFY(child<QWidget>(m_dialog.get(), "grpFlashMode")->isEnabled());
    QCOMPARE(child<QLabel>(m_dialog.get(), "txtInfo")->text(), QStringLiteral("Transfer stopped by End Special."));
    const int sent = int(m_loader->model().received.size());
    QTest::qWait(50);
    for (int report = 0; report < 3; ++report)
        reportToDialog();
    // Nothing more goes to the module, and its control word is what it was before.
    const LoaderModule::Model model = m_loader->model();
    QVERIFY(!model.special);
    QCOMPARE(int(model.received.size()), sent);
    QCOMPARE(model.control, controlBefore);
    QCOMPARE(model.commands.last(), 7u);
    // Part of an image was programmed (or none, while settling).
    QCOMPARE(button(m_dialog.get(), "btnPostFlash")->isEnabled(), state == int(DialogSpecial::State::Settling));
}

void ServiceDialogsTest::postFlashOnlyForWholeImage()
{
    open(20, image, true);
    m_onProgress = [&] {
        // Not while a transfer runs...
        QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
        if (m_dialog->state() == DialogSpecial::State::Programming && m_dialog->transferRunning())
            button(m_dialog.get(), "btnEndSpecial")->click();
    };
    button(m_dialog.get(), "btnSendHexFile")->click();
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->transferRunning(), transferTimeoutMs);
    // ...nor after a Write stopped short of its end...
    QVERIFY(m_loader->model().commands.contains(3));
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
    QVERIFY(!m_dialog->postFlashOffered());
    // ...not for a compare either...
    m_onProgress = nullptr;
    child<QRadioButton>(m_dialog.get(), "chkS19ModeCompare")->setChecked(true);
    m_loader->change([](LoaderModule::Model& m) { m.stored = image; });
    run();
    QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
    QVERIFY(!button(m_dialog.get(), "btnPostFlash")->isEnabled());
    // ...but again once a whole file was programmed and verified.
    child<QRadioButton>(m_dialog.get(), "chkS19ModeWrite")->setChecked(true);
    m_loader->change([](LoaderModule::Model& m) { m.special = false; });
    run();
    QCOMPARE(m_dialog->state(), DialogSpecial::State::Idle);
    QVERIFY(button(m_dialog.get(), "btnPostFlash")->isEnabled());
}

void ServiceDialogsTest::closingAsksDuringTransfer()
{
    open(20, image, true);
    m_loader->change([](LoaderModule::Model& m) { m.neverSpecial = true; }); // the transfer waits
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
    QTest::qWait(20);
    QVERIFY(m_dialog->transferRunning());
}

void ServiceDialogsTest::targetFixedWhileTransferRuns()
{
    open(20, image, true);
    m_loader->change([](LoaderModule::Model& m) { m.neverSpecial = true; }); // the transfer waits
    button(m_dialog.get(), "btnSendHexFile")->click();
    QVERIFY(m_dialog->transferRunning());
    // While the transfer runs the target does not move.
    MemoryModule other(12, 20, serial + 1);
    m_dialog->setTarget(&other, serial + 1, QStringLiteral("other"));
    QCOMPARE(m_dialog->target(), m_loader);
    QCOMPARE(m_dialog->serialNumber(), serial);
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Special Mode - VME BA 0x4000, serial 31"));
    auto* words = child<QLabel>(m_dialog.get(), "lblModuleControlStatus");
    QTRY_VERIFY_WITH_TIMEOUT(words->text().startsWith("ModuleControl = 0x0005"), 5000); // the job's own reads
    QVERIFY(!button(m_dialog.get(), "btnLiveInsertion")->isEnabled());
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
    connect(&dialog, &DialogFactory::setModuleEventMask, [&](quint32 mask) { eventMask = mask; });
    connect(&dialog, &DialogFactory::setModuleEventChannelMask, [&](quint32 mask) { channelMask = mask; });
    dialog.on_btnVmeTest_clicked();
    for (int report = 0; report < 100 && dialog.state() != DialogFactory::State::Idle; ++report) {
        dialog.updateModuleEventMask(eventMask);
        dialog.updateModuleEventChannelMask(channelMask);
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
    connect(&dialog, &DialogFactory::storeFactorySettings, [&] {
        ++stores;
        // Reports arriving while the procedure runs do not start it again.
        dialog.updateModuleEventMask(0);
        dialog.showChannelReset(0, 3000, "V", 0.003f, "mA");
        dialog.factoryResetDone(success);
    });
    QSignalSpy control(&dialog, &DialogFactory::setModuleControl);
    dialog.updateModuleControl(0);
    dialog.on_btnFactoryReset_clicked();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(0).toUInt(), 4u);
    // Not before the module both was asked to stop and reports it.
    dialog.updateModuleControl(0);
    dialog.updateModuleStatus(0x04);
    dialog.updateModuleEventMask(0);
    dialog.updateModuleControl(0x04);
    dialog.updateModuleStatus(0);
    dialog.updateModuleEventMask(0);
    QCOMPARE(stores, 0);
    dialog.updateModuleStatus(0x04);
    dialog.updateModuleControl(0x04);
    dialog.updateModuleEventMask(0);
    QCOMPARE(stores, 1);
    QCOMPARE(dialog.log(),
        QStringLiteral("Setting Module to Mode STOP...\n\nModule is now in Mode STOP.\nResetting Module to Factory "
                       "settings ...\nChannel 0: Voltage Hardware Nominal 3000 V\nChannel 0: Current Hardware Nominal "
                       "0.003 mA\n\n")
            + ending);
    dialog.updateModuleEventMask(0);
    dialog.updateModuleEventMask(0);
    QCOMPARE(dialog.state(), DialogFactory::State::Idle);
}

void ServiceDialogsTest::factoryButtonsWhileResetRuns()
{
    DialogFactory dialog;
    dialog.setTarget(&m_module, serial, QStringLiteral("VME BA 0x4000, serial 31"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Factory Settings - VME BA 0x4000, serial 31"));
    dialog.show();
    bool enabledDuringReset = true;
    connect(&dialog, &DialogFactory::storeFactorySettings, [&] {
        enabledDuringReset = button(&dialog, "btnVmeTest")->isEnabled() || button(&dialog, "btnFactoryReset")->isEnabled();
        dialog.factoryResetDone(true);
    });
    // Without a reading of the control word the stop request is not built.
    QSignalSpy control(&dialog, &DialogFactory::setModuleControl);
    dialog.on_btnFactoryReset_clicked();
    QCOMPARE(control.size(), 0);
    QCOMPARE(dialog.log(), QStringLiteral("The module control word has no current reading: nothing was sent."));
    QVERIFY(button(&dialog, "btnFactoryReset")->isEnabled());
    dialog.updateModuleControl(0);
    dialog.on_btnFactoryReset_clicked();
    QCOMPARE(control.size(), 1);
    QVERIFY(!button(&dialog, "btnVmeTest")->isEnabled());
    QVERIFY(!button(&dialog, "btnFactoryReset")->isEnabled());
    // The target stays while the reset runs.
    MemoryModule other(12, 20, serial + 1);
    dialog.setTarget(&other, serial + 1, QStringLiteral("other"));
    QCOMPARE(dialog.target(), &m_module);
    dialog.updateModuleControl(0x04);
    dialog.updateModuleStatus(0x04);
    dialog.updateModuleEventMask(0);
    QVERIFY(!enabledDuringReset);
    QVERIFY(button(&dialog, "btnVmeTest")->isEnabled());
    QVERIFY(button(&dialog, "btnFactoryReset")->isEnabled());
}

QTEST_MAIN(ServiceDialogsTest)
#include "ServiceDialogsTest.moc"
