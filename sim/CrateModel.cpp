#include "CrateModel.h"

#include "ModuleType.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// MIB bit numbers of the channel status.
enum ChannelBit {
    ChOn = 0,
    ChInhibit = 1,
    ChFailureMaxCurrent = 5,
    ChCurrentLimited = 10,
    ChRampUp = 11,
    ChRampDown = 12,
    ChKillEnabled = 13,
    ChEmergencyOff = 14,
    ChFineAdjusting = 15,
    ChConstantVoltage = 16,
};
// MIB bit numbers of the module status and module event status.
enum ModuleBit {
    ModFineAdjustment = 0,
    ModHighVoltageOn = 3,
    ModInputError = 6,
    ModNoSumError = 8,
    ModNoRamp = 9,
    ModSafetyLoopGood = 10,
    ModEventActive = 11,
    ModGood = 12,
    ModSuppliesGood = 13,
    ModTemperatureGood = 14,
    ModKillEnabled = 15,
};
enum ModuleEventBit { EvInputError = 6, EvKillEnableChanged = 15, EvPowerFail = 16 };
enum SysBit { SysMainOn = 0, SysInputFailure = 3 };

constexpr int tripField = 6;     // bits 6-7 of the supervision behaviour: delayed current trip
constexpr int inhibitField = 12; // bits 12-13: external inhibit
constexpr double rampEpsilonVolts = 1e-9;
constexpr double highVoltageOnVolts = 1.0;

std::uint32_t bit(int k)
{
    return std::uint32_t(1) << k;
}

bool isChannelCommand(int value)
{
    return value == CrateModel::SwitchOff || value == CrateModel::SwitchOn || value == CrateModel::SwitchResetEmergencyOff
        || value == CrateModel::SwitchEmergencyOff || value == CrateModel::SwitchClearEvents;
}

} // namespace

bool CrateModel::Module::isMeasurement() const
{
    return config.type->isMeasurement();
}

double CrateModel::Module::rampVoltsPerSecond() const
{
    return rampSpeedVoltagePercent / 100.0 * config.nominalVoltage;
}

CrateModel::CrateModel(const CrateConfig& config)
    : m_config(config)
    , m_random(config.seed)
{
    for (const ModuleConfig& moduleConfig : m_config.modules) {
        Module module;
        module.config = moduleConfig;
        module.rampSpeedVoltagePercent = moduleConfig.rampSpeedPercent;
        module.channels.resize(size_t(moduleConfig.channels));
        for (size_t i = 0; i < module.channels.size(); ++i) {
            Channel& channel = module.channels[i];
            channel.nominalVoltage = moduleConfig.channelNominalVoltage(int(i));
            channel.nominalCurrent = moduleConfig.channelNominalCurrent(int(i));
            channel.setCurrent = channel.nominalCurrent;
            channel.maxSenseVoltage = channel.nominalVoltage * 1.05;
            channel.maxTerminalVoltage = channel.nominalVoltage * 1.05;
            channel.maxCurrent = channel.nominalCurrent * 1.05;
            channel.maxPower = channel.nominalVoltage * channel.nominalCurrent;
            channel.loadOhms = moduleConfig.loadOhms[i];
            channel.signalVolts = moduleConfig.signalVolts[i];
            if (i < moduleConfig.supervisionBehaviours.size())
                channel.behaviour = moduleConfig.supervisionBehaviours[i];
        }
        m_modules.push_back(module);
    }
}

// ---- time ------------------------------------------------------------------------------------

void CrateModel::advance(double seconds)
{
    if (!(seconds > 0))
        return;
    // Small steps keep trips and ramps in the right order; the step count stays bounded so a long
    // pause at a high time scale costs a fixed amount of work.
    const double maxStep = std::max(0.005, seconds / 2000.0);
    while (seconds > 0) {
        const double dt = std::min(seconds, maxStep);
        step(dt);
        seconds -= dt;
    }
}

void CrateModel::step(double seconds)
{
    m_time += seconds;
    if (m_mainSwitch && !m_booted && m_time >= m_bootDoneAt) {
        m_booted = true;
    }
    if (!modulesReachable())
        return;
    for (Module& module : m_modules) {
        for (Channel& channel : module.channels)
            stepChannel(module, channel, seconds);
    }
}

