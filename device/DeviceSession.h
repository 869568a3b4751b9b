#pragma once

#include "device/Poller.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

class BaseController;
class BaseCrate;
class BaseModule;
class ControllerFactory;

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
    // Drops modules, crates and the controller (in that order), announcing first.
    void release();
    // Drops only the modules (crate switched off); controller and crates stay.
    void releaseModules();

    BaseController* controller() const;
    // GUI-thread view of the modules in slot order; valid until modulesAboutToBeReleased().
    QList<BaseModule*> modules() const;
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

signals:
    // The controller opened `address` (before the discovery's modulesDiscovered()).
    void connected(const QString& address);
    // The controller of the previous connection goes.
    void disconnected();
    void modulesAboutToBeReleased();
    void modulesReleased();
    void modulesDiscovered();
    void currentModuleChanged(int moduleIndex);

private:
    struct OwnerNeeds
    {
        Poller::Needs needs;
        QMetaObject::Connection ownerDestroyed;
    };

    void updatePollerNeeds();

    std::unique_ptr<ControllerFactory> m_factory;
    std::unique_ptr<Poller> m_poller;
    std::shared_ptr<BaseController> m_controller;
    QVector<std::shared_ptr<BaseModule>> m_modules;
    QVector<std::shared_ptr<BaseCrate>> m_crates;
    int m_currentModuleIndex = -1;
    QHash<const QObject*, OwnerNeeds> m_needs;
};
