#include "TesmarControl.h"

#include "AddressLocker.h"
#include "AutomaticDesk.h"
#include "CommandDesk.h"
#include "CommandLine.h"
#include "HistoryDesk.h"
#include "JournalDesk.h"
#include "ModuleMenuCommands.h"
#include "ProfileDesk.h"
#include "StartupScreen.h"
#include "controller/ApplicationIdentity.h"
#include "dialogs/common/UserDialogs.h"
#include "ui_TesmarControl.h"

#include "controller/BaseController.h"
#include "controller/InstallLayout.h"
#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/ControllerFactory.h"
#include "device/ControllerKinds.h"
#include "device/DeviceSession.h"
#include "service/ServiceJob.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace {
// "CloseBehavior" values; any value other than these acts as RampDownWithoutAsking.
enum CloseBehavior { AskBeforeClosing = 0, RampDownWithoutAsking = 1, NeverRampDown = 2 };

// Where the window layout is kept in the main settings.
const QString windowGeometryKey = QStringLiteral("Window/Geometry");
const QString channelColumnsKey = QStringLiteral("Window/ChannelColumns");

// Exit status when the user cancels the address-conflict dialog at start-up.
constexpr int exitCodeAddressConflictCancelled = 2;

// Four decimal numbers 0..255 without leading zeros (which some resolvers read as octal, so
// "010.0.0.1" could name 8.0.0.1) and nothing around them.
bool isStrictDottedQuad(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
            return false;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}
} // namespace

TesmarControl::TesmarControl(QWidget* parent)
    : TesmarControl(ControllerKinds::createFactory(controllerKindRequested(QCoreApplication::arguments())),
        controllerKindRequested(QCoreApplication::arguments()), parent)
{
}

TesmarControl::TesmarControl(std::unique_ptr<ControllerFactory> factory, QWidget* parent)
    : TesmarControl(std::move(factory), QString::fromLatin1(ControllerKinds::defaultKind), parent)
{
}

TesmarControl::TesmarControl(std::unique_ptr<ControllerFactory> factory, const QString& controllerKind, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::TesmarControl)
    , refreshTimer(new QTimer(this))
    , session(std::make_unique<DeviceSession>(std::move(factory)))
    , statusLabelLiveInsertion(new QLabel(this))
    , statusLabelMiddle(new QLabel(this))
    , statusLabelController(new QLabel(this))
    , ownDialogs(std::make_unique<UserDialogs>())
    , userDialogs(ownDialogs.get())
    , vmeModules(ControllerKinds::reachesVmeModules(controllerKind))
{
    // The address conflict is asked below, before anyone could call setUserDialogs.
    if (UserDialogs* startup = UserDialogs::startupOverride())
        userDialogs = startup;

    ui->setupUi(this);
    setUpCommands();
    setWindowIcon(StartupScreen::windowIcon());

    retranslateFrame();

    if (specialModeRequested(QCoreApplication::arguments()))
        ui->actionSpecialMode->setEnabled(true);

    moduleRefreshDue = false;
    // Whoever releases the modules, the list lets go of them first.
    connect(session.get(), &DeviceSession::modulesAboutToBeReleased, this, &TesmarControl::forgetModules);
    ui->table->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->lstModules->setContextMenuPolicy(Qt::CustomContextMenu);

    refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    refreshTimer->setInterval(200);
    connect(refreshTimer, &QTimer::timeout, this, &TesmarControl::refreshChannelTable);
    setUpProfileDesks();

    ui->table->setFocus();
    connect(ui->table, &ChannelTable::cellDataChanged, this, &TesmarControl::tableCellDataChanged);

    applyStartVisibility();
    new JournalDesk(this, ui->menuSystem);

    statusLabelLiveInsertion->setObjectName(QStringLiteral("statusLabelLiveInsertion"));
    statusLabelMiddle->setObjectName(QStringLiteral("statusLabelMiddle"));
    statusLabelController->setObjectName(QStringLiteral("statusLabelController"));
    statusBar()->addPermanentWidget(statusLabelLiveInsertion);
    statusBar()->addPermanentWidget(statusLabelMiddle);
    statusBar()->addPermanentWidget(statusLabelController);
    setUpHistory();
    restoreWindowLayout();
    setUpCrateCommands();
    setUpServiceDesk();

    crateIpAddress = storedCrateAddress();
    claimCrateAddress();

    initModuleAccess();
}

