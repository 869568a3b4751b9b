#pragma once

#include <QString>
#include <QVector>

#include <memory>

class BaseController;
class BaseCrate;
class BaseModule;

// Creates the device objects of one controller kind (SNMP crate, VME bus, OPC server), so the
// session and the window never name a concrete class. One factory per kind.
class ControllerFactory
{
public:
    virtual ~ControllerFactory();

    // A new, unopened controller. One whose access library cannot be used says so in
    // libraryFailure(); the session reports that (FatalErrorHandler) and does not use it.
    virtual std::shared_ptr<BaseController> createController() = 0;
    // The modules found behind an opened controller, in slot (bus) order, and the crates.
    // Each shared module keeps `controller` alive until the module object itself is destroyed,
    // and is deleted in the thread it lives in.
    virtual QVector<std::shared_ptr<BaseModule>> discoverModules(const std::shared_ptr<BaseController>& controller) = 0;
    virtual QVector<std::shared_ptr<BaseCrate>> createCrates(const std::shared_ptr<BaseController>& controller) = 0;

protected:
    // Shares a new module or crate so that it keeps `controller` alive until the object itself
    // is destroyed. The last holder of a module deletes it when it is in the module's thread,
    // otherwise the module's thread deletes it (deleteLater).
    static std::shared_ptr<BaseModule> shareModule(BaseModule* module, std::shared_ptr<BaseController> controller);
    static std::shared_ptr<BaseCrate> shareCrate(BaseCrate* crate, std::shared_ptr<BaseController> controller);
};
