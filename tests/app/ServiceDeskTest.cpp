// The service desk without the main window: base address programming on the stand-in VME crate
// (moved, an address the module does not take, a module that never enters its special mode) and
// on an in-memory module that refuses the write; the special-mode dialog's words from the reads,
// their age while no read arrives, and what it shows and sends once the module stops answering.
#include "common/FindChild.h"
#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"
#include "common/ScriptedDialogs.h"
#include "common/VmeStandInConfig.h"

#include "app/ServiceDesk.h"
#include "controller/VmUsb.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/Freshness.h"
#include "device/Poller.h"
#include "device/SteadyClock.h"
#include "device/VmeControllerFactory.h"
#include "dialogs/DialogSpecial.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

// 0x4000 behaves; 0x4800 does not take a new base address; 0x4C00 never enters its special mode.
constexpr char crate[] = R"({"vmUsbSerials": ["VM0023A"], "v1718": false, "modules": [
    {"base": "0x4000", "class": 20, "channels": 2, "serial": 100},
    {"base": "0x4800", "class": 20, "channels": 2, "serial": 102, "faults": {"refuseBaseAddress": true}},
    {"base": "0x4C00", "class": 20, "channels": 2, "serial": 103, "faults": {"noSpecialMode": true}}]})";

constexpr int jobTimeoutMs = 20000;

} // namespace

class ServiceDeskTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_config.write(crate));
    }
    void cleanup()
    {
        m_desk.reset();
        m_session.reset();
        m_dialogs.answers.clear();
        m_dialogs.asked.clear();
        m_dialogs.questionAnswer = QMessageBox::No;
        m_errors.clear();
        m_refresh.clear();
    }

    void baseAddress_data();
    void baseAddress();
    void refusedAddressWrite();
    void specialWordsFollowTheReads();
    void specialWordsAgeWithoutReads();

private:
    void makeDesk(std::unique_ptr<DeviceSession> session);
    struct SpecialOnMemory
    {
        MemoryModule* memory = nullptr;
        DialogSpecial* dialog = nullptr;
        QLabel* words = nullptr;
        QLabel* special = nullptr;
    };
    // A desk on one in-memory module (special control command 0x5) with the special-mode dialog
    // open and both its words read; `dialog` is null if that fails.
    SpecialOnMemory openSpecialOnMemory();
    static QString resetQuestion()
    {
        return QStringLiteral("Module returned new address = 0x8000, which seems to be ok.\n\nDo you want to reset the "
                              "module to use this new address?");
    }
    BaseModule* module(int index) const { return m_session->modules().at(index); }

    VmeStandInConfig m_config;
    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<ServiceDesk> m_desk;
    ScriptedDialogs m_dialogs;
    QStringList m_errors;
    QList<bool> m_refresh; // refreshWanted, in order
    bool m_refreshRunning = true;
};

void ServiceDeskTest::makeDesk(std::unique_ptr<DeviceSession> session)
{
    m_session = std::move(session);
    ServiceDesk::Hooks hooks;
    hooks.dialogs = [this] { return &m_dialogs; };
    hooks.showError = [this](const QString& text) { m_errors.append(text); };
    hooks.refreshCurrentModuleNow = [this] {
        if (m_session->currentModuleIndex() >= 0)
            m_session->poller()->refreshNow(m_session->currentModuleIndex());
    };
    hooks.refreshRunning = [this] { return m_refreshRunning; };
    hooks.defaultHexFileName = [] { return QString(); };
    m_desk = std::make_unique<ServiceDesk>(m_session.get(), nullptr, std::move(hooks));
    connect(m_desk.get(), &ServiceDesk::refreshWanted, m_desk.get(), [this](bool running) {
        m_refresh.append(running);
        m_refreshRunning = running;
    });
}

