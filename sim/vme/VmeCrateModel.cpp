#include "VmeCrateModel.h"

#include <chrono>

VmeCrateModel::VmeCrateModel(const VmeCrateConfig& config, Clock clock)
    : m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); };
    }
    load(config);
}

void VmeCrateModel::load(const VmeCrateConfig& config)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = config;
    m_modules.clear();
    const double now = m_clock();
    for (const VmeModuleConfig& module : config.modules)
        m_modules.push_back(std::make_unique<VmeModuleModel>(module, now));
}

VmeCrateConfig VmeCrateModel::config() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config;
}

VmeModuleModel* VmeCrateModel::moduleAt(quint32 address, int addressModifier)
{
    if (addressModifier != addressModifierA16 || address > 0xFFFF)
        return nullptr;
    for (const auto& module : m_modules) {
        if (module->decodes(address)) {
            module->advanceTo(m_clock());
            return module.get();
        }
    }
    return nullptr;
}

int VmeCrateModel::read16(quint32 address, int addressModifier, quint16* data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    VmeModuleModel* module = moduleAt(address, addressModifier);
    const quint16 value = module ? module->read16(address - module->base()) : 0;
    if (data)
        *data = value;
    return module ? 0 : busError;
}

int VmeCrateModel::write16(quint32 address, int addressModifier, quint16 data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    VmeModuleModel* module = moduleAt(address, addressModifier);
    if (!module)
        return busError;
    module->write16(address - module->base(), data);
    return 0;
}

void VmeCrateModel::systemReset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const double now = m_clock();
    for (const auto& module : m_modules) {
        module->advanceTo(now);
        module->reset();
    }
}

std::vector<quint16> VmeCrateModel::moduleBases() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<quint16> bases;
    for (const auto& module : m_modules)
        bases.push_back(module->base());
    return bases;
}
