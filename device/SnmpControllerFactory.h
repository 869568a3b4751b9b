#pragma once

#include "device/ControllerFactory.h"

// MPOD crates over SNMP: an SnmpController, one SnmpModule per occupied slot, one SnmpCrate.
class SnmpControllerFactory : public ControllerFactory
{
public:
    // Slots an MPOD crate has; a slot whose module description is empty is empty.
    static constexpr int moduleSlotCount = 10;

    std::shared_ptr<BaseController> createController() override;
    QVector<std::shared_ptr<BaseModule>> discoverModules(const std::shared_ptr<BaseController>& controller) override;
    QVector<std::shared_ptr<BaseCrate>> createCrates(const std::shared_ptr<BaseController>& controller) override;
};