TesmarControl::~TesmarControl()
{
    refreshTimer->stop();
    m_automaticDesk->stopTimer();
    delete refreshTimer;
    refreshTimer = nullptr;

    // Tool windows go before the devices: a running script (script console) calls into the
    // first module from its own thread and has to be stopped while the module still exists.
    const QList<QWidget*> children = findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->isWindow())
            delete child;
    }

    // unlock removes only entries this process holds, so trying both the address the controller
    // reports and the one claimed at start-up is harmless and covers a failed connection.
    AddressLocker locker;
    if (session->controller())
        locker.unlock(session->controllerAddress());
    locker.unlock(crateIpAddress);

    // Its jobs go before the modules they act on.
    delete m_serviceDesk;
    m_serviceDesk = nullptr;
    releaseModuleAccess();
    // Before the widgets: the session announces its releases to this window.
    session.reset();
    delete ui;
}

QString TesmarControl::applicationName()
{
    return QString::fromLatin1(ApplicationIdentity::applicationName);
}

QString TesmarControl::version()
{
    return QString::fromLatin1(ApplicationIdentity::version);
}

bool TesmarControl::specialModeRequested(const QStringList& arguments)
{
    return CommandLine::parse(arguments).specialModeRequested();
}

QString TesmarControl::controllerKindRequested(const QStringList& arguments)
{
    const QString fallback = QLatin1String(ControllerKinds::defaultKind);
    const CommandLine line = CommandLine::parse(arguments);
    if (!line.controllerKind.isEmpty())
        return line.controllerKind;
    const QString stored = ApplicationIdentity::openSettings()->value(QStringLiteral("Controller/Kind")).toString();
    if (stored.isEmpty() || ControllerKinds::isKnown(stored))
        return stored.isEmpty() ? fallback : stored;
    qWarning("Controller/Kind \"%s\" in the settings is not one of %s; using %s", qPrintable(stored),
        qPrintable(ControllerKinds::names().join(QStringLiteral(", "))), qPrintable(fallback));
    return fallback;
}

void TesmarControl::setUserDialogs(UserDialogs* dialogs)
{
    userDialogs = dialogs ? dialogs : ownDialogs.get();
}

UserDialogs* TesmarControl::dialogs() const
{
    return userDialogs;
}

// ---- Service functions ----

void TesmarControl::setUpServiceDesk()
{
    ServiceDesk::Hooks hooks;
    hooks.dialogs = [this] { return dialogs(); };
    hooks.showError = [this](const QString& text) { showCommandMessage(text); };
    hooks.refreshCurrentModuleNow = [this] { refreshCurrentModuleNow(); };
    hooks.refreshRunning = [this] { return refreshTimer && refreshTimer->isActive(); };
    hooks.defaultHexFileName = [this] {
        return ApplicationIdentity::openSettings()->value(QStringLiteral("DefaultHexFileName")).toString();
    };
    m_serviceDesk = new ServiceDesk(session.get(), this, std::move(hooks), this);
    connect(m_serviceDesk, &ServiceDesk::refreshWanted, this, [this](bool running) {
        if (!refreshTimer)
            return;
        if (running)
            refreshTimer->start();
        else
            refreshTimer->stop();
    });
    connect(m_serviceDesk, &ServiceDesk::moduleRowWanted, this, &TesmarControl::selectModuleRow);
    connect(m_serviceDesk, &ServiceDesk::moduleAddressChanged, this, &TesmarControl::showModuleAddress);
    connect(ui->actionSpecialMode, &QAction::triggered, m_serviceDesk, &ServiceDesk::showSpecialMode);
    connect(ui->actionFactorySettings, &QAction::triggered, m_serviceDesk, &ServiceDesk::showFactorySettings);
    connect(ui->actionProgramNewBaseAddress, &QAction::triggered, m_serviceDesk, &ServiceDesk::programNewBaseAddress);
}

ServiceDesk* TesmarControl::serviceDesk() const
{
    return m_serviceDesk;
}

