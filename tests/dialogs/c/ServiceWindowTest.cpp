// The main window's side of the service functions against in-memory modules: the factory reset
// and the VME test, base address programming, and that a procedure stays with its module.
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"

#include "app/ServiceDesk.h"
#include "app/TesmarControl.h"
#include "device/ControllerKinds.h"
#include "device/DeviceSession.h"
#include "device/ModuleTypes.h"
#include "dialogs/DialogFactory.h"
#include "dialogs/DialogSpecial.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

// A VME module as the service functions see it: it acts on its control word, takes a base
// address, and notes where its special words are read.
class ServiceModule : public MemoryModule
{
public:
    ServiceModule(int serialNumber, quint16 baseAddress, bool twentyFourChannels)
        : MemoryModule(twentyFourChannels ? 24 : 12, twentyFourChannels ? 29 : 20, serialNumber)
    {
        if (twentyFourChannels)
            m_firmwareName = ModuleTypes::nameOf(29);
        state.baseAddress = state.programmedBaseAddress = baseAddress;
        state.followsControl = true;
    }
    QString address() override
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        return QStringLiteral("memory 0x%1").arg(state.baseAddress, 4, 16, QLatin1Char('0'));
    }
    std::atomic<int> stuckChannel{-1}; // its control word never reads back 0
    std::atomic<int> specialReads{0};
    std::atomic<bool> specialReadInGuiThread{false};

    quint32 channelControl(int channel) override
    {
        return channel == stuckChannel ? 1 : MemoryModule::channelControl(channel);
    }
    bool readChannelControl(int channel, quint32* control) override
    {
        if (channel != stuckChannel)
            return MemoryModule::readChannelControl(channel, control);
        *control = 1;
        return true;
    }
    quint32 specialControlStatus() override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            specialReadInGuiThread = true;
        ++specialReads;
        return MemoryModule::specialControlStatus();
    }
};

struct PlacedModule
{
    int serialNumber;
    quint16 baseAddress;
    bool twentyFourChannels;
};

} // namespace

Q_DECLARE_METATYPE(QVector<PlacedModule>)

class ServiceWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void factoryReset_data();
    void factoryReset();
    void factoryResetCancelled();
    void vmeTest();
    void baseAddressCandidates_data();
    void baseAddressCandidates();
    void baseAddressOutcome_data();
    void baseAddressOutcome();
    void baseAddressCancelled();
    void transferStaysWithItsModule();
    void sameSerialNumberEachOnItsOwn();
    void liveInsertionMovesSelection();
    void requestsThatDoNotArrive();
    void vmeMenus_data();
    void vmeMenus();

private:
    void openWindow(const QVector<PlacedModule>& placement, const QString& kind = QStringLiteral("snmp"));
    ServiceModule* module(int index) const { return m_modules.at(index); }
    MemoryModule::ModuleState stateOf(int index) const;
    DialogSpecial* openSpecial();
    DialogFactory* openFactory();

    std::unique_ptr<TesmarControl> m_window;
    QVector<ServiceModule*> m_modules; // owned by the window's session
    ScriptedDialogs m_dialogs;
    QTemporaryDir m_dir;
};

void ServiceWindowTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
}

void ServiceWindowTest::cleanup()
{
    m_window.reset();
    m_modules.clear();
    UserDialogs::setStartupOverride(nullptr);
    m_dialogs.answers.clear();
    m_dialogs.asked.clear();
    m_dialogs.questionAnswer = QMessageBox::No;
}

void ServiceWindowTest::openWindow(const QVector<PlacedModule>& placement, const QString& kind)
{
    UserDialogs::setStartupOverride(&m_dialogs);
    auto factory = std::make_unique<MemoryControllerFactory>([this, placement] {
        m_modules.clear();
        QVector<MemoryModule*> made;
        for (const PlacedModule& placed : placement) {
            m_modules.append(new ServiceModule(placed.serialNumber, placed.baseAddress, placed.twentyFourChannels));
            made.append(m_modules.last());
        }
        return made;
    });
    m_window = std::make_unique<TesmarControl>(std::move(factory), kind);
    m_window->setUserDialogs(&m_dialogs);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->deviceSession()->isConnecting(), 5000);
    QCOMPARE(m_modules.size(), placement.size());
}

MemoryModule::ModuleState ServiceWindowTest::stateOf(int index) const
{
    std::lock_guard<std::recursive_mutex> lock(module(index)->m_mutex);
    return module(index)->state;
}

DialogSpecial* ServiceWindowTest::openSpecial()
{
    m_window->serviceDesk()->showSpecialMode();
    return m_window->serviceDesk()->specialDialog();
}

