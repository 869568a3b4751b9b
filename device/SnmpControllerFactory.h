#pragma once

#include "controller/SnmpConnectionSettings.h"
#include "device/ControllerFactory.h"

// MPOD crates over SNMP: an SnmpController, one SnmpModule per occupied slot, one SnmpCrate.
class SnmpControllerFactory : public ControllerFactory
{
public:
    // Slots an MPOD crate has; a slot whose module description is empty is empty.
    static constexpr int moduleSlotCount = 10;

    // What the controllers created from now on connect with.
    void setConnectionSettings(const SnmpConnectionSettings& settings) { m_connectionSettings = settings; }

    std::shared_ptr<BaseController> createController() override;
    QVector<std::shared_ptr<BaseModule>> discoverModules(const std::shared_ptr<BaseController>& controller) override;
    QVector<std::shared_ptr<BaseCrate>> createCrates(const std::shared_ptr<BaseController>& controller) override;

private:
    SnmpConnectionSettings m_connectionSettings;
};