double CrateModel::limitCurrent(const Module& module, const Channel& channel) const
{
    const double hardware = module.hardwareLimitCurrentPercent / 100.0 * channel.nominalCurrent;
    const double set = module.config.type->currentControl ? channel.setCurrent : channel.nominalCurrent;
    return std::min(set, hardware);
}

void CrateModel::stepChannel(Module& module, Channel& channel, double seconds)
{
    if (module.isMeasurement()) {
        const bool external = channel.measurementMode == MeasureExternal || channel.measurementMode == MeasureBoth;
        channel.outputVoltage = external ? channel.signalVolts : 0.0;
        channel.outputCurrent = 0;
        return;
    }
    const double target = channel.on ? channel.setVoltage : 0.0;
    const double difference = target - channel.rampVoltage;
    const double maxChange = module.rampVoltsPerSecond() * seconds;
    if (std::fabs(difference) <= maxChange)
        channel.rampVoltage = target;
    else
        channel.rampVoltage += difference > 0 ? maxChange : -maxChange;

    const double magnitude = std::fabs(channel.rampVoltage);
    const double sign = channel.rampVoltage < 0 ? -1.0 : 1.0;
    const double limit = limitCurrent(module, channel);
    double needed = 0;
    if (magnitude > 0)
        needed = channel.loadOhms > 0 ? magnitude / channel.loadOhms : std::numeric_limits<double>::infinity();
    if (needed > limit) {
        channel.currentLimited = true;
        channel.outputCurrent = sign * limit;
        channel.outputVoltage = sign * limit * channel.loadOhms;
    } else {
        channel.currentLimited = false;
        channel.outputCurrent = sign * needed;
        channel.outputVoltage = channel.rampVoltage;
    }

    if (channel.on && channel.currentLimited) {
        channel.limitedMs += seconds * 1000.0;
        const int action = channel.action(tripField);
        if (action != ActionIgnore && channel.limitedMs >= channel.tripTimeMs) {
            channel.tripEvent = true;
            applyAction(module, channel, action);
        }
    } else {
        channel.limitedMs = 0;
    }
}

void CrateModel::switchOffHard(Channel& channel)
{
    channel.on = false;
    channel.rampVoltage = 0;
    channel.outputVoltage = 0;
    channel.outputCurrent = 0;
    channel.currentLimited = false;
    channel.limitedMs = 0;
}

void CrateModel::applyAction(Module& module, Channel& channel, int action)
{
    switch (action) {
    case ActionRampDown:
        // With kill enabled a module switches a failing channel off at once instead of ramping.
        if (module.killEnable)
            switchOffHard(channel);
        else
            channel.on = false;
        break;
    case ActionOff:
        switchOffHard(channel);
        break;
    case ActionModuleOff:
        for (Channel& other : module.channels)
            switchOffHard(other);
        break;
    default:
        break;
    }
}

// ---- power -----------------------------------------------------------------------------------

CrateModel::Result CrateModel::setMainSwitch(bool on)
{
    if (m_powerFailure)
        return on ? Result::Unavailable : Result::Ok;
    if (on == m_mainSwitch)
        return Result::Ok;
    m_mainSwitch = on;
    if (!on) {
        powerDown();
        return Result::Ok;
    }
    m_booted = m_config.bootDelayMs <= 0;
    m_bootDoneAt = m_time + m_config.bootDelayMs / 1000.0;
    return Result::Ok;
}

void CrateModel::setPowerFailure(bool failed)
{
    if (failed == m_powerFailure)
        return;
    if (failed) {
        m_mainSwitch = false;
        m_powerFailure = true;
        powerDown();
        return;
    }
    // Mains are back: the crate comes up with its main switch on and boots; the modules report
    // the power failure as an event until it is cleared.
    m_powerFailure = false;
    setMainSwitch(true);
    for (Module& module : m_modules)
        module.powerFailEvent = true;
}