ServiceDeskTest::SpecialOnMemory ServiceDeskTest::openSpecialOnMemory()
{
    SpecialOnMemory opened;
    auto* memory = new MemoryModule(2, 20, 7);
    auto session = std::make_unique<DeviceSession>(
        std::make_unique<MemoryControllerFactory>([memory] { return QVector<MemoryModule*>{memory}; }));
    if (!session->connectTo(QStringLiteral("memory")))
        return opened;
    makeDesk(std::move(session));
    memory->setSpecialControlCommand(0x5);
    m_desk->showSpecialMode();
    DialogSpecial* dialog = m_desk->specialDialog();
    if (!dialog || !dialog->isVisible() || dialog->target() != memory)
        return opened;
    opened.memory = memory;
    opened.words = child<QLabel>(dialog, "lblModuleControlStatus");
    opened.special = child<QLabel>(dialog, "lblSpecialControlStatus");
    const bool read = QTest::qWaitFor(
        [&opened] {
            return opened.words->text().startsWith(QStringLiteral("ModuleControl = 0x"))
                && opened.special->text().startsWith(QStringLiteral("SpecialControl = 0x00000005"));
        },
        5000);
    if (read)
        opened.dialog = dialog;
    return opened;
}

// The address is asked for the current module, programmed and read back, and after a Yes the
// module is reset to it; the refresh pauses while each job runs.
void ServiceDeskTest::baseAddress_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("addressAfter");
    QTest::newRow("moved") << 0 << QStringList{resetQuestion()} << 0x8000;
    QTest::newRow("address not taken")
        << 1
        << QStringList{"It seems the module did not accept our new address 0x8000.\n\nThe module returned 0xffff "
                       "instead. Giving up."}
        << 0x4800;
    QTest::newRow("no special mode") << 2
                                     << QStringList{resetQuestion(),
                                            "Can not set Module to special mode - reset is not possible!\n\nPlease try "
                                            "a hardware reset by powering the crate off/on!"}
                                     << 0x4C00;
}

void ServiceDeskTest::baseAddress()
{
    QFETCH(int, index);
    QFETCH(QStringList, messages);
    QFETCH(int, addressAfter);
    auto session = std::make_unique<DeviceSession>(std::make_unique<VmeControllerFactory<VmUsb>>());
    QVERIFY(session->connectTo(QStringLiteral("vmusb")));
    QCOMPARE(session->modules().size(), 3);
    makeDesk(std::move(session));
    m_session->setCurrentModuleIndex(index);
    QList<BaseModule*> moved;
    connect(m_desk.get(), &ServiceDesk::moduleAddressChanged, m_desk.get(), [&](BaseModule* each) { moved.append(each); });
    m_dialogs.answers = {QStringLiteral("0x8000")};
    m_dialogs.questionAnswer = QMessageBox::Yes;

    QVERIFY(m_desk->programNewBaseAddress());
    QCOMPARE(m_refresh, QList<bool>{false});
    QTRY_VERIFY_WITH_TIMEOUT(
        m_desk->serviceJobsRunning() == 0 && m_dialogs.messages().size() == messages.size(), jobTimeoutMs);
    QCOMPARE(m_dialogs.messages(), messages);
    // Paused for each job (programming, then the reset after a Yes), running again after it.
    const int jobs = messages.first() == resetQuestion() ? 2 : 1;
    QList<bool> refresh;
    for (int job = 0; job < jobs; ++job)
        refresh << false << true;
    QCOMPARE(m_refresh, refresh);
    QCOMPARE(int(module(index)->baseAddress()), addressAfter);
    QCOMPARE(moved, addressAfter == 0x8000 ? QList<BaseModule*>{module(index)} : QList<BaseModule*>());
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
}

