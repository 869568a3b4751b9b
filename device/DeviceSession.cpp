#include "device/DeviceSession.h"

#include "controller/BaseController.h"
#include "controller/FatalErrorHandler.h"
#include "device/BaseCrate.h"
#include "device/BaseModule.h"
#include "device/ControllerFactory.h"

#include <QThread>

#include <algorithm>

DeviceSession::DeviceSession(std::unique_ptr<ControllerFactory> factory, QObject* parent)
    : QObject(parent)
    , m_factory(std::move(factory))
    , m_poller(std::make_unique<Poller>())
    , m_calls(new ThreadCall(this))
{
}

DeviceSession::~DeviceSession()
{
    // A connection being tried ends first (its outcome is dropped with this object).
    ++m_connectAttempt;
    for (auto& thread : m_connectThreads)
        thread->wait();
    m_connectThreads.clear();
    // The poller's thread ends first (after its read in progress), so nothing reads while the
    // devices go.
    m_poller->stop();
    release();
}

bool DeviceSession::connectTo(const QString& address)
{
    release();
    m_controller = createController();
    if (!m_controller)
        return false;
    std::lock_guard<std::mutex> serial(m_connectSerial);
    const bool opened = m_controller->open(address);
    // Nothing else uses this controller yet.
    m_controllerAddress = m_controller->address();
    if (!opened)
        return false;
    install(m_factory->discoverModules(m_controller), m_factory->createCrates(m_controller));
    return true;
}

std::shared_ptr<BaseController> DeviceSession::createController()
{
    std::shared_ptr<BaseController> controller = m_factory->createController();
    // The one place a controller's unusable library is reported: the program ends there unless
    // a test's handler returns, and then there is no controller to connect.
    if (controller && FatalErrorHandler::raiseLibraryFailure(*controller))
        return nullptr;
    return controller;
}

struct DeviceSession::Found
{
    bool opened = false;
    QVector<std::shared_ptr<BaseModule>> modules;
    QVector<std::shared_ptr<BaseCrate>> crates;
};

void DeviceSession::connectInBackground(const QString& address)
{
    release();
    joinFinishedConnects();
    const quint64 attempt = m_connectAttempt.load();
    m_connecting = true;
    std::shared_ptr<BaseController> controller = createController();
    auto found = std::make_shared<Found>();
    if (!controller) {
        post([this, attempt, found] { finishConnect(attempt, nullptr, found); });
        return;
    }
    QThread* const home = thread();
    std::unique_ptr<QThread> worker(QThread::create([this, attempt, controller, address, found, home] {
        {
            std::lock_guard<std::mutex> serial(m_connectSerial);
            // Superseded while waiting for an earlier attempt: nothing is tried.
            if (m_connectAttempt.load() == attempt) {
                found->opened = controller->open(address);
                if (found->opened) {
                    found->modules = m_factory->discoverModules(controller);
                    found->crates = m_factory->createCrates(controller);
                }
            }
        }
        // The modules live in the session's thread from now on, as connectTo() makes them.
        for (const auto& module : std::as_const(found->modules))
            module->moveToThread(home);
        post([this, attempt, controller, found] { finishConnect(attempt, controller, found); });
    }));
    worker->setObjectName(QStringLiteral("Connect"));
    worker->start();
    m_connectThreads.push_back(std::move(worker));
}

bool DeviceSession::isConnecting() const
{
    return m_connecting;
}

void DeviceSession::joinFinishedConnects()
{
    m_connectThreads.erase(
        std::remove_if(m_connectThreads.begin(), m_connectThreads.end(),
            [](const std::unique_ptr<QThread>& thread) { return thread->isFinished() && thread->wait(); }),
        m_connectThreads.end());
}

void DeviceSession::finishConnect(
    quint64 attempt, std::shared_ptr<BaseController> controller, const std::shared_ptr<Found>& found)
{
    if (attempt != m_connectAttempt.load())
        return;
    m_connecting = false;
    // The controller stays also when it could not be opened, as after connectTo().
    m_controller = std::move(controller);
    // Nothing else uses this controller yet (the poller gets it below).
    m_controllerAddress = m_controller ? m_controller->address() : QString();
    if (!m_controller || !found->opened) {
        emit connectFinished(false);
        return;
    }
    install(std::move(found->modules), std::move(found->crates));
    emit connectFinished(true);
}

void DeviceSession::install(QVector<std::shared_ptr<BaseModule>> modules, QVector<std::shared_ptr<BaseCrate>> crates)
{
    emit connected(m_controllerAddress);
    m_modules = std::move(modules);
    m_crates = std::move(crates);
    m_currentModuleIndex = m_modules.isEmpty() ? -1 : 0;
    m_poller->setCurrentModule(m_currentModuleIndex);
    m_poller->setDevices(m_controller, m_modules, m_crates);
    m_poller->start();
    emit modulesDiscovered();
    emit currentModuleChanged(m_currentModuleIndex);
}

void DeviceSession::release()
{
    // A connection still being tried is superseded.
    ++m_connectAttempt;
    m_connecting = false;
    releaseModules();
    if (!m_controller && m_crates.isEmpty())
        return;
    m_poller->clearDevices();
    m_crates.clear();
    const bool wasOpen = m_controller != nullptr;
    m_controller.reset();
    m_controllerAddress.clear();
    if (wasOpen)
        emit disconnected();
}