void CrateModel::powerDown()
{
    m_booted = false;
    for (Module& module : m_modules) {
        clearModuleEvents(module);
        for (Channel& channel : module.channels) {
            switchOffHard(channel);
            channel.emergencyOff = false;
            channel.tripEvent = false;
            channel.inhibitEvent = false;
        }
    }
}

std::uint32_t CrateModel::sysStatus() const
{
    std::uint32_t status = 0;
    if (m_mainSwitch)
        status |= bit(SysMainOn);
    if (m_powerFailure)
        status |= bit(SysInputFailure);
    return status;
}

// ---- lookup ----------------------------------------------------------------------------------

std::vector<int> CrateModel::reachableSlots() const
{
    std::vector<int> present;
    if (!modulesReachable())
        return present;
    for (const Module& module : m_modules)
        present.push_back(module.config.slot);
    return present;
}

int CrateModel::outputCount() const
{
    int count = 0;
    if (!modulesReachable())
        return 0;
    for (const Module& module : m_modules)
        count += int(module.channels.size());
    return count;
}

const CrateModel::Module* CrateModel::module(int slot) const
{
    return const_cast<CrateModel*>(this)->moduleMutable(slot);
}

CrateModel::Module* CrateModel::moduleMutable(int slot)
{
    if (!modulesReachable())
        return nullptr;
    for (Module& module : m_modules) {
        if (module.config.slot == slot)
            return &module;
    }
    return nullptr;
}

const CrateModel::Channel* CrateModel::channel(int slot, int channel) const
{
    return const_cast<CrateModel*>(this)->channelMutable(slot, channel);
}

CrateModel::Channel* CrateModel::channelMutable(int slot, int channel)
{
    Module* m = moduleMutable(slot);
    if (!m || channel < 0 || channel >= int(m->channels.size()))
        return nullptr;
    return &m->channels[size_t(channel)];
}

CrateModel::Channel* CrateModel::writableChannel(int slot, int channel)
{
    return channelMutable(slot, channel);
}

// ---- status words ----------------------------------------------------------------------------

std::uint32_t CrateModel::channelStatus(int slot, int index) const
{
    const Module* m = module(slot);
    const Channel* c = channel(slot, index);
    if (!m || !c)
        return 0;
    std::uint32_t status = 0;
    if (m->isMeasurement())
        return c->measurementMode != MeasureNone ? bit(ChOn) : 0;
    const double target = c->on ? c->setVoltage : 0.0;
    const bool ramping = std::fabs(target - c->rampVoltage) > rampEpsilonVolts;
    if (c->on)
        status |= bit(ChOn);
    if (c->inhibitInput || c->inhibitEvent)
        status |= bit(ChInhibit);
    if (c->tripEvent)
        status |= bit(ChFailureMaxCurrent);
    if (c->currentLimited)
        status |= bit(ChCurrentLimited);
    if (ramping) {
        // Up means away from zero, also for a bipolar channel crossing zero.
        const bool up = std::fabs(c->rampVoltage) < rampEpsilonVolts || (target - c->rampVoltage) * c->rampVoltage > 0;
        status |= bit(up ? ChRampUp : ChRampDown);
    }
    if (m->killEnable)
        status |= bit(ChKillEnabled);
    if (c->emergencyOff)
        status |= bit(ChEmergencyOff);
    if (m->fineAdjustment && c->on && !ramping)
        status |= bit(ChFineAdjusting);
    if (c->on && !c->currentLimited)
        status |= bit(ChConstantVoltage);
    return status;
}

int CrateModel::channelSwitch(int slot, int index) const
{
    const Module* m = module(slot);
    const Channel* c = channel(slot, index);
    if (!m || !c)
        return 0;
    if (m->isMeasurement())
        return c->measurementMode;
    if (c->emergencyOff)
        return SwitchEmergencyOff;
    return c->on ? SwitchOn : SwitchOff;
}