DialogFactory* ServiceWindowTest::openFactory()
{
    m_window->serviceDesk()->showFactorySettings();
    DialogFactory* dialog = m_window->serviceDesk()->factoryDialog();
    // Factory Reset builds its request from the control word read of the module.
    [&] { QTRY_VERIFY_WITH_TIMEOUT(dialog->controlKnown(), 5000); }();
    return dialog;
}

// ---- Factory settings ----

void ServiceWindowTest::factoryReset_data()
{
    QTest::addColumn<int>("stuckChannel");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("ending");
    QTest::newRow("every channel") << -1 << QStringList() << "Reset to Factory Settings done!";
    QTest::newRow("control of channel 1 stays on")
        << 1 << QStringList{"Error resetting Channel 1 Control word. Giving up."} << "Reset to Factory Settings failed!";
}

void ServiceWindowTest::factoryReset()
{
    QFETCH(int, stuckChannel);
    QFETCH(QStringList, messages);
    QFETCH(QString, ending);
    openWindow({{7, 0x4000, false}});
    module(0)->stuckChannel = stuckChannel;
    MemoryModule::Channel used;
    used.voltageSet = 100;
    used.currentSet = 0.001f;
    used.voltageNominal = 2000;
    used.currentNominal = 0.002f;
    used.voltageHardwareNominal = 3000;
    used.currentHardwareNominal = 0.004f;
    used.voltageIlkMax = used.voltageIlkMin = used.currentIlkMax = used.currentIlkMin = 5;
    used.control = 0x08;
    for (int channel = 0; channel < 12; ++channel)
        module(0)->setChannel(channel, used);

    DialogFactory* dialog = openFactory();
    child<QPushButton>(dialog, "btnFactoryReset")->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->log().contains("Reset to Factory Settings"), 20000);
    QVERIFY(dialog->log().endsWith(ending));
    QCOMPARE(m_dialogs.informations(), messages);
    // The procedure ends with the refresh running again, whether it gave up or not.
    QVERIFY(child<QTimer>(m_window.get(), "refreshTimer")->isActive());

    const int resetChannels = stuckChannel < 0 ? 12 : stuckChannel;
    for (int channel = 0; channel < 12; ++channel) {
        const MemoryModule::Channel c = module(0)->channel(channel);
        if (channel >= resetChannels) {
            QCOMPARE(c.voltageSet, 100.0f); // not reached
            continue;
        }
        QCOMPARE(c.control, 0u);
        QCOMPARE(c.voltageSet, 0.0f);
        QCOMPARE(c.currentSet, 0.004f);
        QCOMPARE(c.voltageNominal, 3000.0f);
        QCOMPARE(c.currentNominal, 0.004f);
        QCOMPARE(c.voltageIlkMax + c.voltageIlkMin + c.currentIlkMax + c.currentIlkMin, 0.0f);
        QCOMPARE(c.eventMask, 0xFFFFFFFFu);
        QVERIFY(dialog->log().contains(QStringLiteral("Channel %1: Current Hardware Nominal 0.004 ").arg(channel)));
    }
    const MemoryModule::ModuleState state = stateOf(0);
    if (stuckChannel < 0) {
        QCOMPARE(state.eventMask & state.eventChannelMask & state.eventGroupMask, 0xFFFFFFFFu);
        QCOMPARE(state.voltageRampSpeed, 1.0f);
        QVERIFY(module(0)->writes().contains("setControl(36932)")); // 0x9044: store the settings
    } else {
        QCOMPARE(state.eventMask, 0u);
    }
}

void ServiceWindowTest::factoryResetCancelled()
{
    openWindow({{7, 0x4000, false}});
    DialogFactory* dialog = openFactory();
    auto* cancel = child<QPushButton>(dialog, "btnCancelReset");
    QVERIFY(!cancel->isEnabled());
    int progressSeen = 0;
    // Cancel as soon as the first channel is done.
    connect(m_window->serviceDesk(), &ServiceDesk::factoryResetProgress, dialog, [&] {
        if (progressSeen++ == 0) {
            QVERIFY(cancel->isEnabled());
            cancel->click();
        }
    });
    child<QPushButton>(dialog, "btnFactoryReset")->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->log().contains("Reset to Factory Settings"), 20000);
    QVERIFY(dialog->log().endsWith("Reset to Factory Settings cancelled: the module keeps what was written so far."));
    QCOMPARE(progressSeen, 1);
    QVERIFY(!cancel->isEnabled());
    QVERIFY(child<QPushButton>(dialog, "btnFactoryReset")->isEnabled());
    QVERIFY(child<QTimer>(m_window.get(), "refreshTimer")->isActive());
    QCOMPARE(m_dialogs.informations(), QStringList());
    QVERIFY(!module(0)->writes().contains("setControl(36932)")); // nothing stored
}

