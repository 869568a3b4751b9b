#include "CrateOid.h"

namespace CrateOid {

namespace {
// enterprises.wiener(19947).crate(1)
Oid crate(std::initializer_list<unsigned long> tail)
{
    Oid oid{1, 3, 6, 1, 4, 1, 19947, 1};
    oid.insert(oid.end(), tail);
    return oid;
}
} // namespace

Oid sysDescr()
{
    return {1, 3, 6, 1, 2, 1, 1, 1, 0};
}
Oid sysMainSwitch()
{
    return crate({1, 1, 0});
}
Oid sysStatus()
{
    return crate({1, 2, 0});
}
Oid ipStaticAddress()
{
    return crate({5, 1, 12, 0});
}
Oid psSerialNumber()
{
    return crate({6, 2, 0});
}
Oid psAuxiliaryMeasurementVoltage(int auxIndex)
{
    return crate({6, 5, 1, 3, static_cast<unsigned long>(auxIndex) + 1});
}
Oid psAuxiliaryMeasurementCurrent(int auxIndex)
{
    return crate({6, 5, 1, 4, static_cast<unsigned long>(auxIndex) + 1});
}
Oid fanNominalSpeed()
{
    return crate({7, 6, 0});
}
Oid outputNumber()
{
    return crate({3, 1, 0});
}
Oid groupsNumber()
{
    return crate({3, 3, 0});
}
Oid groupsSwitch(unsigned long group)
{
    return crate({3, 4, 1, 9, group});
}

Oid output(OutputColumn column, int channelIndex)
{
    return crate({3, 2, 1, static_cast<unsigned long>(column), static_cast<unsigned long>(channelIndex) + 1});
}

Oid module(ModuleColumn column, int slot)
{
    return crate({3, 6, 1, static_cast<unsigned long>(column), static_cast<unsigned long>(slot) + 1});
}

Oid moduleSub(ModuleColumn column, int subIndex, int slot)
{
    return crate({3, 6, 1, static_cast<unsigned long>(column), static_cast<unsigned long>(subIndex),
        static_cast<unsigned long>(slot) + 1});
}

} // namespace CrateOid
