#pragma once

#include "device/ControllerFactory.h"

#include <QVector>

class VmeController;

// Modules on a VME bus behind one bridge (Controller: VmUsb or V1718): the controller, one
// VmeModule per module found in the A16 space, no crate.
//
// Discovery probes the identification register (base + 0x5C, "tsmr") of every base address
// on a 0x400 grid, 0x0000 to 0xFC00, in ascending order. A module that answers gets its layout
// detected at once; bases inside the register window of a module already found (0x800 bytes for
// class 29) are not probed, since that module decodes them.
template <typename Controller>
class VmeControllerFactory : public ControllerFactory
{
public:
    static constexpr quint32 probeStep = 0x400;

    std::shared_ptr<BaseController> createController() override;
    QVector<std::shared_ptr<BaseModule>> discoverModules(const std::shared_ptr<BaseController>& controller) override;
    QVector<std::shared_ptr<BaseCrate>> createCrates(const std::shared_ptr<BaseController>& controller) override;
};

class VmUsb;
class V1718;
extern template class VmeControllerFactory<VmUsb>;
extern template class VmeControllerFactory<V1718>;