std::uint32_t CrateModel::moduleStatus(int slot) const
{
    const Module* m = module(slot);
    if (!m)
        return 0;
    bool ramping = false, highVoltage = false, sumError = false, channelEvent = false;
    for (const Channel& c : m->channels) {
        const double target = c.on ? c.setVoltage : 0.0;
        ramping = ramping || (!m->isMeasurement() && std::fabs(target - c.rampVoltage) > rampEpsilonVolts);
        highVoltage = highVoltage || (!m->isMeasurement() && (c.on || std::fabs(c.outputVoltage) > highVoltageOnVolts));
        sumError = sumError || c.tripEvent || c.inhibitEvent;
        channelEvent = channelEvent || c.tripEvent || c.inhibitEvent || c.emergencyOff;
    }
    std::uint32_t status = bit(ModSafetyLoopGood) | bit(ModSuppliesGood) | bit(ModTemperatureGood);
    if (m->fineAdjustment)
        status |= bit(ModFineAdjustment);
    if (highVoltage)
        status |= bit(ModHighVoltageOn);
    if (m->inputError)
        status |= bit(ModInputError);
    if (!sumError)
        status |= bit(ModNoSumError);
    if (!ramping)
        status |= bit(ModNoRamp);
    if (channelEvent || m->inputError || m->killChangedEvent || m->powerFailEvent)
        status |= bit(ModEventActive);
    if (!sumError && !m->inputError)
        status |= bit(ModGood);
    if (m->killEnable)
        status |= bit(ModKillEnabled);
    return status;
}

std::uint32_t CrateModel::moduleEventStatus(int slot) const
{
    const Module* m = module(slot);
    if (!m)
        return 0;
    std::uint32_t events = 0;
    if (m->inputError)
        events |= bit(EvInputError);
    if (m->killChangedEvent)
        events |= bit(EvKillEnableChanged);
    if (m->powerFailEvent)
        events |= bit(EvPowerFail);
    return events;
}

// ---- measurements ----------------------------------------------------------------------------

double CrateModel::noiseSample(double sigma)
{
    if (!m_noise || sigma <= 0)
        return 0;
    std::normal_distribution<double> distribution(0.0, sigma);
    return distribution(m_random);
}

double CrateModel::measuredVoltage(int slot, int index)
{
    const Module* m = module(slot);
    const Channel* c = channel(slot, index);
    if (!m || !c)
        return 0;
    if (m->isMeasurement() && c->outputVoltage == 0)
        return 0;
    return c->outputVoltage + noiseSample(1e-5 * m->config.nominalVoltage);
}

double CrateModel::measuredSenseVoltage(int slot, int index)
{
    const Module* m = module(slot);
    const Channel* c = channel(slot, index);
    if (!m || !c)
        return 0;
    if (m->isMeasurement()) {
        // The ripple measurement reads a few millivolts of ripple on the external signal.
        const bool ripple = c->measurementMode == MeasureRipple || c->measurementMode == MeasureBoth;
        return ripple ? 0.002 + std::fabs(noiseSample(0.0002)) : 0.0;
    }
    return c->outputVoltage + noiseSample(1e-5 * m->config.nominalVoltage);
}

double CrateModel::measuredCurrent(int slot, int index)
{
    const Module* m = module(slot);
    const Channel* c = channel(slot, index);
    if (!m || !c)
        return 0;
    if (m->isMeasurement())
        return 0;
    return c->outputCurrent + noiseSample(1e-6 * m->config.nominalCurrent);
}

// ---- commands --------------------------------------------------------------------------------

CrateModel::Result CrateModel::checkChannelSwitch(int slot, int index, int value) const
{
    const Module* m = module(slot);
    if (!m || !channel(slot, index) || channel(slot, index)->switchBroken)
        return Result::Unavailable;
    if (m->isMeasurement())
        return (value >= MeasureNone && value <= MeasureBoth) || value == SwitchClearEvents ? Result::Ok
                                                                                            : Result::WrongValue;
    return isChannelCommand(value) ? Result::Ok : Result::WrongValue;
}