void TesmarControl::retranslateFrame()
{
    setWindowTitle(tr("%1 Version %2").arg(applicationName(), version()));
}

void TesmarControl::restoreWindowLayout()
{
    const std::unique_ptr<QSettings> settings = ApplicationIdentity::openSettings();
    if (!restoreGeometry(settings->value(windowGeometryKey).toByteArray())) {
        // The form's size is a default, in device-independent pixels: on a small or strongly
        // scaled screen it is cut to what the screen offers.
        QSize size = geometry().size();
        if (const QScreen* screen = this->screen())
            size = size.boundedTo(screen->availableSize()).expandedTo(minimumSize());
        resize(size);
    }
    QHeaderView* header = ui->table->horizontalHeader();
    if (!header->restoreState(settings->value(channelColumnsKey).toByteArray())
        || header->count() != ChannelTable::ColumnCount)
        ui->table->applyDefaultColumnWidths();
    // A stored state may come from a stretch layout of an older version.
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
}

void TesmarControl::saveWindowLayout() const
{
    const std::unique_ptr<QSettings> settings = ApplicationIdentity::openSettings();
    settings->setValue(windowGeometryKey, saveGeometry());
    settings->setValue(channelColumnsKey, ui->table->horizontalHeader()->saveState());
}

void TesmarControl::applyStartVisibility()
{
    // "Script..." stays visible: nothing else would ever show it, and an operator needs the
    // console (and its Stop button) to run and stop scripts.
    QAction* const hidden[] = {
        ui->actionLoadProfile,
        ui->actionSaveProfile,
        ui->actionSystemReset,
        ui->actionSetLiveInsertion,
        ui->actionAdcSampleRate,
        ui->actionDigitalFilter,
        ui->actionVariableGroups,
        ui->actionFactorySettings,
        ui->actionSpecialMode,
        ui->actionProgramNewBaseAddress,
        ui->actionInterlockOut,
        ui->actionSetFineAdjustmentOn,
        ui->actionSetFineAdjustmentOff,
        ui->actionBounds,
        ui->actionSetChannelNominalValues,
    };
    for (QAction* action : hidden)
        action->setVisible(false);
    ui->actionAutomatic->setVisible(true);
    // What only VME modules serve: their profiles, bounds, variable groups, interlock out and
    // the service functions. Enabling stays with the service-mode gates.
    if (vmeModules) {
        QAction* const vmeActions[] = {
            ui->actionLoadProfile,
            ui->actionSaveProfile,
            ui->actionBounds,
            ui->actionVariableGroups,
            ui->actionInterlockOut,
            ui->actionFactorySettings,
            ui->actionSpecialMode,
            ui->actionProgramNewBaseAddress,
        };
        for (QAction* action : vmeActions)
            action->setVisible(true);
    }
}

QString TesmarControl::storedCrateAddress() const
{
    const QString fallback = QString::fromLatin1(ApplicationIdentity::defaultCrateAddress);
    const QVariant stored = ApplicationIdentity::openSettings()->value(QStringLiteral("IpAddress"));
    if (!stored.isValid())
        return fallback;
    const QString address = stored.toString();
    if (isStrictDottedQuad(address))
        return address;
    // Connecting to a malformed address would only fail, leaving "connecting..." on screen.
    qWarning("IpAddress \"%s\" in the settings is not an IPv4 address; using %s", qPrintable(address), qPrintable(fallback));
    return fallback;
}

void TesmarControl::claimCrateAddress()
{
    AddressLocker locker;
    if (locker.tryLock(crateIpAddress))
        return;

    const QString label = tr("It seems there is already a program accessing the crate with IP address %1."
                             "<ul><li>Press Ok to connect anyway.</li>"
                             "<li>Change the IP address and press Ok to connect to another MPOD.</li>"
                             "<li>Press Cancel to quit the program.</li></ul>")
                              .arg(crateIpAddress);
    StartupScreen::hideSplashScreens();
    QString address = crateIpAddress;
    if (!dialogs()->getAddress(this, applicationName(), label, &address)) {
        // Nothing is connected or locked yet; end before the window appears.
        std::fflush(nullptr);
        std::exit(exitCodeAddressConflictCancelled);
    }
    // The changed address is used for this session only; the settings keep the old one.
    crateIpAddress = address;
    locker.lock(crateIpAddress);
}

