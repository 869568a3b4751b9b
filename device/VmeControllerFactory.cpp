#include "device/VmeControllerFactory.h"
#include "device/ControllerLock.h"

#include "controller/V1718.h"
#include "controller/VmUsb.h"
#include "device/VmeModule.h"

#include <mutex>

namespace {

// True when a module answers with its identification at `base`.
bool answersAt(VmeController& bus, quint32 base)
{
    int highCode = 0;
    int lowCode = 0;
    const quint32 address = base + VmeModule::identificationOffset;
    const quint32 high = bus.read16(address, VmeController::addressModifierA16, &highCode) & 0xFFFF;
    const quint32 low = bus.read16(address + 2, VmeController::addressModifierA16, &lowCode) & 0xFFFF;
    return highCode == 0 && lowCode == 0 && ((high << 16) | low) == VmeModule::identification;
}

} // namespace

template <typename Controller>
std::shared_ptr<BaseController> VmeControllerFactory<Controller>::createController()
{
    return std::make_shared<Controller>();
}

template <typename Controller>
QVector<std::shared_ptr<BaseModule>> VmeControllerFactory<Controller>::discoverModules(
    const std::shared_ptr<BaseController>& controller)
{
    QVector<std::shared_ptr<BaseModule>> modules;
    auto* bus = dynamic_cast<VmeController*>(controller.get());
    if (!bus)
        return modules;
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*bus));
    constexpr quint32 addressSpace = 0x10000;
    quint32 decodedUpTo = 0;
    for (quint32 base = 0; base < addressSpace; base += probeStep) {
        if (base < decodedUpTo || !answersAt(*bus, base))
            continue;
        auto* module = new VmeModule(bus, quint16(base));
        decodedUpTo = base + VmeModule::windowBytes(module->deviceClass());
        modules.append(shareModule(module, controller));
    }
    return modules;
}

template <typename Controller>
QVector<std::shared_ptr<BaseCrate>> VmeControllerFactory<Controller>::createCrates(const std::shared_ptr<BaseController>&)
{
    return {};
}

template class VmeControllerFactory<VmUsb>;
template class VmeControllerFactory<V1718>;
