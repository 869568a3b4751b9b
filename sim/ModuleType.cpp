#include "ModuleType.h"

const std::vector<ModuleType>& ModuleType::all()
{
    // Nominal currents are typical values for modules of these voltage ranges.
    static const std::vector<ModuleType> types = {
        {"THA0830p", 20, 8, 3000, 4e-3, 'p', true},
        {"THB1620n", 21, 16, 2000, 6e-3, 'n', false},
        {"THB1620p", 21, 16, 2000, 6e-3, 'p', false},
        {"THC3210p", 22, 32, 1000, 1e-3, 'p', true},
        {"THD0860r", 23, 8, 6000, 1e-3, 'r', true},
        {"THE1640p", 24, 16, 4000, 2e-3, 'p', true},
        {"THF0810n", 25, 8, 1000, 10e-3, 'n', true},
        {"THG1605p", 26, 16, 500, 20e-3, 'p', true},
        {"THH2420p", 27, 24, 2000, 2e-3, 'p', true},
        {"THK0840p", 28, 8, 4000, 3e-3, 'p', false},
        {"THL1630n", 29, 16, 3000, 2e-3, 'n', true},
        {"THM4805p", 30, 48, 500, 1e-3, 'p', true},
        {"THN0820p", 31, 8, 2000, 8e-3, 'p', true},
        {"THP1660p", 32, 16, 6000, 1e-3, 'p', true},
        {"THR0425p", 35, 4, 2500, 6e-3, 'p', true},
        {"THS3230n", 36, 32, 3000, 0.5e-3, 'n', true},
        {"THT1615p", 37, 16, 1500, 5e-3, 'p', true},
        {"THU0860p", 38, 8, 6000, 1e-3, 'p', true},
        {"THV2410n", 39, 24, 1000, 2e-3, 'n', true},
        {"THW1640r", 40, 16, 4000, 2e-3, 'r', true},
        {"THX0830b", 41, 8, 3000, 3e-3, 'b', true},
        {"TLV1612p", 60, 16, 1200, 5e-3, 'p', true},
        {"TAD0810p", 70, 8, 1000, 10e-3, 'p', true},
        {"TMM0800m", 90, 8, 10, 1e-3, 'm', false},
    };
    return types;
}

const ModuleType* ModuleType::find(const QString& name)
{
    for (const ModuleType& type : all()) {
        if (name == QLatin1String(type.name))
            return &type;
    }
    return nullptr;
}
