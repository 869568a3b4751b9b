#pragma once

#include "device/ControllerFactory.h"

#include <QStringList>

// Modules and a crate behind an OPC server: an OpcController, one OpcModule per module item the
// server lists (in its order) and one OpcCrate.
class OpcControllerFactory : public ControllerFactory
{
public:
    // The client library's update interval: the poller's tick.
    static constexpr int updateIntervalMs = 200;

    // The crate's item name: the bus of the first module item ("bus0.module3" gives
    // "bus0.crate"); "bus0.crate" without modules.
    static QString crateItemName(const QStringList& moduleItems);

    std::shared_ptr<BaseController> createController() override;
    QVector<std::shared_ptr<BaseModule>> discoverModules(const std::shared_ptr<BaseController>& controller) override;
    QVector<std::shared_ptr<BaseCrate>> createCrates(const std::shared_ptr<BaseController>& controller) override;
};
