#include "ChannelBoundsJob.h"

#include "device/BaseModule.h"
#include "device/CommandOutcome.h"
#include "device/StatusWordBits.h"

namespace {
constexpr quint32 boundsBits = ChannelControlBit::asymmetricVoltageBounds | ChannelControlBit::asymmetricCurrentBounds;
constexpr int totalSteps = 3;
} // namespace

ChannelBoundsJob::ChannelBoundsJob(
    DeviceSession* session, BaseModule* module, int channel, const Bounds& bounds, const QString& source, QObject* parent)
    : ServiceJob(session, module, source, parent)
    , m_channel(channel)
    , m_bounds(bounds)
{
    connect(this, &ServiceJob::refused, this, [this] { m_refused = true; });
}

void ChannelBoundsJob::begin()
{
    const int channel = m_channel;
    const quint32 wanted = (m_bounds.asymmetricVoltage ? ChannelControlBit::asymmetricVoltageBounds : 0u)
        | (m_bounds.asymmetricCurrent ? ChannelControlBit::asymmetricCurrentBounds : 0u);
    setProgress(0, totalSteps, tr("Setting the bounds bits"));
    runStep([this, channel, wanted](BaseModule& module, StepWrites& writes) -> Continuation {
        if (!writes.check(module.updateChannelControl(channel, boundsBits, wanted), channel,
                tr("set bounds bits 0x%1").arg(wanted, 0, 16)))
            return [this] { finish(Refused, tr("The bounds bits were refused; no bound was written.")); };
        return [this, channel, wanted] {
            setProgress(1, totalSteps, tr("Reading the control word back"));
            pollUntil(
                QStringLiteral("channel %1 bounds bits").arg(channel), controlReadBackReads, controlReadBackWaitMs,
                [channel, wanted](BaseModule& module) {
                    quint32 control = 0;
                    return module.readChannelControl(channel, &control) && (control & boundsBits) == wanted;
                },
                [this] { writeBounds(); },
                [this, channel] { finish(GaveUp, tr("Error setting Channel %1 Control word. Giving up.").arg(channel)); });
        };
    });
}

void ChannelBoundsJob::writeBounds()
{
    setProgress(2, totalSteps, tr("Writing the bounds"));
    const int channel = m_channel;
    const Bounds bounds = m_bounds;
    runStep([this, channel, bounds](BaseModule& module, StepWrites& writes) -> Continuation {
        const QString voltageUnit = module.voltageUnit(channel);
        const QString currentUnit = module.currentUnit(channel);
        writes.check(module.setChannelVoltageInterlockMaxSet(channel, bounds.voltageMax), channel,
            tr("set voltage upper bound %1 %2").arg(CommandOutcome::numberText(bounds.voltageMax), voltageUnit));
        writes.check(module.setChannelCurrentInterlockMaxSet(channel, bounds.currentMax), channel,
            tr("set current upper bound %1 %2").arg(CommandOutcome::numberText(bounds.currentMax), currentUnit));
        if (bounds.asymmetricVoltage)
            writes.check(module.setChannelVoltageInterlockMinSet(channel, bounds.voltageMin), channel,
                tr("set voltage lower bound %1 %2").arg(CommandOutcome::numberText(bounds.voltageMin), voltageUnit));
        if (bounds.asymmetricCurrent)
            writes.check(module.setChannelCurrentInterlockMinSet(channel, bounds.currentMin), channel,
                tr("set current lower bound %1 %2").arg(CommandOutcome::numberText(bounds.currentMin), currentUnit));
        return [this] {
            setProgress(totalSteps, totalSteps, tr("Done"));
            if (m_refused)
                finish(Refused, tr("A bound was refused."));
            else
                finish();
        };
    });
}