void TesmarControl::enableModuleActions(bool on)
{
    QAction* const group[] = {
        ui->actionStatistic,
        ui->actionModuleOverview,
        ui->actionSetAllModulesOn,
        ui->actionSetAllModulesOff,
        ui->actionSetAllModulesVoltage,
        ui->actionSetAllModulesCurrent,
        ui->actionSetAllModulesVoltageRamp,
        ui->actionSetAllModulesCurrentRamp,
        ui->actionClearAllModulesEvents,
        ui->actionSetAllModulesEmergencyOff,
        ui->actionClearAllModulesEmergencyOff,
        ui->actionSetModulesVoltageRamp,
        ui->actionSetModulesCurrentRamp,
        ui->actionClearAllEvents,
        ui->actionModuleStatusControl,
    };
    for (QAction* action : group)
        action->setEnabled(on);

    ui->menuModule->setEnabled(on);
    ui->menuModuleLoadModule->setEnabled(on);
    for (QAction* action : ui->menuInstructions_for_all_Channels->actions()) {
        if (!action->isSeparator())
            action->setEnabled(on);
    }

    ui->menuChannel->setEnabled(on);
    ui->menuChannelLoadModule->setEnabled(on);
    for (QAction* action : ui->menuChannel->actions()) {
        if (action->isSeparator() || action->menu())
            continue;
        if (action == ui->actionBounds || action == ui->actionSetChannelNominalValues)
            continue;
        action->setEnabled(on);
    }

    if (on) {
        ui->actionCrates->setEnabled(true);
        ui->menuSystem->setEnabled(true);
    }
}

void TesmarControl::closeEvent(QCloseEvent* event)
{
    const int behavior =
        ApplicationIdentity::openSettings()->value(QStringLiteral("CloseBehavior"), int(AskBeforeClosing)).toInt();
    const bool refreshWasRunning = refreshTimer->isActive();
    refreshTimer->stop();

    bool rampDown = false;
    if (behavior == AskBeforeClosing) {
        if (!session->modules().isEmpty() && !closingOnTermination) {
            const QMessageBox::StandardButton answer = dialogs()->question(this, applicationName(),
                tr("Ramp down all high voltages?"), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            if (answer == QMessageBox::Yes) {
                rampDown = true;
            } else if (answer != QMessageBox::No) {
                // Cancel, or the box closed without an answer: keep running as before.
                if (refreshWasRunning)
                    refreshTimer->start();
                event->ignore();
                return;
            }
        }
    } else if (behavior != NeverRampDown) {
        rampDown = true;
    }

    if (rampDown)
        rampDownAllModules();
    saveWindowLayout();
    event->accept();
}

void TesmarControl::cancelOpenDialogs()
{
    // A modal dialog runs its own event loop; the window can only go once that loop ended.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            dialog->reject();
    }
}

bool TesmarControl::closeOnTermination()
{
    closingOnTermination = true;
    cancelOpenDialogs();
    const bool closed = close();
    closingOnTermination = false;
    if (closed)
        QCoreApplication::quit(); // tool windows that are still open do not keep it running
    return closed;
}

void TesmarControl::rampDownAllModules()
{
    const WriteSource source("close");
    // The modules ramp their channels down by themselves once switched off.
    moduleCommands->switchAllModules(BaseModule::SwitchAction::Off, tr("switch off"));
}

void TesmarControl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        retranslateFrame();
    }
    QMainWindow::changeEvent(event);
}

void TesmarControl::on_actionQuit_triggered()
{
    close();
}

void TesmarControl::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("About %1").arg(applicationName()),
        tr("<h2>%1 Version %2</h2>"
           "<p>%1 controls and monitors high voltage modules in a Wiener MPOD crate over SNMP: "
           "set and measured voltages and currents, channel and module status, ramps, trips and "
           "limits.</p>"
           "<p>Copyright &copy; Tesmar. All rights reserved.</p>"
           "<p>High voltage is dangerous. Make sure that nobody can touch the detector or its "
           "cables before switching a channel on.</p>")
            .arg(applicationName(), version()));
}

void TesmarControl::on_actionAboutQt_triggered()
{
    QMessageBox::aboutQt(this, applicationName());
}

