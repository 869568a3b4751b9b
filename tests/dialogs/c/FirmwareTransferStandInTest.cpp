// The special-mode dialog end to end: the main window on the stand-in VME crate, behind each
// bridge, with its refresh, its requests and the simulated modules' loaders. A firmware image
// compares and writes on both register layouts; a bad file never reaches a module; two modules
// with one serial number each keep their own procedure. What reached the crate is read back
// through a bridge and module of the test's own.
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"

#include "app/ServiceDesk.h"
#include "app/TesmarControl.h"
#include "controller/V1718.h"
#include "controller/VmUsb.h"
#include "device/VmeModule.h"
#include "device/WriteJournal.h"
#include "dialogs/DialogSpecial.h"

#include "../../app/IsolatedSettings.h"
#include "common/VmeStandInConfig.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QList<QByteArray> image = {
    "S00600004844521B",
    "S1130000285F245F2212226A000424290008237C2A",
    "S10B00100102030405060708C0",
    "S2080F8000010203045E",
    "S9030000FC",
};

IsolatedSettings* s_settings = nullptr;

int hexLinesJournaled()
{
    QFile file(WriteJournal::defaultFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Each line sent is a "sent" line and its result line.
    return int(file.readAll().count("\thex line\t")) / 2;
}

} // namespace

class FirmwareTransferStandInTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void compareAndWrite_data();
    void compareAndWrite();
    void badFilesReachNoModule_data();
    void badFilesReachNoModule();
    void sameSerialNumberEachOnItsOwn();

private:
    QString writeFile(const QByteArray& contents);
    void openWindow(const QString& kind);
    DialogSpecial* openSpecial(int row, bool write, const QString& file);
    // The bridge of the window's kind, for reading back what the crate holds.
    VmeController* bridge();

    QTemporaryDir m_dir;
    int m_files = 0;
    VmeStandInConfig m_config;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<TesmarControl> m_window;
    QString m_kind;
    std::unique_ptr<VmUsb> m_vmUsb;
    std::unique_ptr<V1718> m_v1718;
};

void FirmwareTransferStandInTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile stored(m_dir.filePath(QStringLiteral("stored.hex")));
    QVERIFY(stored.open(QIODevice::WriteOnly));
    stored.write(image.join("\n") + "\n");
    stored.close();
    // Two class-20 modules side by side with one serial number, and a class-29 module.
    const QByteArray crate = R"({"vmUsbSerials": ["VM0417A"], "v1718": true, "modules": [
        {"base": "0x4000", "class": 20, "channels": 12, "serial": 777, "storedImage": "STORED"},
        {"base": "0x4400", "class": 20, "channels": 4, "serial": 777},
        {"base": "0x5000", "class": 29, "channels": 8, "serial": 778, "storedImage": "STORED"}]})";
    QVERIFY(m_config.write(QByteArray(crate).replace("STORED", stored.fileName().toUtf8())));
}

void FirmwareTransferStandInTest::init()
{
    m_dialogs.asked.clear();
}

void FirmwareTransferStandInTest::cleanup()
{
    m_window.reset();
}

