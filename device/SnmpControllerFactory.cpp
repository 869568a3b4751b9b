#include "device/SnmpControllerFactory.h"
#include "device/ControllerLock.h"

#include "controller/SnmpController.h"
#include "device/SnmpCrate.h"
#include "device/SnmpModule.h"

#include <mutex>

namespace {
// The library's text is only valid until its next call on the handle, so it is copied out
// under the controller's lock.
QString moduleDescription(SnmpController* controller, int slot)
{
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*controller));
    const char* text = controller->call(&SnmpController::getModuleDescription, slot);
    return text ? QString::fromLatin1(text) : QString();
}

SnmpController* snmpController(const std::shared_ptr<BaseController>& controller)
{
    return dynamic_cast<SnmpController*>(controller.get());
}
} // namespace

std::shared_ptr<BaseController> SnmpControllerFactory::createController()
{
    auto controller = std::make_shared<SnmpController>();
    controller->setConnectionSettings(m_connectionSettings);
    return controller;
}

QVector<std::shared_ptr<BaseModule>> SnmpControllerFactory::discoverModules(
    const std::shared_ptr<BaseController>& controller)
{
    QVector<std::shared_ptr<BaseModule>> modules;
    SnmpController* snmp = snmpController(controller);
    if (!snmp)
        return modules;
    for (int slot = 0; slot < moduleSlotCount; ++slot) {
        if (moduleDescription(snmp, slot).isEmpty())
            continue;
        modules.append(shareModule(new SnmpModule(snmp, slot), controller));
    }
    return modules;
}

QVector<std::shared_ptr<BaseCrate>> SnmpControllerFactory::createCrates(const std::shared_ptr<BaseController>& controller)
{
    SnmpController* snmp = snmpController(controller);
    if (!snmp)
        return {};
    return {shareCrate(new SnmpCrate(snmp), controller)};
}
