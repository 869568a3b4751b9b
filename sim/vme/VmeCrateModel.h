#pragma once

#include "VmeModuleModel.h"
#include "VmeSimConfig.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A VME crate of simulated high-voltage modules as the bridges reach it: an A16 data cycle
// (address modifier 0x29) to an address inside a module's register window goes to that module;
// any other address or modifier is a bus error (a negative code, reads give 0).
//
// Thread-safe: one mutex serialises every access (the program reads from a poller thread and
// writes from the GUI thread). It runs no threads of its own: time-dependent behaviour is
// computed from the clock on each access; tests pass a clock they drive.
class VmeCrateModel
{
public:
    // Monotonic seconds.
    using Clock = std::function<double()>;

    static constexpr int addressModifierA16 = 0x29;
    static constexpr int busError = -1;

    explicit VmeCrateModel(const VmeCrateConfig& config = VmeCrateConfig(), Clock clock = Clock());

    // Replaces the crate's contents (modules at power-on state, bridges) with a configuration.
    void load(const VmeCrateConfig& config);
    VmeCrateConfig config() const;

    // 0 on success, busError when no module answers.
    int read16(quint32 address, int addressModifier, quint16* data);
    int write16(quint32 address, int addressModifier, quint16 data);

    // VME SYSRESET: every module returns to its power-on state.
    void systemReset();

    // Base addresses of the modules, in configuration order.
    std::vector<quint16> moduleBases() const;

private:
    VmeModuleModel* moduleAt(quint32 address, int addressModifier);

    mutable std::mutex m_mutex;
    Clock m_clock;
    VmeCrateConfig m_config;
    std::vector<std::unique_ptr<VmeModuleModel>> m_modules;
};