void ServiceWindowTest::vmeTest()
{
    openWindow({{7, 0x4000, false}});
    DialogFactory* dialog = openFactory();
    child<QPushButton>(dialog, "btnVmeTest")->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->log().endsWith("Test finished!"), 30000);
    QVERIFY(dialog->log().contains("Module EventChannelMask 0x0800 passed"));
    QCOMPARE(stateOf(0).eventChannelMask, 0x800u);
}

// ---- Base address ----

void ServiceWindowTest::baseAddressCandidates_data()
{
    QTest::addColumn<QVector<PlacedModule>>("modules");
    QTest::addColumn<int>("count");
    QTest::addColumn<quint32>("step");
    QTest::addColumn<QString>("preselected");
    QTest::addColumn<QStringList>("absent");
    QTest::newRow("12 channels among others")
        << QVector<PlacedModule>{{1, 0x4000, false}, {2, 0x5000, false}, {3, 0x6000, false}} << 62 << 0x400u << "0x4000"
        << QStringList{"0x5000", "0x6000"};
    QTest::newRow("24 channels") << QVector<PlacedModule>{{1, 0x4000, true}, {2, 0x5000, false}, {3, 0x6000, false}} << 30
                                 << 0x800u << "0x4000" << QStringList{"0x5000", "0x6000"};
    // A 24-channel neighbour decodes 0x800 bytes: the 12-channel window behind its start is taken.
    QTest::newRow("24-channel neighbour") << QVector<PlacedModule>{{1, 0x5000, false}, {2, 0x4000, true}} << 62 << 0x400u
                                          << "0x5000" << QStringList{"0x4000", "0x4400"};
}

void ServiceWindowTest::baseAddressCandidates()
{
    QFETCH(QVector<PlacedModule>, modules);
    QFETCH(int, count);
    QFETCH(quint32, step);
    QFETCH(QString, preselected);
    QFETCH(QStringList, absent);
    openWindow(modules);
    m_window->serviceDesk()->programNewBaseAddress(); // cancelled: no answer
    const QStringList offered = m_dialogs.askedOf(ScriptedDialogs::Kind::Value).last().items;
    QCOMPARE(offered.size(), count);
    QCOMPARE(offered.value(m_dialogs.askedOf(ScriptedDialogs::Kind::Value).last().current), preselected);
    for (const QString& item : offered)
        QCOMPARE(item.mid(2).toUInt(nullptr, 16) % step, 0u);
    for (const QString& item : absent)
        QVERIFY2(!offered.contains(item), qPrintable(item));
    QVERIFY(!module(0)->writes().join(' ').contains("programBaseAddress"));
}

void ServiceWindowTest::baseAddressOutcome_data()
{
    QTest::addColumn<bool>("accepts");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<bool>("entersSpecialMode");
    QTest::addColumn<int>("verifyReads");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("address");
    QTest::newRow("not accepted") << false << true << true << 11
                                  << "It seems the module did not accept our new address 0x8000.\n\nThe module "
                                     "returned 0x4000 instead. Giving up."
                                  << 0x4000;
    QTest::newRow("no reset") << true << false << true << 2
                              << "The Module still uses the old address 0x4000.\n\nYou can communicate with it till "
                                 "the next hardware reset.\n\nPlease note the new address 0x8000 and use this "
                                 "addressfor communication after the reset."
                              << 0x4000;
    QTest::newRow("reset") << true << true << true << 2 << QString() << 0x8000;
    // The reset never reached the module: it still answers at its old address.
    QTest::newRow("reset failed") << true << true << false << 2
                                  << "Can not set Module to special mode - reset is not possible!\n\nPlease try a "
                                     "hardware reset by powering the crate off/on!"
                                  << 0x4000;
}

