#include "device/ControllerFactory.h"

#include "controller/BaseController.h"
#include "device/BaseCrate.h"
#include "device/BaseModule.h"

#include <QThread>

namespace {
// A child of the module: children are deleted after the module's own destructor has run, so
// the controller outlives every use the module makes of it.
class ControllerKeeper : public QObject
{
public:
    ControllerKeeper(std::shared_ptr<BaseController> controller, QObject* parent)
        : QObject(parent)
        , m_controller(std::move(controller))
    {
    }

private:
    std::shared_ptr<BaseController> m_controller;
};
} // namespace

ControllerFactory::~ControllerFactory() = default;

std::shared_ptr<BaseModule> ControllerFactory::shareModule(BaseModule* module, std::shared_ptr<BaseController> controller)
{
    new ControllerKeeper(std::move(controller), module);
    return std::shared_ptr<BaseModule>(module, [](BaseModule* object) {
        if (object->thread() == QThread::currentThread())
            delete object;
        else
            object->deleteLater();
    });
}

std::shared_ptr<BaseCrate> ControllerFactory::shareCrate(BaseCrate* crate, std::shared_ptr<BaseController> controller)
{
    return std::shared_ptr<BaseCrate>(crate, [controller](BaseCrate* object) mutable {
        delete object;
        controller.reset(); // not only when the last weak reference goes
    });
}