// A write the module refuses ends the programming with its reason in red: no read-back, no
// question about a reset, the refresh runs again.
void ServiceDeskTest::refusedAddressWrite()
{
    auto* memory = new MemoryModule(2, 20, 7);
    memory->refuse(QStringLiteral("programBaseAddress"), QStringLiteral("wrongValue"));
    auto session = std::make_unique<DeviceSession>(
        std::make_unique<MemoryControllerFactory>([memory] { return QVector<MemoryModule*>{memory}; }));
    QVERIFY(session->connectTo(QStringLiteral("memory")));
    makeDesk(std::move(session));
    m_dialogs.answers = {QStringLiteral("0x8000")};
    m_dialogs.questionAnswer = QMessageBox::Yes;
    QVERIFY(m_desk->programNewBaseAddress());
    QTRY_COMPARE_WITH_TIMEOUT(m_desk->serviceJobsRunning(), 0, jobTimeoutMs);
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors.first().contains(QStringLiteral("wrongValue")), qPrintable(m_errors.first()));
    QVERIFY(m_dialogs.messages().isEmpty());
    QCOMPARE(m_refresh, (QList<bool>{false, true}));
    QVERIFY(memory->baseAddress() != 0x8000);
}

// The dialog shows the words its reads answered; once the module stops answering it shows no
// value any more, and Set Special, built from the control word, sends nothing.
void ServiceDeskTest::specialWordsFollowTheReads()
{
    const SpecialOnMemory opened = openSpecialOnMemory();
    QVERIFY(opened.dialog);
    auto [memory, dialog, words, special] = opened;

    memory->setAnswering(false);
    memory->clearWrites();
    // The next reads are not answered: no word stays shown as a value.
    QTRY_VERIFY_WITH_TIMEOUT(
        !words->text().contains(QStringLiteral("0x")) && !special->text().contains(QStringLiteral("0x")), 5000);
    child<QPushButton>(dialog, "btnSetSpecial")->click();
    QCOMPARE(child<QLabel>(dialog, "txtInfo")->text(),
        QStringLiteral("The module control word has no current reading: nothing was sent."));
    QTRY_COMPARE_WITH_TIMEOUT(words->text(), QStringLiteral("Not connected"), 5000);
    QVERIFY(memory->writes().isEmpty());
}

// While no newer read arrives the words stay the latest reading: grey once older than 0.6 s,
// "Not connected" once the module has answered nothing for 2 s; the next read shows them plain.
void ServiceDeskTest::specialWordsAgeWithoutReads()
{
    const SpecialOnMemory opened = openSpecialOnMemory();
    QVERIFY(opened.dialog);
    auto [memory, dialog, words, special] = opened;
    const auto grey = [](QLabel* label) { return label->palette().color(QPalette::WindowText) == QColor(Qt::gray); };
    QVERIFY(!grey(words) && !grey(special));

    // No more reads, neither the refresh's nor the dialog's own: the clock runs on instead.
    m_session->poller()->setTickIntervalMs(3600 * 1000);
    m_refreshRunning = false;
    QTest::qWait(300); // a read already on its way still arrives
    const QString wordsShown = words->text();
    const QString specialShown = special->text();
    SteadyClock::advanceMs(FreshnessRules::ageingAfterMs + 50);
    QTRY_VERIFY(grey(words) && grey(special));
    QCOMPARE(words->text(), wordsShown);
    QCOMPARE(special->text(), specialShown);
    SteadyClock::advanceMs(FreshnessRules::staleAfterMs);
    QTRY_COMPARE(words->text(), QStringLiteral("Not connected"));
    QCOMPARE(special->text(), QStringLiteral("Not connected"));
    QVERIFY(!grey(words) && !grey(special));
    // Without a current control word nothing is sent.
    memory->clearWrites();
    child<QPushButton>(dialog, "btnSetSpecial")->click();
    QVERIFY(memory->writes().isEmpty());

    m_session->poller()->setTickIntervalMs(Poller::tickMs);
    m_refreshRunning = true;
    QTRY_VERIFY_WITH_TIMEOUT(words->text().startsWith(QStringLiteral("ModuleControl = 0x")), 5000);
    QTRY_VERIFY(!grey(words) && !grey(special));
}

QTEST_MAIN(ServiceDeskTest)
#include "ServiceDeskTest.moc"
