#include "device/SetValueCheck.h"

#include "device/BaseModule.h"
#include "device/CommandOutcome.h"
#include "device/ModuleSnapshot.h"
#include "device/ModuleTypes.h"
#include "device/NominalRange.h"

#include <cmath>

SetValueCheck SetValueCheck::ofTyped(
    const QString& text, const ModuleSnapshot* fresh, int channel, bool voltage, bool bipolar, const QString& unit)
{
    SetValueCheck check;
    bool ok = false;
    check.value = text.toFloat(&ok);
    // "nan" and "inf" convert too; neither is a value to send to a high-voltage channel.
    if (!ok || !std::isfinite(check.value)) {
        check.what = (voltage ? tr("set voltage \"%1\"") : tr("set current \"%1\"")).arg(text);
        check.refusal = tr("(not a number)");
        return check;
    }
    check.what = valueText(voltage, check.value, unit);
    const NominalRange range = fresh ? NominalRange::of(*fresh, {channel}, voltage) : NominalRange();
    if (!range.found) {
        check.refusal = tr("(no current reading of the channel)");
        return check;
    }
    const float nominal = range.largest;
    const float lowest = voltage && bipolar ? -nominal : 0.0f;
    if (check.value < lowest || check.value > nominal)
        check.refusal =
            tr("(outside %1 to %2 %3)").arg(CommandOutcome::numberText(lowest), CommandOutcome::numberText(nominal), unit);
    return check;
}

QString SetValueCheck::valueText(bool voltage, double value, const QString& unit)
{
    return (voltage ? tr("set voltage %1 %2") : tr("set current %1 %2")).arg(CommandOutcome::numberText(value), unit);
}

bool SetValueCheck::isBipolar(BaseModule& module)
{
    return module.firmwareName() == QLatin1String(ModuleTypes::bipolar);
}
