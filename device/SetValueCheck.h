#pragma once

#include <QCoreApplication>
#include <QString>

class BaseModule;
struct ModuleSnapshot;

// A set voltage or current the operator typed for one channel, checked before anything is sent:
// a number at all, and inside the channel's range. The range comes from the channel's nominal
// value in the latest fresh read only; a channel that read did not reach has no range, so the
// value is refused (a failed read's 0 is never a limit). A bipolar module's voltage may go down
// to minus its nominal value, every other value starts at 0.
class SetValueCheck
{
    Q_DECLARE_TR_FUNCTIONS(SetValueCheck)
public:
    float value = 0.0f;
    QString what;    // the command as the operator reads it: "set voltage 100 V"
    QString refusal; // "(outside 0 to 3000 V)"; empty when the value may be sent

    bool accepted() const { return refusal.isEmpty(); }

    // `fresh`: the module's latest channel read while it is fresh in `unit`, or null.
    static SetValueCheck ofTyped(
        const QString& text, const ModuleSnapshot* fresh, int channel, bool voltage, bool bipolar, const QString& unit);
    // "set voltage 100 V" / "set current 0.5 mA".
    static QString valueText(bool voltage, double value, const QString& unit);
    static bool isBipolar(BaseModule& module);
};