CrateModel::Result CrateModel::switchChannel(int slot, int index, int value)
{
    const Result check = checkChannelSwitch(slot, index, value);
    if (check != Result::Ok)
        return check;
    Module& m = *moduleMutable(slot);
    Channel& c = *channelMutable(slot, index);
    switch (value) {
    case SwitchOff:
        c.on = false;
        break;
    case SwitchOn:
        // Like a crate: a channel with a pending emergency off, trip or inhibit stays off until
        // its events are cleared; the command itself is accepted.
        if (c.emergencyOff || c.tripEvent || c.inhibitEvent || (c.inhibitInput && c.action(inhibitField) != ActionIgnore))
            break;
        c.on = true;
        break;
    case SwitchResetEmergencyOff:
        c.emergencyOff = false;
        break;
    case SwitchEmergencyOff:
        switchOffHard(c);
        c.setVoltage = 0;
        c.emergencyOff = true;
        break;
    case SwitchClearEvents:
        clearChannelEvents(m, c);
        clearModuleEvents(m);
        break;
    default: // measurement modes
        c.measurementMode = value;
        stepChannel(m, c, 0);
        break;
    }
    return Result::Ok;
}

void CrateModel::clearChannelEvents(Module& module, Channel& channel)
{
    (void)module;
    channel.tripEvent = false;
    channel.emergencyOff = false;
    channel.limitedMs = 0;
    // An inhibit that is still applied raises its event again at once.
    channel.inhibitEvent = channel.inhibitInput && channel.action(inhibitField) != ActionIgnore;
}

void CrateModel::clearModuleEvents(Module& module)
{
    module.inputError = false;
    module.killChangedEvent = false;
    module.powerFailEvent = false;
}

CrateModel::Result CrateModel::checkSetValue(int slot, int index, double value, bool current)
{
    Module* m = moduleMutable(slot);
    const Channel* c = channelMutable(slot, index);
    if (!m || !c)
        return Result::Unavailable;
    if (m->isMeasurement() || (current && !m->config.type->currentControl))
        return Result::NotWritable;
    // Set values travel as single-precision floats, and so does the nominal value a client reads:
    // the nominal value itself, sent back, must pass.
    const double nominal = double(float(current ? c->nominalCurrent : c->nominalVoltage));
    const double lowest = !current && m->config.polarity == 'b' ? -nominal : 0.0;
    if (!std::isfinite(value) || value < lowest || value > nominal) {
        m->inputError = true;
        return Result::WrongValue;
    }
    return Result::Ok;
}

CrateModel::Result CrateModel::checkVoltage(int slot, int index, double volts)
{
    return checkSetValue(slot, index, volts, false);
}

CrateModel::Result CrateModel::setVoltage(int slot, int index, double volts)
{
    const Result check = checkSetValue(slot, index, volts, false);
    if (check == Result::Ok)
        channelMutable(slot, index)->setVoltage = volts;
    return check;
}

CrateModel::Result CrateModel::checkCurrent(int slot, int index, double amperes)
{
    return checkSetValue(slot, index, amperes, true);
}

CrateModel::Result CrateModel::setCurrent(int slot, int index, double amperes)
{
    const Result check = checkSetValue(slot, index, amperes, true);
    if (check == Result::Ok)
        channelMutable(slot, index)->setCurrent = amperes;
    return check;
}

CrateModel::Result CrateModel::checkGroupsSwitch(int group, int command) const
{
    if (!modulesReachable())
        return Result::Unavailable;
    if (group < 1 || group > allChannelsGroup)
        return Result::WrongValue;
    const bool known = isChannelCommand(command) || command == GroupKillDisable || command == GroupKillEnable
        || command == GroupFineOff || command == GroupFineOn;
    return known ? Result::Ok : Result::WrongValue;
}

CrateModel::Result CrateModel::groupsSwitch(int group, int command)
{
    const Result check = checkGroupsSwitch(group, command);
    if (check != Result::Ok)
        return check;
    for (Module& m : m_modules) {
        if (m.isMeasurement())
            continue;
        bool member = false;
        for (int i = 0; i < int(m.channels.size()); ++i) {
            if (group != allChannelsGroup && m.channels[size_t(i)].group != group)
                continue;
            member = true;
            if (isChannelCommand(command))
                switchChannel(m.config.slot, i, command);
        }
        if (!member)
            continue;
        if (command == GroupKillDisable || command == GroupKillEnable) {
            const bool enable = command == GroupKillEnable;
            if (m.killEnable != enable)
                m.killChangedEvent = true;
            m.killEnable = enable;
        } else if (command == GroupFineOff || command == GroupFineOn) {
            m.fineAdjustment = command == GroupFineOn;
        }
    }
    return Result::Ok;
}