void TesmarControl::on_actionIndex_triggered()
{
    // The working folder's manual, else (an installed program) the one installed with it.
    const QString path = InstallLayout::dataFile(QStringLiteral("documentation/index.html"));
    if (path.isEmpty()) {
        const QString expected = QDir::currentPath() + QStringLiteral("/documentation/index.html");
        dialogs()->information(this, applicationName(), tr("The help file %1 was not found.").arg(expected));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        dialogs()->information(this, applicationName(), tr("No program to show the help file %1 was found.").arg(path));
}

void TesmarControl::on_actionSystemReset_triggered()
{
}

void TesmarControl::setUpProfileDesks()
{
    const auto dialogsHook = [this] { return dialogs(); };
    ProfileDesk::Hooks profileHooks;
    profileHooks.dialogs = dialogsHook;
    profileHooks.runJob = [this](ServiceJob* job) {
        // The service desk runs it like its own procedures: the refresh pauses while any runs.
        connect(job, &ServiceJob::finished, m_serviceDesk, &ServiceDesk::serviceJobEnded);
        m_serviceDesk->startServiceJob(job, ServiceDialog::None);
    };
    profileHooks.pauseRefresh = [this] {
        const bool running = refreshTimer->isActive();
        refreshTimer->stop();
        return running;
    };
    profileHooks.resumeRefresh = [this] {
        if (refreshTimer)
            refreshTimer->start();
    };
    m_profileDesk = new ProfileDesk(session.get(), this, statusBar(), std::move(profileHooks), this);
    connect(ui->actionSaveProfile, &QAction::triggered, m_profileDesk, &ProfileDesk::saveProfile);
    connect(ui->actionLoadProfile, &QAction::triggered, m_profileDesk, &ProfileDesk::loadProfile);
    connect(ui->actionStatistic, &QAction::triggered, m_profileDesk, &ProfileDesk::showStatistic);

    AutomaticDesk::Hooks automaticHooks;
    automaticHooks.dialogs = dialogsHook;
    automaticHooks.isHeld = [this](BaseModule* module) { return session->holds(module); };
    automaticHooks.selectedChannel = [this] { return selectedChannel(); };
    m_automaticDesk = new AutomaticDesk(session.get(), this, std::move(automaticHooks), this);
    connect(ui->actionAutomatic, &QAction::triggered, m_automaticDesk, &AutomaticDesk::showWindow);
}

void TesmarControl::setUpHistory()
{
    m_history =
        new HistoryDesk(session.get(), {[this] { return dialogs(); }, [this] { return selectedChannelRows(); }}, this);
    connect(m_history, &HistoryDesk::alarmsShown, this, &TesmarControl::markAlarmRows);
    connect(m_history, &HistoryDesk::refused, this, &TesmarControl::showCommandMessage);
    connect(m_history, &HistoryDesk::statusMessage, this,
        [this](const QString& text) { statusBar()->showMessage(text, refusalMessageMs); });
    connect(ui->actionTrends, &QAction::triggered, m_history, &HistoryDesk::showTrends);
    statusBar()->insertPermanentWidget(0, m_history->alarmLabel());
    statusBar()->insertPermanentWidget(0, m_history->archiveLabel());
    ui->menuChannel->insertAction(ui->actionChannelStatusControl, m_history->setCurrentAlarmAction());
    ui->menuChannel->insertSeparator(ui->actionChannelStatusControl);
    ui->menuFile->insertAction(ui->actionPassword, m_history->exportAction());
    ui->menuFile->insertSeparator(ui->actionPassword);
    ui->menuSystem->insertAction(ui->actionSetCrateAddress, m_history->notificationAction());
    ui->menuSystem->addAction(m_history->eventsAction());
}

TrendRecorder* TesmarControl::trendRecorder() const
{
    return m_history->trendRecorder();
}

Archive* TesmarControl::archive() const
{
    return m_history->archive();
}

EventLog* TesmarControl::eventLog() const
{
    return m_history->eventLog();
}

void TesmarControl::showEvents()
{
    m_history->showEvents();
}

bool TesmarControl::selectedRowsAlarm() const
{
    return m_history->chosenChannelsAlarm(session->currentModuleIndex());
}
