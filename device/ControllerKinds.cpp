#include "device/ControllerKinds.h"

#include "device/OpcControllerFactory.h"
#include "device/SnmpControllerFactory.h"
#include "device/VmeControllerFactory.h"

#include "controller/V1718.h"
#include "controller/VmUsb.h"

#include <iterator>

namespace ControllerKinds {

namespace {

template <typename Factory>
std::unique_ptr<ControllerFactory> make()
{
    return std::make_unique<Factory>();
}

struct Kind
{
    const char* name;
    std::unique_ptr<ControllerFactory> (*create)();
    bool vmeBus;
};

constexpr Kind kinds[] = {
    {"snmp", &make<SnmpControllerFactory>, false},
    {"opc", &make<OpcControllerFactory>, false},
    {"vmusb", &make<VmeControllerFactory<VmUsb>>, true},
    {"v1718", &make<VmeControllerFactory<V1718>>, true},
};

} // namespace

QStringList names()
{
    QStringList result;
    for (const Kind& kind : kinds)
        result << QLatin1String(kind.name);
    return result;
}

bool isKnown(const QString& kind)
{
    return names().contains(kind);
}

std::unique_ptr<ControllerFactory> createFactory(const QString& kind)
{
    for (const Kind& entry : kinds) {
        if (kind == QLatin1String(entry.name))
            return entry.create();
    }
    return nullptr;
}

bool reachesVmeModules(const QString& kind)
{
    for (const Kind& entry : kinds) {
        if (kind == QLatin1String(entry.name))
            return entry.vmeBus;
    }
    return false;
}

} // namespace ControllerKinds