CrateModel::Result CrateModel::clearModule(int slot)
{
    Module* m = moduleMutable(slot);
    if (!m)
        return Result::Unavailable;
    clearModuleEvents(*m);
    for (Channel& c : m->channels)
        clearChannelEvents(*m, c);
    return Result::Ok;
}

CrateModel::Result CrateModel::checkRampSpeed(int slot, double percent) const
{
    const Module* m = module(slot);
    if (!m)
        return Result::Unavailable;
    if (m->isMeasurement())
        return Result::NotWritable;
    if (!std::isfinite(percent) || percent <= 0 || percent > 100)
        return Result::WrongValue;
    return Result::Ok;
}

CrateModel::Result CrateModel::setRampSpeedVoltage(int slot, double percent)
{
    const Result check = checkRampSpeed(slot, percent);
    if (check == Result::Ok)
        moduleMutable(slot)->rampSpeedVoltagePercent = percent;
    return check;
}

CrateModel::Result CrateModel::setRampSpeedCurrent(int slot, double percent)
{
    const Result check = checkRampSpeed(slot, percent);
    if (check == Result::Ok)
        moduleMutable(slot)->rampSpeedCurrentPercent = percent;
    return check;
}

// ---- outside world ---------------------------------------------------------------------------

CrateModel::Channel* CrateModel::wiredChannel(int slot, int index)
{
    // The inhibit input and the load are wired to the module; they stay while the crate is off.
    for (Module& m : m_modules) {
        if (m.config.slot == slot && !m.isMeasurement() && index >= 0 && index < int(m.channels.size()))
            return &m.channels[size_t(index)];
    }
    return nullptr;
}

bool CrateModel::setSwitchBroken(int slot, int index, bool broken)
{
    Channel* c = wiredChannel(slot, index);
    if (!c)
        return false;
    c->switchBroken = broken;
    return true;
}

bool CrateModel::setInhibit(int slot, int index, bool active)
{
    Channel* c = wiredChannel(slot, index);
    if (!c)
        return false;
    const bool rising = active && !c->inhibitInput;
    c->inhibitInput = active;
    if (rising && modulesReachable()) {
        const int action = c->action(inhibitField);
        if (action != ActionIgnore) {
            c->inhibitEvent = true;
            applyAction(*moduleMutable(slot), *c, action);
        }
    }
    return true;
}

bool CrateModel::setLoad(int slot, int index, double ohms)
{
    Channel* c = wiredChannel(slot, index);
    if (!c || std::isnan(ohms) || ohms < 0)
        return false;
    c->loadOhms = ohms;
    return true;
}

// ---- crate values ----------------------------------------------------------------------------

int CrateModel::fanSpeed(int fan)
{
    if (!m_mainSwitch || fan < 0 || fan >= fanCount)
        return 0;
    const int nominal = m_fanNominalSpeed > 0 ? m_fanNominalSpeed : 2400;
    return nominal + int(std::lround(noiseSample(8.0))) + fan;
}

double CrateModel::auxVoltage(int index) const
{
    static const double volts[auxCount] = {5.0, 12.0, -12.0, 3.3, 24.0, 48.0};
    if (!m_mainSwitch || index < 0 || index >= auxCount)
        return 0;
    return volts[index];
}

double CrateModel::auxCurrent(int index) const
{
    static const double amperes[auxCount] = {2.1, 1.5, 0.4, 0.8, 3.2, 0.5};
    if (!m_mainSwitch || index < 0 || index >= auxCount)
        return 0;
    return amperes[index];
}

int CrateModel::sensorTemperature(int sensor) const
{
    return (m_mainSwitch ? 27 : 22) + sensor % 4;
}

int CrateModel::fanAirTemperature() const
{
    return m_mainSwitch ? 25 : 22;
}

double CrateModel::moduleTemperature(int slot, int index) const
{
    return 30.0 + 0.5 * slot + 0.25 * index;
}

double CrateModel::moduleSupply(int slot, int index) const
{
    (void)slot;
    return index == 0 ? 24.02 : 5.01;
}
