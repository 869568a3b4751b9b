#include "device/OpcControllerFactory.h"

#include "controller/OpcController.h"
#include "device/OpcCrate.h"
#include "device/OpcModule.h"

namespace {
OpcController* opcController(const std::shared_ptr<BaseController>& controller)
{
    return dynamic_cast<OpcController*>(controller.get());
}
} // namespace

QString OpcControllerFactory::crateItemName(const QStringList& moduleItems)
{
    const QString bus = moduleItems.isEmpty() ? QString() : moduleItems.first().section(QLatin1Char('.'), 0, 0);
    return (bus.isEmpty() ? QStringLiteral("bus0") : bus) + QStringLiteral(".crate");
}

std::shared_ptr<BaseController> OpcControllerFactory::createController()
{
    return std::make_shared<OpcController>(updateIntervalMs);
}

QVector<std::shared_ptr<BaseModule>> OpcControllerFactory::discoverModules(const std::shared_ptr<BaseController>& controller)
{
    QVector<std::shared_ptr<BaseModule>> modules;
    OpcController* opc = opcController(controller);
    if (!opc)
        return modules;
    for (const QString& name : opc->moduleList())
        modules.append(shareModule(new OpcModule(opc, name), controller));
    return modules;
}

QVector<std::shared_ptr<BaseCrate>> OpcControllerFactory::createCrates(const std::shared_ptr<BaseController>& controller)
{
    OpcController* opc = opcController(controller);
    if (!opc)
        return {};
    return {shareCrate(new OpcCrate(opc, crateItemName(opc->moduleList())), controller)};
}
