// The main window's Load Profile on the stand-in VME crate, whose module drops its first request
// to store the set values: the window asks the operator through its user dialogs whether to try
// again. Yes sends the request again and the profile ends stored, stop mode released; No ends the
// write with the failure shown and the module left in stop mode with the values written. What
// reached the crate is read through a bridge and module of the test's own.
#include "app/ChannelTable.h"
#include "app/TesmarControl.h"
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"
#include "common/VmeStandInConfig.h"

#include "controller/VmUsb.h"
#include "device/StatusWordBits.h"
#include "device/VmeControllerFactory.h"
#include "device/VmeModule.h"
#include "dialogs/common/StatusMessages.h"
#include "profiles/DialogWriteProfile.h"
#include "profiles/ModuleProfile.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {
constexpr int channels = 4;
constexpr char crate[] = R"({"vmUsbSerials": ["VM0024J"], "v1718": false, "modules": [
    {"base": "0x4000", "class": 20, "channels": 4, "serial": 200, "voltageNominal": 3000, "currentNominal": 0.003,
     "faults": {"ignoredSaveRequests": 1}}]})";
const QString retryQuestion = QStringLiteral("Error setting ModuleControl.DoSaveSetValues. Try again?");
} // namespace

class ProfileWriteWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(m_config.write(crate));
    }

    void storeRequestNotTaken_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Yes: asked again, stored") << int(QMessageBox::Yes) << "Profile written into device!";
        QTest::newRow("No: ends, failure shown") << int(
            QMessageBox::No) << "The module did not take the request to store its set values; it was left in stop mode.";
    }

    void storeRequestNotTaken()
    {
        QFETCH(int, answer);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        ModuleProfile profile;
        profile.voltageUnit = QStringLiteral("V");
        profile.currentUnit = QStringLiteral("mA");
        for (int n = 0; n < channels; ++n) {
            ModuleProfile::Channel c;
            c.voltageSet = 100 + n;
            c.currentSet = 0.5;
            c.voltageNominal = 2000;
            c.currentNominal = 1.5;
            profile.channels.append(c);
        }
        ScriptedDialogs dialogs;
        dialogs.fileName = dir.filePath(QStringLiteral("profile.txt"));
        QVERIFY(profile.save(dialogs.fileName));
        // Only the first question is answered so; a second one would get the default No.
        dialogs.questionAnswers = {QMessageBox::StandardButton(answer)};

        // A fresh crate for each row: the stand-in loads it anew while no bridge is open.
        UserDialogs::setStartupOverride(&dialogs);
        TesmarControl window(std::make_unique<VmeControllerFactory<VmUsb>>(), QStringLiteral("vmusb"));
        UserDialogs::setStartupOverride(nullptr);
        window.setUserDialogs(&dialogs);
        window.show();
        auto* table = child<ChannelTable>(&window, "table");
        QTRY_VERIFY_WITH_TIMEOUT(table->rowCount() == channels && table->item(0, ChannelTable::ColumnStatus), 5000);

        QTimer::singleShot(0, this, [&] {
            auto* preview = window.findChild<DialogWriteProfile*>();
            QTRY_VERIFY(preview && preview->isVisible());
            child<QAbstractButton>(preview, "btnOK")->click();
        });
        child<QAction>(&window, "actionLoadProfile")->trigger();
        auto* writing = window.findChild<DialogWriteProfile*>();
        QVERIFY(writing && writing->isWriting());
        QTRY_VERIFY_WITH_TIMEOUT(!writing->isWriting(), 30000);

        // Asked once, as a Yes/No question with No the safe default.
        const QList<ScriptedDialogs::Asked> questions = dialogs.askedOf(ScriptedDialogs::Kind::Question);
        QCOMPARE(questions.size(), 1);
        QCOMPARE(questions.first().text, retryQuestion);
        QCOMPARE(questions.first().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(dialogs.informations(), QStringList{shown});
        QCOMPARE(window.statusBar()->currentMessage(), shown);
        QCOMPARE(StatusMessages::shownKind(window.statusBar()),
            answer == QMessageBox::Yes ? StatusMessages::Kind::Note : StatusMessages::Kind::Error);
        QVERIFY2(writing->logText().contains(shown), qPrintable(writing->logText()));

        VmUsb bridge;
        VmeModule side(&bridge, 0x4000);
        side.deviceClass(); // the first operation only detects the layout
        // Written either way; stop mode released only after the store.
        QCOMPARE(side.channelVoltageSet(channels - 1), float(100 + channels - 1));
        const quint32 stopped = side.status() & ModuleStatusBit::stopped;
        QCOMPARE(stopped, answer == QMessageBox::Yes ? 0u : ModuleStatusBit::stopped);
    }

private:
    VmeStandInConfig m_config;
};

QTEST_MAIN(ProfileWriteWindowTest)
#include "tst_profilewritewindow.moc"