void DeviceSession::releaseModules()
{
    if (m_modules.isEmpty())
        return;
    emit modulesAboutToBeReleased();
    // The poller lets go too; a read it has in progress keeps its own references until it ends,
    // and the last holder deletes each module in the module's thread.
    if (m_controller)
        m_poller->setDevices(m_controller, {}, m_crates);
    else
        m_poller->clearDevices();
    m_modules.clear();
    const bool hadCurrent = m_currentModuleIndex >= 0;
    m_currentModuleIndex = -1;
    m_poller->setCurrentModule(-1);
    emit modulesReleased();
    if (hadCurrent)
        emit currentModuleChanged(-1);
}

BaseController* DeviceSession::controller() const
{
    return m_controller.get();
}

QString DeviceSession::controllerAddress() const
{
    return m_controllerAddress;
}

QList<BaseModule*> DeviceSession::modules() const
{
    QList<BaseModule*> modules;
    modules.reserve(m_modules.size());
    for (const auto& module : m_modules)
        modules.append(module.get());
    return modules;
}

bool DeviceSession::holds(const BaseModule* module) const
{
    return module
        && std::any_of(m_modules.cbegin(), m_modules.cend(), [module](const auto& held) { return held.get() == module; });
}

QList<BaseCrate*> DeviceSession::crates() const
{
    QList<BaseCrate*> crates;
    crates.reserve(m_crates.size());
    for (const auto& crate : m_crates)
        crates.append(crate.get());
    return crates;
}

std::shared_ptr<BaseModule> DeviceSession::sharedModule(int index) const
{
    return m_modules.value(index);
}

int DeviceSession::currentModuleIndex() const
{
    return m_currentModuleIndex;
}

BaseModule* DeviceSession::currentModule() const
{
    return m_modules.value(m_currentModuleIndex).get();
}

void DeviceSession::setCurrentModuleIndex(int index)
{
    if (index < 0 || index >= m_modules.size() || index == m_currentModuleIndex)
        return;
    m_currentModuleIndex = index;
    m_poller->setCurrentModule(index);
    emit currentModuleChanged(index);
}

void DeviceSession::setNeeds(const QObject* owner, Poller::Needs needs)
{
    if (!owner)
        return;
    auto known = m_needs.find(owner);
    if (!needs) {
        if (known != m_needs.end()) {
            disconnect(known->ownerDestroyed);
            m_needs.erase(known);
        }
    } else if (known != m_needs.end()) {
        known->needs = needs;
    } else {
        const QMetaObject::Connection ownerDestroyed = connect(owner, &QObject::destroyed, this, [this, owner] {
            m_needs.remove(owner);
            updatePollerNeeds();
        });
        m_needs.insert(owner, OwnerNeeds{needs, ownerDestroyed});
    }
    updatePollerNeeds();
}

Poller::Needs DeviceSession::needs() const
{
    Poller::Needs all;
    for (const OwnerNeeds& owner : m_needs)
        all |= owner.needs;
    return all;
}

void DeviceSession::updatePollerNeeds()
{
    m_poller->setNeeds(needs());
}

Poller* DeviceSession::poller() const
{
    return m_poller.get();
}

// ---- One-shot reads ----

void DeviceSession::readCurrentModuleOnce(QObject* receiver, ModuleRead read)
{
    readModuleOnce(receiver, m_currentModuleIndex, std::move(read));
}

void DeviceSession::readModuleOnce(QObject* receiver, int moduleIndex, ModuleRead read)
{
    if (moduleIndex < 0 || !read)
        return;
    // The receiver is only looked at in this thread; the poller's thread merely carries its key.
    const ThreadCall::Receiver key = m_calls->receiverKey(receiver);
    m_poller->readOnce(moduleIndex, [this, key, read = std::move(read)](BaseModule& module) {
        // The session outlives every poller pass (its destructor stops the poller first), and a
        // posted call dies with it.
        m_calls->post(key, read(module));
    });
}

// ---- Commands ----

std::function<void(DeviceSession::CommandResult)> DeviceSession::poster(QObject* receiver)
{
    // Only the receiver's address and token travel through the poller's thread, never a guarded
    // pointer to it: whether it still lives is asked in this thread when the result arrives.
    const ThreadCall::Receiver key = m_calls->receiverKey(receiver);
    // The session outlives every poller pass (its destructor stops the poller first), and a
    // posted call dies with it.
    return [this, key](CommandResult deliver) { m_calls->post(key, std::move(deliver)); };
}

void DeviceSession::post(std::function<void()> call)
{
    m_calls->post(std::move(call));
}

void DeviceSession::submitCommand(
    QObject* receiver, int moduleIndex, Priority priority, Command command, CommandResult dropped)
{
    if (!command)
        return;
    auto post = poster(receiver);
    m_poller->runCommand(
        moduleIndex, priority, [post, command = std::move(command)](BaseModule& module) { post(command(module)); },
        [post, dropped = std::move(dropped)] { post(dropped); });
}

void DeviceSession::submitCrateCommand(QObject* receiver, Priority priority, CrateCommand command, CommandResult dropped)
{
    if (!command)
        return;
    auto post = poster(receiver);
    m_poller->runCrateCommand(
        priority,
        [post, command = std::move(command)](
            BaseController& controller, BaseCrate* crate) { post(command(controller, crate)); },
        [post, dropped = std::move(dropped)] { post(dropped); });
}
