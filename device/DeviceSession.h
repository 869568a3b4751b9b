#pragma once

#include "device/Poller.h"
#include "device/ThreadCall.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class BaseController;
class BaseCrate;
class BaseModule;
class ControllerFactory;
class QThread;

// Owns the controller, the crates and the modules of one connection, runs discovery and
// rediscovery, and owns the poller that reads them on its own thread. Lives in the GUI thread;
// Qt Core only, so tests and a windowless script runner use it too.
//
// Release protocol: before modules go away the session emits modulesAboutToBeReleased(), so
// windows and a running script let go first; the modules are then dropped (a read or a script
// call still running on them finishes safely, the objects are deleted after the last holder let
// go) and modulesReleased() follows. After a discovery modulesDiscovered() announces the new
// list.
class DeviceSession : public QObject
{
    Q_OBJECT
public:
    explicit DeviceSession(std::unique_ptr<ControllerFactory> factory, QObject* parent = nullptr);
    ~DeviceSession() override;

    // Releases everything, creates and opens a controller for `address` and, when it opened,
    // discovers the modules and crates and starts the poller. False when the controller could not
    // be opened (the controller object stays until the next release, as the window expects).
    bool connectTo(const QString& address);
    // The same without waiting: releases everything at once, creates the controller here (it
    // loads its library, nothing goes over the network) and opens and discovers on a thread of
    // its own; connectFinished() follows in this thread. A later connectInBackground(),
    // connectTo() or release() supersedes it: its outcome is dropped unseen. Connections are
    // tried one at a time.
    void connectInBackground(const QString& address);
    bool isConnecting() const;
    // Drops modules, crates and the controller (in that order), announcing first.
    void release();
    // Drops only the modules (crate switched off); controller and crates stay.
    void releaseModules();

    BaseController* controller() const;
    // The address the controller reported when it was opened (empty without one); asking the
    // controller itself would wait for a read or command in flight.
    QString controllerAddress() const;
    // The factory the next connectTo() creates the controller with (to hand it settings).
    ControllerFactory* factory() const { return m_factory.get(); }
    // GUI-thread view of the modules in slot order; valid until modulesAboutToBeReleased().
    QList<BaseModule*> modules() const;
    // True while `module` is one of modules(). Released modules may outlive their release for a
    // moment (a read still running on them); nothing meant for one may reach the crate.
    bool holds(const BaseModule* module) const;
    QList<BaseCrate*> crates() const;
    // A module shared with a holder outside the GUI thread (a script): the object stays valid for
    // the holder; after a release its operations still run safely against the old controller.
    std::shared_ptr<BaseModule> sharedModule(int index) const;

    // The module the window shows; -1 without modules.
    int currentModuleIndex() const;
    BaseModule* currentModule() const;
    void setCurrentModuleIndex(int index);

    // What `owner` needs read while it is shown (0: nothing). The poller reads the union of all
    // owners' needs; an owner that is destroyed is removed.
    void setNeeds(const QObject* owner, Poller::Needs needs);
    Poller::Needs needs() const;

    Poller* poller() const;

    // ---- One-shot reads ----
    // Reads something of the current module on the poller's thread, so the GUI thread never
    // waits for it: `read` runs there with the module and returns what to do with the result;
    // that runs later in this (the GUI) thread, unless `receiver` was destroyed meanwhile. An
    // empty function returned by `read` delivers nothing (the module did not answer). Nothing
    // happens without a current module.
    using ModuleReadResult = std::function<void()>;
    using ModuleRead = std::function<ModuleReadResult(BaseModule& module)>;
    void readCurrentModuleOnce(QObject* receiver, ModuleRead read);
    // The same for module `moduleIndex`, current or not (a procedure's module the window no
    // longer shows); nothing happens when the index names no module.
    void readModuleOnce(QObject* receiver, int moduleIndex, ModuleRead read);

    // ---- Commands ----
    // Carries out `command` with module `moduleIndex` off the GUI thread, after the commands given
    // before it and ahead of the refresh reads (Poller::runCommand); an urgent command (emergency
    // off) goes ahead of every waiting normal one. What `command` returns runs later in this
    // session's thread, unless `receiver` was destroyed meanwhile (null: no receiver to wait for).
    // When the module went away before the command's turn nothing is sent and `dropped` (may be
    // empty) runs in this session's thread instead, under the same condition.
    // Callable from any thread; `receiver` must live in this session's thread.
    using CommandResult = std::function<void()>;
    using Command = std::function<CommandResult(BaseModule& module)>;
    using Priority = Poller::Priority;
    void submitCommand(QObject* receiver, int moduleIndex, Priority priority, Command command, CommandResult dropped = {});
    // The same for the crate and its controller (main switch, fans, crate address, live
    // insertion): `command` gets the controller and the first crate (null when there is none);
    // `dropped` runs when there is no connection or it was replaced before the command's turn.
    using CrateCommand = std::function<CommandResult(BaseController& controller, BaseCrate* crate)>;
    void submitCrateCommand(QObject* receiver, Priority priority, CrateCommand command, CommandResult dropped = {});

signals:
    // The controller opened `address` (before the discovery's modulesDiscovered()).
    void connected(const QString& address);
    // The controller of the previous connection goes.
    void disconnected();
    void modulesAboutToBeReleased();
    void modulesReleased();
    void modulesDiscovered();
    void currentModuleChanged(int moduleIndex);
    // The outcome of connectInBackground(), after modulesDiscovered() when it connected.
    void connectFinished(bool connected);

private:
    struct OwnerNeeds
    {
        Poller::Needs needs;
        QMetaObject::Connection ownerDestroyed;
    };

    void updatePollerNeeds();
    // Runs `deliver` later in this session's thread unless `receiver` (when given) went away.
    std::function<void(CommandResult)> poster(QObject* receiver);
    // Runs `call` later in this session's thread; callable from any thread.
    void post(std::function<void()> call);
    // Takes over what a connection found and starts the poller.
    void install(QVector<std::shared_ptr<BaseModule>> modules, QVector<std::shared_ptr<BaseCrate>> crates);
    struct Found;
    void finishConnect(quint64 attempt, std::shared_ptr<BaseController> controller, const std::shared_ptr<Found>& found);
    void joinFinishedConnects();
    // A new controller from the factory; null when its library is unusable (reported first).
    std::shared_ptr<BaseController> createController();

    std::unique_ptr<ControllerFactory> m_factory;
    std::unique_ptr<Poller> m_poller;
    ThreadCall* m_calls; // a child: lives in this session's thread
    std::shared_ptr<BaseController> m_controller;
    QString m_controllerAddress;
    QVector<std::shared_ptr<BaseModule>> m_modules;
    QVector<std::shared_ptr<BaseCrate>> m_crates;
    int m_currentModuleIndex = -1;
    QHash<const QObject*, OwnerNeeds> m_needs;

    // ---- Connecting in the background ----
    std::atomic<quint64> m_connectAttempt{0};
    bool m_connecting = false;
    std::mutex m_connectSerial; // one open and discovery at a time (the factory is not shared)
    std::vector<std::unique_ptr<QThread>> m_connectThreads;
};
