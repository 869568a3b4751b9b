#include "MemoryControllerFactory.h"

#include "MemoryModule.h"
#include "controller/BaseController.h"
#include "device/BaseCrate.h"

namespace {
class MemoryController : public BaseController
{
public:
    bool open(const QString&) override { return true; }
    QString errorString() override { return QString(); }
    QString connectionInfo() override { return QStringLiteral("memory"); }
    QStringList stringList() override { return {}; }
    bool isConnected() override { return true; }
};
} // namespace

MemoryControllerFactory::MemoryControllerFactory(std::function<QVector<MemoryModule*>()> makeModules)
    : m_makeModules(std::move(makeModules))
{
}

std::shared_ptr<BaseController> MemoryControllerFactory::createController()
{
    return std::make_shared<MemoryController>();
}

QVector<std::shared_ptr<BaseModule>> MemoryControllerFactory::discoverModules(
    const std::shared_ptr<BaseController>& controller)
{
    QVector<std::shared_ptr<BaseModule>> modules;
    for (MemoryModule* module : m_makeModules())
        modules.append(shareModule(module, controller));
    return modules;
}

QVector<std::shared_ptr<BaseCrate>> MemoryControllerFactory::createCrates(const std::shared_ptr<BaseController>&)
{
    return {};
}
