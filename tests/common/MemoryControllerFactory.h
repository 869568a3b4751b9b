#pragma once

#include "device/ControllerFactory.h"

#include <functional>

class MemoryModule;

// A session of in-memory modules: `makeModules` builds the modules of each discovery (a new set
// each time, as a rediscovery would), the controller opens any address and has no crate.
class MemoryControllerFactory : public ControllerFactory
{
public:
    explicit MemoryControllerFactory(std::function<QVector<MemoryModule*>()> makeModules);

    std::shared_ptr<BaseController> createController() override;
    QVector<std::shared_ptr<BaseModule>> discoverModules(const std::shared_ptr<BaseController>& controller) override;
    QVector<std::shared_ptr<BaseCrate>> createCrates(const std::shared_ptr<BaseController>& controller) override;

private:
    std::function<QVector<MemoryModule*>()> m_makeModules;
};
