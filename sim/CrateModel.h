#pragma once

#include "CrateConfig.h"

#include <QString>

#include <cstdint>
#include <random>
#include <vector>

// The state and physics of a simulated MPOD crate, without any network: main switch and boot,
// channel ramps, load currents, current limiting, the delayed current trip, external inhibit,
// emergency off and the event bookkeeping of modules and channels. Time only moves through
// advance(); the caller decides how wall-clock time maps onto simulated seconds.
//
// Bit sets returned here use MIB numbering: bit k of the result is MIB bit k.
// Not thread-safe: the simulator drives it from its single agent loop.
class CrateModel
{
public:
    // Channel switch values and their commands.
    enum SwitchValue {
        SwitchOff = 0,
        SwitchOn = 1,
        SwitchResetEmergencyOff = 2,
        SwitchEmergencyOff = 3,
        SwitchClearEvents = 10,
        MeasureNone = 20,
        MeasureExternal = 21,
        MeasureRipple = 22,
        MeasureBoth = 23,
    };
    // Group switch commands beyond the channel switch values.
    enum GroupCommand { GroupKillDisable = 4, GroupKillEnable = 5, GroupFineOff = 6, GroupFineOn = 7 };
    // Supervision actions (two bits per supervised failure).
    enum Action { ActionIgnore = 0, ActionRampDown = 1, ActionOff = 2, ActionModuleOff = 3 };
    static constexpr int allChannelsGroup = 64;

    enum class Result { Ok, WrongValue, NotWritable, Unavailable };

    struct Channel
    {
        double nominalVoltage = 0; // V, the channel's rating (may be below the module's)
        double nominalCurrent = 0; // A
        double setVoltage = 0;     // V
        double setCurrent = 0;     // A
        bool on = false;
        int group = 1;
        int behaviour = 0; // supervision behaviour word
        int tripTimeMs = 0;
        double minSenseVoltage = 0, maxSenseVoltage = 0, maxTerminalVoltage = 0;
        double maxCurrent = 0, maxPower = 0;
        int measurementMode = MeasureNone;
        double loadOhms = 10e6;
        double signalVolts = 0;

        double rampVoltage = 0;   // the ramp generator's voltage, before the current limit
        double outputVoltage = 0; // V at the terminal
        double outputCurrent = 0; // A
        bool currentLimited = false;
        double limitedMs = 0; // time spent current-limited while on
        bool inhibitInput = false;
        bool emergencyOff = false;
        bool tripEvent = false;
        bool inhibitEvent = false;
        bool switchBroken = false; // every write of its switch is refused (resourceUnavailable)

        int action(int field) const { return (behaviour >> field) & 3; }
    };

    struct Module
    {
        ModuleConfig config;
        double rampSpeedVoltagePercent = 5;
        double rampSpeedCurrentPercent = 10;
        double hardwareLimitVoltagePercent = 100;
        double hardwareLimitCurrentPercent = 100;
        bool killEnable = false;
        bool fineAdjustment = true;
        bool inputError = false;
        bool killChangedEvent = false;
        bool powerFailEvent = false;
        std::vector<Channel> channels;

        bool isMeasurement() const;
        double rampVoltsPerSecond() const;
    };

    explicit CrateModel(const CrateConfig& config);

    const CrateConfig& config() const { return m_config; }

    // Moves the simulation forward by the given simulated seconds.
    void advance(double seconds);
    double time() const { return m_time; }

    // Main switch and power. Switching on starts the boot; modules are reachable only after it.
    bool mainSwitch() const { return m_mainSwitch; }
    Result setMainSwitch(bool on);
    bool powerFailure() const { return m_powerFailure; }
    void setPowerFailure(bool failed);
    bool modulesReachable() const { return m_mainSwitch && m_booted; }
    std::uint32_t sysStatus() const;

    // Modules present in the crate and reachable now, in slot order.
    std::vector<int> reachableSlots() const;
    int outputCount() const;
    // nullptr when the slot is empty or its module is not reachable now.
    const Module* module(int slot) const;
    const Channel* channel(int slot, int channel) const;

    std::uint32_t moduleStatus(int slot) const;
    std::uint32_t moduleEventStatus(int slot) const;
    std::uint32_t channelStatus(int slot, int channel) const;
    int channelSwitch(int slot, int channel) const;

    // Measured values with the noise added when noise is on.
    double measuredVoltage(int slot, int channel);
    double measuredSenseVoltage(int slot, int channel);
    double measuredCurrent(int slot, int channel);

    // Commands; each checks its value against the module and channel and reports why it refuses.
    // A set voltage or current outside the nominal range also raises the module's input error.
    Result checkChannelSwitch(int slot, int channel, int value) const;
    Result switchChannel(int slot, int channel, int value);
    Result checkVoltage(int slot, int channel, double volts);
    Result setVoltage(int slot, int channel, double volts);
    Result checkCurrent(int slot, int channel, double amperes);
    Result setCurrent(int slot, int channel, double amperes);
    Result checkGroupsSwitch(int group, int command) const;
    Result groupsSwitch(int group, int command);
    Result clearModule(int slot);
    Result checkRampSpeed(int slot, double percent) const;
    Result setRampSpeedVoltage(int slot, double percent);
    Result setRampSpeedCurrent(int slot, double percent);
    // Writes any other writable channel setting (group, behaviour, trip time, limits).
    Channel* writableChannel(int slot, int channel);

    // Outside world (control channel).
    bool setInhibit(int slot, int channel, bool active);
    bool setLoad(int slot, int channel, double ohms);
    // A channel whose switch refuses every write (a fault of one channel among many).
    bool setSwitchBroken(int slot, int channel, bool broken);
    void setNoise(bool on) { m_noise = on; }
    bool noise() const { return m_noise; }

    // Crate-level values.
    int fanNominalSpeed() const { return m_fanNominalSpeed; }
    void setFanNominalSpeed(int rpm) { m_fanNominalSpeed = rpm; }
    std::uint32_t ipStaticAddress() const { return m_ipStaticAddress; }
    void setIpStaticAddress(std::uint32_t address) { m_ipStaticAddress = address; }
    int fanSpeed(int fan);
    double auxVoltage(int index) const;
    double auxCurrent(int index) const;
    static constexpr int auxCount = 6;
    static constexpr int fanCount = 6;
    static constexpr int sensorCount = 8;
    int sensorTemperature(int sensor) const;
    int fanAirTemperature() const;
    double moduleTemperature(int slot, int index) const;
    double moduleSupply(int slot, int index) const;

private:
    Module* moduleMutable(int slot);
    Channel* channelMutable(int slot, int channel);
    Channel* wiredChannel(int slot, int channel);
    Result checkSetValue(int slot, int channel, double value, bool current);
    void step(double seconds);
    void stepChannel(Module& module, Channel& channel, double seconds);
    void applyAction(Module& module, Channel& channel, int action);
    void switchOffHard(Channel& channel);
    void clearChannelEvents(Module& module, Channel& channel);
    void clearModuleEvents(Module& module);
    void powerDown();
    double limitCurrent(const Module& module, const Channel& channel) const;
    double noiseSample(double sigma);

    CrateConfig m_config;
    std::vector<Module> m_modules;
    double m_time = 0;
    bool m_mainSwitch = true;
    bool m_powerFailure = false;
    bool m_booted = true;
    double m_bootDoneAt = 0;
    bool m_noise = true;
    int m_fanNominalSpeed = 0;
    std::uint32_t m_ipStaticAddress = 0;
    std::mt19937 m_random;
};
