#pragma once

#include "CommandDesk.h"

#include "device/BaseModule.h"

#include <QObject>
#include <QString>

#include <functional>

// The Channel menu and the all-channels commands of the Module menu: switching, set values and
// their prompts, current trip, external inhibit and nominal value dialogs, the measurement bits,
// and a value typed into the channel table. Each acts on the channels the operator chose on the
// shown module (or all of its channels) through the desk, which refuses a command without a
// target in red. Prompts and dialogs start only from answered, fresh values; what the operator
// answers is sent only while the module is still held and in the units it was asked in.
//
// A child of the main window, in the GUI thread; the window connects its menu actions here.
class ChannelMenuCommands : public QObject
{
    Q_OBJECT
public:
    struct WindowHooks
    {
        // The channel the operator put the cursor on, -1 when there is none.
        std::function<int()> selectedChannel;
        // Puts the operator's cursor on `channel` of the shown module.
        std::function<void(int channel)> selectChannel;
    };

    ChannelMenuCommands(CommandDesk* desk, WindowHooks hooks, QObject* parent = nullptr);

    // A value typed into the set voltage (`voltage`) or set current column at `row`: checked
    // against the fresh reading, then sent, or refused in red.
    void writeTypedValue(int row, bool voltage, const QString& text);
    // With auto-switch measurement on: both measurements of the channel the operator just put the
    // cursor on (of `module`, the shown measurement module).
    void measureBothAtCursor(BaseModule* module, int channel);

public slots:
    // The chosen channels.
    void switchOn();
    void switchOff();
    void emergencyOff();
    void clearEmergencyOff();
    void clearEvents();
    void promptVoltage();
    void promptCurrent();
    void currentTrip();
    void inhibitAction();
    void nominalValues();
    // "Select Channel...": puts the cursor on the channel the operator names.
    void selectChannel();
    void externalMeasurementOn();
    void externalMeasurementOff();
    void rippleMeasurementOn();
    void rippleMeasurementOff();
    // Both measurements of the chosen channels on or off (the menu's check mark).
    void switchBothMeasurements(bool on);

    // Every channel of the shown module.
    void switchAllOn();
    void switchAllOff();
    void emergencyOffAll();
    void clearEmergencyOffAll();
    void promptAllVoltages();
    void promptAllCurrents();
    void currentTripAll();
    void inhibitActionAll();
    // Set voltages in steps below the nominal value, rising and falling by turns.
    void setVoltagesIncremental();

private:
    // The switch command `action` for the chosen channels, or for every channel of the shown
    // module. `removesVoltage`: tried on a module that does not answer (CommandDesk::commandTarget).
    void switchChosen(BaseModule::SwitchAction action, const QString& what, bool removesVoltage = false,
        CommandDesk::Urgency urgency = CommandDesk::Urgency::Normal);
    void switchEvery(BaseModule::SwitchAction action, const QString& what, bool removesVoltage = false,
        CommandDesk::Urgency urgency = CommandDesk::Urgency::Normal);
    // The voltage or current prompt for the chosen channels or all channels of the shown module.
    void promptChannelValue(bool voltage, bool allChannels);
    void setMeasurementControlBit(quint32 bit, bool on);
    void runInhibitDialog(bool allChannels);

    CommandDesk* m_desk;
    WindowHooks m_hooks;
    bool m_incrementalDescending = true;
};