void ServiceWindowTest::baseAddressOutcome()
{
    QFETCH(bool, accepts);
    QFETCH(bool, reset);
    QFETCH(bool, entersSpecialMode);
    QFETCH(int, verifyReads);
    QFETCH(QString, message);
    QFETCH(int, address);
    openWindow({{1, 0x4000, false}, {2, 0x5000, false}});
    {
        std::lock_guard<std::recursive_mutex> lock(module(0)->m_mutex);
        module(0)->state.acceptsBaseAddress = accepts;
        module(0)->state.followsControl = entersSpecialMode;
    }
    m_dialogs.answers = {QStringLiteral("0x8000")};
    m_dialogs.questionAnswer = reset ? QMessageBox::Yes : QMessageBox::No;
    auto* refresh = child<QTimer>(m_window.get(), "refreshTimer");
    m_window->serviceDesk()->programNewBaseAddress();
    // The procedure runs on while the window is read no more; at its end the refresh resumes.
    QVERIFY(!refresh->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(refresh->isActive(), 10000);

    const QStringList shown = m_dialogs.messages();
    if (message.isEmpty())
        QCOMPARE(stateOf(0).specialControlCommand, 9u);
    else
        QCOMPARE(shown.last(), message);
    QCOMPARE(stateOf(0).verifyReads, verifyReads);
    QCOMPARE(int(module(0)->baseAddress()), address);
    // The list names the module where it answers now.
    const QString where = QStringLiteral("memory 0x%1").arg(address, 4, 16, QLatin1Char('0'));
    auto* list = child<QListWidget>(m_window.get(), "lstModules");
    QCOMPARE(list->item(0)->text().section('\n', 0, 0), where);
    QCOMPARE(list->item(1)->text().section('\n', 0, 0), QStringLiteral("memory 0x5000"));
}

// Cancel in the progress window stops the programming between two read-backs: no more reads,
// no question about a reset, the status bar says what is known, the window closes.
void ServiceWindowTest::baseAddressCancelled()
{
    openWindow({{1, 0x4000, false}, {2, 0x5000, false}});
    {
        std::lock_guard<std::recursive_mutex> lock(module(0)->m_mutex);
        module(0)->state.acceptsBaseAddress = false; // reads back the old address: polls on
    }
    m_dialogs.answers = {QStringLiteral("0x8000")};
    auto* refresh = child<QTimer>(m_window.get(), "refreshTimer");
    m_window->serviceDesk()->programNewBaseAddress();
    auto* progress = m_window->findChild<QProgressDialog*>(QStringLiteral("serviceJobProgress"));
    QVERIFY(progress && progress->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(stateOf(0).verifyReads >= 2, 5000);
    progress->findChild<QPushButton*>()->click();
    QTRY_VERIFY_WITH_TIMEOUT(refresh->isActive(), 5000);
    QVERIFY2(m_window->statusBar()->currentMessage().startsWith(QStringLiteral("Base address programming cancelled.")),
        qPrintable(m_window->statusBar()->currentMessage()));
    const int reads = stateOf(0).verifyReads;
    QVERIFY(reads < 11);
    QTest::qWait(200);
    QCOMPARE(stateOf(0).verifyReads, reads);
    QVERIFY(m_dialogs.messages().isEmpty());
    QTRY_VERIFY(!m_window->findChild<QProgressDialog*>(QStringLiteral("serviceJobProgress")));
    QCOMPARE(int(module(0)->baseAddress()), 0x4000);
}

// ---- Special mode ----

void ServiceWindowTest::transferStaysWithItsModule()
{
    openWindow({{1, 0x4000, false}, {2, 0x5000, false}});
    DialogSpecial* dialog = openSpecial();
    QCOMPARE(dialog->target(), module(0));
    // Named by the serial number once the refresh has read it.
    QTRY_COMPARE_WITH_TIMEOUT(dialog->serialNumber(), 1, 5000);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Special Mode - memory 0x4000, serial 1"));
    const QString path = m_dir.filePath("image.hex");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("S00600004844521B\nS1130000285F245F2212226A000424290008237C2A\nS9030000FC\n");
    file.close();
    dialog->setHexFilename(path);
    child<QPushButton>(dialog, "btnSendHexFile")->click();

    // Another module selected: the transfer's requests still go to the module it started on.
    m_window->on_actionNextModule_triggered();
    QCOMPARE(m_window->deviceSession()->currentModuleIndex(), 1);
    module(0)->clearWrites();
    QTRY_VERIFY_WITH_TIMEOUT(module(0)->writes().contains("setSpecialControlCommand(14)"), 10000);
    QVERIFY(module(0)->writes().contains("setControl(5)"));
    QCOMPARE(dialog->serialNumber(), 1);
    QVERIFY(module(1)->writes().isEmpty());
    QVERIFY(module(0)->specialReads > 0);
    QVERIFY(!module(0)->specialReadInGuiThread);
}

void ServiceWindowTest::sameSerialNumberEachOnItsOwn()
{
    // Two modules answer with one serial number (a module without one answers 0): the dialogs
    // act on the module object selected, not on the first with that number.
    openWindow({{0, 0x4000, false}, {0, 0x4400, false}});
    m_window->on_actionNextModule_triggered();
    QCOMPARE(m_window->deviceSession()->currentModuleIndex(), 1);
    module(0)->clearWrites();
    module(1)->clearWrites();

    DialogSpecial* special = openSpecial();
    QCOMPARE(special->target(), module(1));
    QCOMPARE(special->windowTitle(), QStringLiteral("Special Mode - memory 0x4400, serial 0"));
    // The request is built from the control word read of this module.
    QTRY_VERIFY_WITH_TIMEOUT(
        child<QLabel>(special, "lblModuleControlStatus")->text().startsWith("ModuleControl = 0x"), 5000);
    child<QPushButton>(special, "btnSetSpecial")->click();
    QTRY_VERIFY_WITH_TIMEOUT(module(1)->writes().contains("setControl(5)"), 5000);
    QVERIFY(module(0)->writes().isEmpty());
    // Its reads are the selected module's too.
    QTRY_VERIFY_WITH_TIMEOUT(module(1)->specialReads > 0, 5000);
    QCOMPARE(int(module(0)->specialReads), 0);

    DialogFactory* factory = openFactory();
    QCOMPARE(factory->target(), module(1));
    QCOMPARE(factory->windowTitle(), QStringLiteral("Factory Settings - memory 0x4400, serial 0"));
    child<QPushButton>(factory, "btnVmeTest")->click();
    QTRY_VERIFY_WITH_TIMEOUT(factory->log().endsWith("Test finished!"), 30000);
    QCOMPARE(stateOf(1).eventChannelMask, 0x800u);
    QVERIFY(!module(0)->writes().join(' ').contains("setEventMask"));

    m_window->serviceDesk()->programNewBaseAddress(); // cancelled
    QVERIFY(m_dialogs.labels().last().startsWith(QStringLiteral("memory 0x4400, serial 0\n\n")));
}

void ServiceWindowTest::liveInsertionMovesSelection()
{
    openWindow({{1, 0x4000, false}, {2, 0x5000, false}});
    openSpecial();
    auto* list = child<QListWidget>(m_window.get(), "lstModules");
    for (int expected : {1, 0}) {
        m_window->serviceDesk()->setSpecialControl(12);
        QCOMPARE(m_window->deviceSession()->currentModuleIndex(), expected);
        QCOMPARE(list->currentRow(), expected);
    }
}

void ServiceWindowTest::requestsThatDoNotArrive()
{
    openWindow({{1, 0x4000, false}});
    DialogSpecial* dialog = openSpecial();
    auto* info = child<QLabel>(dialog, "txtInfo");
    {
        // A module object the window does not list (gone with a rediscovery).
        MemoryModule gone(12, 20, 1);
        dialog->setTarget(&gone, 1, QStringLiteral("gone"));
        child<QPushButton>(dialog, "btnStandby")->click();
        QCOMPARE(info->text(), QStringLiteral("The module this dialog was opened for is gone: nothing was sent to it."));
        QVERIFY(!module(0)->writes().join(' ').contains("setSpecialControlCommand"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(dialog->target(), module(0), 2000); // follows the current module again
    module(0)->refuse("setSpecialControlCommand", "wrongValue");
    child<QPushButton>(dialog, "btnStandby")->click();
    QTRY_COMPARE_WITH_TIMEOUT(info->text(), QStringLiteral("special command 1 refused: wrongValue"), 5000);

    module(0)->refuse("setEventMask", "wrongValue");
    DialogFactory* factory = openFactory();
    child<QPushButton>(factory, "btnVmeTest")->click();
    QTRY_VERIFY_WITH_TIMEOUT(factory->log().endsWith("set module event mask 0x1 refused: wrongValue"), 5000);
}

void ServiceWindowTest::vmeMenus_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : ControllerKinds::names())
        QTest::newRow(qPrintable(kind)) << kind;
}

void ServiceWindowTest::vmeMenus()
{
    QFETCH(QString, kind);
    openWindow({{1, 0x4000, false}}, kind);
    const bool vme = ControllerKinds::reachesVmeModules(kind);
    for (const char* name : {"actionLoadProfile", "actionSaveProfile", "actionBounds", "actionVariableGroups",
             "actionInterlockOut", "actionFactorySettings", "actionSpecialMode", "actionProgramNewBaseAddress"})
        QCOMPARE(child<QAction>(m_window.get(), name)->isVisible(), vme);
}

QTEST_MAIN(ServiceWindowTest)
#include "ServiceWindowTest.moc"
