#include "device/ToolWindowReading.h"

#include "device/BaseModule.h"

namespace {
bool reportsModuleWords(const BaseModule& module)
{
    using Quantity = BaseModule::Quantity;
    return module.reports(Quantity::ModuleControl) || module.reports(Quantity::ModuleEventMask)
        || module.reports(Quantity::RestartTime) || module.reports(Quantity::EventChannelWords)
        || module.reports(Quantity::EventGroupWords);
}

template <typename T, typename Read>
QVector<T> perChannel(int channels, Read read)
{
    QVector<T> values(channels);
    for (int channel = 0; channel < channels; ++channel)
        values[channel] = read(channel);
    return values;
}
} // namespace

ToolWindowReading ToolWindowReading::read(BaseModule& module, const Groups& groups)
{
    ToolWindowReading reading;
    reading.voltageUnit = module.voltageUnit(0);
    reading.currentUnit = module.currentUnit(0);
    const int channels = qMax(0, module.channelNumber());
    using Quantity = BaseModule::Quantity;
    // Each group is judged by the module's connection right after its own reads.
    if (groups.moduleWords && reportsModuleWords(module)) {
        reading.control = module.control();
        reading.eventMask = module.eventMask();
        reading.restartTime = module.restartTime();
        reading.eventChannelStatus = module.eventChannelStatus();
        reading.eventChannelMask = module.eventChannelMask();
        reading.eventGroupStatus = module.eventGroupStatus();
        reading.eventGroupMask = module.eventGroupMask();
        reading.moduleWordsValid = module.connected();
    }
    if (groups.channelEventWords) {
        // Channel 0 first: modules that read channel words in blocks refresh them with it.
        reading.channelEventStatus = perChannel<quint32>(channels, [&](int c) { return module.channelEventStatus(c); });
        reading.channelEventMask = perChannel<quint32>(channels, [&](int c) { return module.channelEventMask(c); });
        reading.channelEventWordsValid = module.connected();
    }
    if (groups.hardwareNominals) {
        reading.voltageHardwareNominal =
            perChannel<float>(channels, [&](int c) { return module.channelVoltageHardwareNominal(c); });
        reading.currentHardwareNominal =
            perChannel<float>(channels, [&](int c) { return module.channelCurrentHardwareNominal(c); });
        reading.hardwareNominalsValid = module.connected();
    }
    if (groups.bounds && module.reports(Quantity::ChannelBounds)) {
        reading.voltageInterlockMax =
            perChannel<float>(channels, [&](int c) { return module.channelVoltageInterlockMaxSet(c); });
        reading.voltageInterlockMin =
            perChannel<float>(channels, [&](int c) { return module.channelVoltageInterlockMinSet(c); });
        reading.currentInterlockMax =
            perChannel<float>(channels, [&](int c) { return module.channelCurrentInterlockMaxSet(c); });
        reading.currentInterlockMin =
            perChannel<float>(channels, [&](int c) { return module.channelCurrentInterlockMinSet(c); });
        reading.boundsValid = module.connected();
    }
    if (groups.interlockOut && module.reports(Quantity::InterlockOut)) {
        reading.interlockStatus = module.GetModuleIlkOutStatus();
        reading.interlockControl = module.GetModuleIlkOutControl();
        reading.interlockCount = module.GetModuleIlkOutCount();
        reading.interlockLastTrigger = module.GetModuleIlkOutLastTrigger();
        reading.interlockChannelActualActive = module.GetModuleIlkOutChnActualActive();
        reading.interlockChannelEverTriggered = module.GetModuleIlkOutChnEverTriggered();
        reading.interlockOutValid = module.connected();
    }
    return reading;
}

int ToolWindowReading::validGroups() const
{
    return int(moduleWordsValid) + int(channelEventWordsValid) + int(hardwareNominalsValid) + int(boundsValid)
        + int(interlockOutValid);
}

int ToolWindowReading::readableGroups(const BaseModule& module, const Groups& groups)
{
    using Quantity = BaseModule::Quantity;
    return int(groups.moduleWords && reportsModuleWords(module)) + int(groups.channelEventWords)
        + int(groups.hardwareNominals) + int(groups.bounds && module.reports(Quantity::ChannelBounds))
        + int(groups.interlockOut && module.reports(Quantity::InterlockOut));
}
