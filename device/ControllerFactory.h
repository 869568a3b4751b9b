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

    // A new, unopened controller. A controller whose access library cannot be loaded ends the
    // program through FatalErrorHandler (tests replace the handler).
    virtual std::shared_ptr<BaseController> createController() = 0;
    // The modules found behind an opened controller, in slot (bus) order, and the crates.
    // Each shared module keeps `controller` alive until the module object itself is destroyed,
    // and is deleted in the thread it lives in.
    virtual QVector<std::shared_ptr<BaseModule>> discoverModules(const std::shared_ptr<BaseController>& controller) = 0;
    virtual QVector<std::shared_ptr<BaseCrate>> createCrates(const std::shared_ptr<BaseController>& controller) = 0;
};