QString FirmwareTransferStandInTest::writeFile(const QByteArray& contents)
{
    const QString path = m_dir.filePath(QStringLiteral("firmware%1.hex").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

VmeController* FirmwareTransferStandInTest::bridge()
{
    if (m_kind == QLatin1String("v1718")) {
        if (!m_v1718)
            m_v1718 = std::make_unique<V1718>();
        return m_v1718.get();
    }
    if (!m_vmUsb)
        m_vmUsb = std::make_unique<VmUsb>();
    return m_vmUsb.get();
}

void FirmwareTransferStandInTest::openWindow(const QString& kind)
{
    m_kind = kind;
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("Controller/Kind"), kind);
    UserDialogs::setStartupOverride(&m_dialogs);
    m_window = std::make_unique<TesmarControl>();
    UserDialogs::setStartupOverride(nullptr);
    m_window->setUserDialogs(&m_dialogs);
    m_window->show();
    auto* modules = child<QListWidget>(m_window.get(), "lstModules");
    QTRY_COMPARE_WITH_TIMEOUT(modules->count(), 3, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(modules->item(2)->text().endsWith(QLatin1String("778")), 5000);
}

DialogSpecial* FirmwareTransferStandInTest::openSpecial(int row, bool write, const QString& file)
{
    child<QListWidget>(m_window.get(), "lstModules")->setCurrentRow(row);
    m_window->serviceDesk()->showSpecialMode();
    auto* dialog = m_window->serviceDesk()->specialDialog();
    dialog->setTiming(10, 15000);
    child<QRadioButton>(dialog, write ? "chkS19ModeWrite" : "chkS19ModeCompare")->setChecked(true);
    dialog->setHexFilename(file);
    return dialog;
}

void FirmwareTransferStandInTest::compareAndWrite_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("VM-USB") << "vmusb";
    QTest::newRow("V1718") << "v1718";
}

void FirmwareTransferStandInTest::compareAndWrite()
{
    QFETCH(QString, kind);
    openWindow(kind);
    const int journaled = hexLinesJournaled();
    const QString file = writeFile(image.join("\r\n") + "\r\n");
    const QStringList titles = {QStringLiteral("Special Mode - VME BA 0x4000, serial 777"),
        QStringLiteral("Special Mode - VME BA 0x5000, serial 778")};
    for (int row : {0, 2}) {
        // Compare against the image the module holds.
        DialogSpecial* dialog = openSpecial(row, false, file);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->windowTitle(), titles.at(row / 2), 5000);
        child<QPushButton>(dialog, "btnSendHexFile")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->transferRunning(), 30000);
        QCOMPARE(dialog->state(), DialogSpecial::State::Idle);
        QCOMPARE(m_dialogs.warnings(), QStringList());
        QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
        m_dialogs.asked.clear();

        // Write: programmed, verified, post flash, special mode ended; it compares afterwards.
        const QByteArray other = image.at(0) + "\n" + "S10B0020111213141516171830\n" + image.last() + "\n";
        dialog->setHexFilename(writeFile(other));
        child<QRadioButton>(dialog, "chkS19ModeWrite")->setChecked(true);
        child<QPushButton>(dialog, "btnSendHexFile")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->transferRunning(), 30000);
        QCOMPARE(dialog->state(), DialogSpecial::State::Idle);
        QCOMPARE(m_dialogs.warnings(), QStringList());
        VmeModule side(bridge(), row == 0 ? 0x4000 : 0x5000);
        side.deviceClass();
        QTRY_COMPARE_WITH_TIMEOUT(side.status() & 0x40, 0u, 5000); // left special mode
        child<QRadioButton>(dialog, "chkS19ModeCompare")->setChecked(true);
        child<QPushButton>(dialog, "btnSendHexFile")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->transferRunning(), 30000);
        QCOMPARE(m_dialogs.informations(), QStringList{"HEX file compare complete!"});
        m_dialogs.asked.clear();
        child<QPushButton>(dialog, "btnEndSpecial")->click();
        QTRY_COMPARE_WITH_TIMEOUT(side.status() & 0x40, 0u, 5000);
    }
    // Each line sent is journaled (the check of bad files below counts on it).
    QVERIFY(hexLinesJournaled() > journaled);
    // The neighbour of 0x4000 was never written.
    VmeModule neighbour(bridge(), 0x4400);
    neighbour.deviceClass();
    for (int channel = 0; channel < 4; ++channel) {
        QCOMPARE(neighbour.channelControl(channel), 0u);
        QCOMPARE(neighbour.channelVoltageSet(channel), 0.0f);
    }
}

void FirmwareTransferStandInTest::badFilesReachNoModule_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("warning");
    QTest::newRow("1,100 characters after record 3")
        << image.at(0) + "\n" + image.at(1) + "\n" + image.at(2) + QByteArray(1100, '7') + "\n" + image.last()
        << "Line 3 of the HEX file: 1126 characters, a record has at most 514. Nothing was sent.";
    QTest::newRow("bad checksum") << image.at(0) + "\n" + "S1130000285F245F2212226A000424290008237C2B\n"
                                  << "Line 2 of the HEX file: checksum is 0x2A, the record gives 0x2B. Nothing was sent.";
    QTest::newRow("empty") << QByteArray() << "The HEX file holds no data records. Nothing was sent.";
}

void FirmwareTransferStandInTest::badFilesReachNoModule()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, warning);
    openWindow(QStringLiteral("vmusb"));
    const int journaled = hexLinesJournaled();
    for (int row : {0, 2}) {
        m_dialogs.asked.clear();
        DialogSpecial* dialog = openSpecial(row, true, writeFile(contents));
        child<QPushButton>(dialog, "btnSendHexFile")->click();
        QCOMPARE(m_dialogs.warnings(), QStringList{warning});
        QCOMPARE(dialog->state(), DialogSpecial::State::Idle);
        QTest::qWait(600); // three refresh ticks: nothing asks the module for special mode
        VmeModule side(bridge(), row == 0 ? 0x4000 : 0x5000);
        side.deviceClass();
        QCOMPARE(side.status() & 0x40, 0u);
        QCOMPARE(side.control() & 0x05, 0u);
    }
    QCOMPARE(hexLinesJournaled(), journaled);
}

void FirmwareTransferStandInTest::sameSerialNumberEachOnItsOwn()
{
    openWindow(QStringLiteral("vmusb"));
    VmeModule first(bridge(), 0x4000);
    VmeModule second(bridge(), 0x4400);
    first.deviceClass();
    second.deviceClass();
    DialogSpecial* dialog = openSpecial(1, true, QString());
    QTRY_COMPARE_WITH_TIMEOUT(dialog->windowTitle(), QStringLiteral("Special Mode - VME BA 0x4400, serial 777"), 5000);
    // The request is built from the control word read of this module.
    QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(dialog, "lblModuleControlStatus")->text().startsWith("ModuleControl = 0x"), 5000);
    child<QPushButton>(dialog, "btnSetSpecial")->click();
    QTRY_COMPARE_WITH_TIMEOUT(second.status() & 0x40, 0x40u, 5000);
    QCOMPARE(first.status() & 0x40, 0u);
    child<QPushButton>(dialog, "btnEndSpecial")->click();
    QTRY_COMPARE_WITH_TIMEOUT(second.status() & 0x40, 0u, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(second.control() & 0x05, 0u, 5000);
    QCOMPARE(first.control() & 0x05, 0u);
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QApplication application(argc, argv);
    FirmwareTransferStandInTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "FirmwareTransferStandInTest.moc"
