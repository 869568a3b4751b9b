#pragma once

#include "device/ChannelReading.h"
#include "device/ChannelSettings.h"
#include "device/LastErrors.h"
#include "device/ModuleReading.h"
#include "device/WriteJournal.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <mutex>

// One high-voltage module with a fixed number of channels, reached through some controller.
// Everything above the device model talks to modules through this interface, and it is the
// scripting surface: every operation is a public slot.
//
// Units across the interface: voltages in V, or kV when voltageUnit() is "kV"; currents in the
// unit of currentUnit() (nA, µA, mA or A); ramp speeds in % of nominal per second; module limits
// in % of nominal; supplies in V; temperatures in °C. Channels run from 0 to channelNumber() - 1;
// a channel mask has bit n for channel n.
//
// Results: every operation that writes to the device returns true when the device took it, and
// false when it refused it, did not answer, or the module does not offer the operation; then
// lastError() in the same thread says why: exactly "no answer" when the device (or the bus or
// bridge in front of it) did not answer (isNoAnswer()), the device's own reason for a refusal
// ("wrongValue", "notWritable", "noAccess", ...), "not offered by this module" otherwise.
//
// Getters answer 0 for a read that failed and cannot be told from a reading. Whatever a write is
// prepared from goes through the checked reads (readChannelControl(), readControl(),
// readChannelSettings()), and a change of some bits of a control word through
// updateChannelControl() / updateControl(), which never write back a word they could not read.
//
// Journal: every operation that sends a write to the device records it with journaled() (below):
// a "sent" line before the write goes out and its result after its succeed()/fail().
//
// Thread safety: concrete modules serialise each operation (device access and cache update) on
// their controller's mutex, so the GUI thread and a script thread may call the same module.
class BaseModule : public QObject
{
    Q_OBJECT
public:
    // What a channel does when a supervised event occurs (delayed current trip, external
    // inhibit). Travels as a 2-bit field; only the low two bits of a value are used.
    enum OutputSupervisionAction {
        IgnoreFailure = 0,
        RampDownChannel = 1,
        ShutDownChannel = 2,
        ShutDownModule = 3,
    };

    // Range in which a channel's current was measured; 0 is the high range. Other values are
    // passed through as the module reports them.
    enum CurrentMeasurementRange {
        CurrentMeasurementRangeHigh = 0,
    };

    // The main window's view of one module.
    enum ModuleConnectionState {
        ModuleStateUnknown = 0,
        ModuleStateConnected = 1,
        ModuleStateInitialised = 2,
        ModuleStateNotConnected = 3,
    };

    // The longest firmware line (Motorola S-record: "S", type, count and 255 bytes as digit
    // pairs); the loader's transfer buffer holds no more.
    static constexpr int maxHexRecordLength = 514;

    // Conversion factors between display units and volts/amperes.
    static constexpr double voltsPerKilovolt = 1000.0;
    // Amperes per display unit for current unit index 0 (nA), 1 (µA), 2 (mA), 3 (A).
    static double amperesPerCurrentUnit(int currentUnitIndex);
    // Index of a current unit text: "nA" 0, "uA" or "µA" 1, "mA" 2, anything else 3.
    static int currentUnitIndexOf(const QString& unit);
    // The micro sign followed by "A".
    static QString microAmpereUnit();

    explicit BaseModule(QObject* parent = nullptr);
    ~BaseModule() override;

    // Quantities some module kinds cannot read over their controller (their getters then answer
    // a constant): windows show them as not available instead of as readings.
    enum class Quantity {
        ModuleControl,
        ModuleEventMask,
        RestartTime,
        EventChannelWords, // event channel status and mask
        EventGroupWords,   // event group status and mask
        ChannelEventMask,
        ChannelBounds, // the four interlock bounds of a channel
        InterlockOut,  // the six interlock-out words
        AdcSampleRate,
        SupplyN12, // the module's -12 V supply
    };
    // True when the module reads `quantity` from the device. Answers without device access.
    virtual bool reports(Quantity quantity) const;

    // What the window shows of every channel, from one read cycle, in as few round trips as the
    // controller allows. The default reads through the per-channel operations, channel 0 first,
    // and counts a channel complete when channelReadComplete() says so and the module is still
    // connected() afterwards.
    virtual QVector<ChannelReading> readChannels();
    // Module-level values: ramp speeds and status words always, temperatures and supplies (with
    // the hardware limits) when asked. The default cannot tell which read failed: it marks the
    // groups it read valid when the module is still connected() afterwards.
    virtual ModuleReading readModuleValues(bool temperatures, bool supplies);

    // True for the reason an operation gives when its request was not answered (a time-out, an
    // item or bus that does not answer), as opposed to a refusal by the device.
    static bool isNoAnswer(const QString& reason);
    // True for the reason of a write nobody answered while a read right after it was answered:
    // the device ignores writes from us (for SNMP, a wrong write community), it is not gone.
    static bool isWriteNotAnswered(const QString& reason);

    // Not slots: they hand values back through pointers, which scripts cannot pass.
    //
    // Checked reads: ask the device now (no value cached before the call is used) and give the
    // value only when the device answered it. False, with lastError() set and the output left
    // untouched, otherwise; readControl() is "not offered" for module kinds without a module
    // control word. The defaults offer nothing.
    virtual bool readChannelControl(int channel, quint32* control);
    virtual bool readControl(quint32* control);
    // Everything the trip, inhibit and nominal-value dialogs start from, all read now: false
    // (lastError() set, `settings` untouched) when any one read was not answered.
    virtual bool readChannelSettings(int channel, ChannelSettings* settings);
    // The hardware nominal voltage and current of `count` channels from `first`, in the display
    // units, read now in as few requests as the controller allows. Returns how many leading
    // channels were answered (both values each; the vectors hold those); fewer than `count`
    // leaves lastError() saying why the next one was not. The default reads each channel's
    // settings (readChannelSettings()).
    virtual int readHardwareNominals(int first, int count, QVector<float>* voltages, QVector<float>* currents);
    // How many channels readHardwareNominals() reads at about the cost of one request: a caller
    // that must not hold the device side long asks for no more at once. Answers without device
    // access; 1 unless the module reads them together.
    virtual int hardwareNominalsReadTogether() const;
    // The ADC sampling rate and the digital filter setting, for the dialogs that change them.
    virtual bool readAdcSamplesPerSecond(quint32* samplesPerSecond);
    virtual bool readDigitalFilter(quint32* filter);

    // Read-modify-write of a control word as one operation under the device lock (a script
    // thread or the poller cannot come in between): reads the word fresh with the checked read,
    // writes (word & ~clearBits) | setBits through setChannelControl() / setControl() (journaled
    // as every write) and returns that write's result; `written` gets the word sent. A word that
    // would not change is not written (true, nothing journaled). When the
    // word cannot be read nothing is written and the result is false with lastError()
    // "control word not read (<reason>)".
    bool updateChannelControl(int channel, quint32 clearBits, quint32 setBits, quint32* written = nullptr);
    bool updateControl(quint32 clearBits, quint32 setBits, quint32* written = nullptr);

    // A switch command for several channels at once (switchChannels()).
    enum class SwitchAction { On, Off, EmergencyOff, ClearEmergencyOff, ClearEvents };
    // Gives each of `channels` the switch command `action` as one operation: the result has one
    // entry per channel, empty when the device took the command, otherwise the reason
    // (lastError()'s text for that channel: "no answer", "resourceUnavailable", ...). Every
    // channel's write is journaled on its own. lastError() afterwards tells the first failure.
    // The default runs the per-channel operation (setChannelOn(), ...) for each channel in
    // turn; modules whose controller can send the writes together override it.
    virtual QStringList switchChannels(const QList<int>& channels, SwitchAction action);
    // The Set value of several channels at once, in the display units; one result per channel
    // as switchChannels() gives, every channel's write journaled on its own. The default runs
    // setChannelVoltageSet() / setChannelCurrentSet() for each channel in turn.
    enum class SetQuantity { Voltage, Current };
    virtual QStringList setChannelsValue(const QList<int>& channels, SetQuantity quantity, float value);

    // Where this module's writes happen, as the write journal names it: crate address, slot and
    // serial number in a JournalWrite with the other fields empty. The default has no crate
    // address and takes address() as the slot; concrete modules override it. May take the
    // controller's lock for a moment (the crate address).
    virtual JournalWrite journalPlace();
    // Records a write this module refused before anything was sent (a value out of range, a
    // channel it does not have): one line with `reason` as its result and no "sent" line.
    // Callable from any thread.
    void journalRefusal(int channel, const QString& quantity, const QString& value, const QString& reason);

public slots:
    int deviceClass();
    void setDeviceClass(QString firmwareName);
    void setFirmwareName(int deviceClass);
    ModuleConnectionState connectionState();
    void setConnectionState(ModuleConnectionState value);

    virtual bool connected() = 0;
    // Why the latest failed operation of this module in the calling thread failed: a short
    // English text such as "wrongValue", "no answer" or "not offered by this module".
    virtual QString lastError();
    // False when the latest read of the per-channel quantities did not reach `channel` (a block
    // read that ended early): its values are then not readings and must not be shown as such.
    virtual bool channelReadComplete(int channel);
    virtual QString alarmMessage() = 0;
    virtual QString firmwareName();
    virtual bool currentControl();
    virtual int serialNumber() = 0;
    virtual QString firmwareRelease() = 0;
    virtual quint32 decoderRelease() = 0;
    virtual bool doClear() = 0;
    virtual bool setAdjustment(bool set);
    virtual bool adjustment();
    virtual QString address() = 0;
    virtual quint16 baseAddress();
    virtual void setBaseAddress(quint16 baseAddress);
    virtual float temperature(int index = 0) = 0;
    virtual float supplyP5() = 0;
    virtual float supplyP12() = 0;
    virtual float supplyN12() = 0;
    virtual quint32 adcSamplesPerSecond() = 0;
    virtual bool setAdcSamplesPerSecond(quint32 sps) = 0;
    virtual quint32 digitalFilter() = 0;
    virtual bool setDigitalFilter(quint32 filter) = 0;
    virtual float voltageLimit() = 0;
    virtual float currentLimit() = 0;
    virtual quint32 status() = 0;
    virtual quint32 eventStatus() = 0;
    virtual bool setEventStatus(quint32 status) = 0;
    virtual bool clearEventStatus() = 0;
    virtual quint32 eventChannelStatus() = 0;
    virtual bool clearEventChannelStatus() = 0;
    virtual quint32 eventChannelMask() = 0;
    virtual bool setEventChannelMask(quint32 mask) = 0;
    virtual quint32 eventGroupStatus() = 0;
    virtual quint32 eventGroupMask() = 0;
    virtual bool setEventGroupMask(quint32 mask) = 0;
    virtual bool clearEventGroupStatus() = 0;
    virtual quint32 eventMask() = 0;
    virtual bool setEventMask(quint32 mask) = 0;
    virtual quint32 control() = 0;
    virtual bool setControl(quint32 control) = 0;
    virtual float voltageRampSpeed() = 0;
    virtual bool setVoltageRampSpeed(float vramp) = 0;
    virtual float currentRampSpeed() = 0;
    virtual bool setCurrentRampSpeed(float iramp) = 0;
    virtual bool killEnable() = 0;
    virtual bool setKillEnable(bool enable) = 0;
    virtual bool fineAdjustmentOn();
    virtual bool setFineAdjustmentOn(bool on);
    virtual int channelNumber() = 0;
    virtual quint32 restartTime() = 0;
    virtual bool setRestartTime(quint32 restartTime) = 0;
    virtual bool setSelectedChannelsOn(quint32 mask) = 0;
    virtual bool setSelectedChannelsOff(quint32 mask) = 0;
    virtual bool setSelectedChannelsEmergencyOff(quint32 mask) = 0;
    virtual bool clearSelectedChannelsEmergencyOff(quint32 mask) = 0;
    virtual bool setAllChannelsVoltageSet(float vset) = 0;
    virtual bool setAllChannelsCurrentSet(float iset) = 0;
    virtual bool setAllChannelsDelayedTripAction(BaseModule::OutputSupervisionAction action, int delay);
    virtual bool setAllChannelsInhibitAction(BaseModule::OutputSupervisionAction action);
    virtual bool setChannelExternalMeasurementEnabled(int channel, bool enabled);
    virtual bool setChannelRippleMeasurementEnabled(int channel, bool enabled);
    virtual bool setChannelBothMeasurementsEnabled(int channel, bool enabled);
    virtual bool doMultiplex();
    virtual bool setResistor(int resistor);
    virtual int resistor();
    virtual quint32 channelStatus(int channel) = 0;
    virtual quint32 channelEventStatus(int channel) = 0;
    virtual bool setChannelEventStatus(int channel, quint32 status) = 0;
    virtual bool clearChannelEventStatus(int channel) = 0;
    virtual quint32 channelEventMask(int channel) = 0;
    virtual bool setChannelEventMask(int channel, quint32 mask) = 0;
    virtual quint32 channelControl(int channel) = 0;
    virtual bool setChannelControl(int channel, quint32 control) = 0;
    virtual bool setChannelEmergencyOff(int channel) = 0;
    virtual bool clearChannelEmergencyOff(int channel) = 0;
    virtual float channelVoltageNominal(int channel) = 0;
    virtual float channelCurrentNominal(int channel) = 0;
    virtual float channelVoltageSet(int channel) = 0;
    virtual bool setChannelVoltageSet(int channel, float vset) = 0;
    virtual float channelVoltageMeasure(int channel) = 0;
    virtual float channelCurrentSet(int channel) = 0;
    virtual bool setChannelCurrentSet(int channel, float iset) = 0;
    virtual bool channelDelayedTripEnabled(int channel);
    virtual bool channelDelayedTripRampDown(int channel);
    virtual int channelDelayedTripTime(int channel);
    virtual bool setChannelDelayedTripAction(int channel, BaseModule::OutputSupervisionAction action, int delay);
    virtual BaseModule::OutputSupervisionAction channelInhibitAction(int channel);
    virtual bool setChannelInhibitAction(int channel, BaseModule::OutputSupervisionAction action);
    virtual float channelCurrentMeasure(int channel) = 0;
    virtual BaseModule::CurrentMeasurementRange channelCurrentMeasurementRange(int channel);
    virtual float channelVoltageInterlockMaxSet(int channel) = 0;
    virtual bool setChannelVoltageInterlockMaxSet(int channel, float ilkmax) = 0;
    virtual float channelVoltageInterlockMinSet(int channel) = 0;
    virtual bool setChannelVoltageInterlockMinSet(int channel, float ilkmin) = 0;
    virtual float channelCurrentInterlockMaxSet(int channel) = 0;
    virtual bool setChannelCurrentInterlockMaxSet(int channel, float ilkmax) = 0;
    virtual float channelCurrentInterlockMinSet(int channel) = 0;
    virtual bool setChannelCurrentInterlockMinSet(int channel, float ilkmin) = 0;
    virtual bool setChannelOn(int channel) = 0;
    virtual bool setChannelOff(int channel) = 0;
    // Stored with the display resolution; it does not change how values are converted.
    virtual bool useControllerUnits();
    virtual void setUseControllerUnits(bool controllerUnits);
    // "%L1" in fixed notation with voltagePrecision() decimals and the locale's group separator.
    virtual QString formatVoltage(double value);
    // formatVoltage(value) + " " + voltageUnit(0), e.g. "1,234.5 V" in an English locale.
    virtual QString formatVoltageUnit(double value);
    virtual QString voltageUnit(int channel = 0);
    // "kV" (case-sensitive) selects kilovolts; anything else volts.
    virtual void setVoltageUnit(QString unit);
    virtual int voltagePrecision();
    virtual void setVoltagePrecision(int precision);
    virtual QString formatCurrent(double value);
    virtual QString formatCurrentUnit(double value);
    // "nA", "µA" (micro sign), "mA" or "A".
    virtual QString currentUnit(int channel = 0);
    virtual void setCurrentUnit(QString unit);
    virtual int currentPrecision();
    virtual void setCurrentPrecision(int precision);
    virtual bool setFlexGroup(int group, quint32 member, quint32 type) = 0;
    virtual quint32 flexGroupMemberList(int group) = 0;
    virtual quint32 flexGroupType(int group) = 0;
    virtual float channelVoltageHardwareNominal(int channel) = 0;
    virtual float channelCurrentHardwareNominal(int channel) = 0;
    // Interlock out, the nominal-value setters, the special (boot loader) mode and base-address
    // programming: only modules on a VME bus offer them. The defaults read 0 and refuse every
    // write as not offered.
    virtual quint32 GetModuleIlkOutStatus();
    virtual quint32 GetModuleIlkOutControl();
    virtual bool SetModuleIlkOutControl(quint32 control);
    virtual quint32 GetModuleIlkOutCount();
    virtual quint32 GetModuleIlkOutLastTrigger();
    virtual quint32 GetModuleIlkOutChnActualActive();
    virtual quint32 GetModuleIlkOutChnEverTriggered();
    virtual bool setChannelVoltageNominal(int channel, float maxset);
    virtual bool setChannelCurrentNominal(int channel, float maxset);
    virtual bool setSpecialControlCommand(quint32 command);
    virtual quint32 specialControlCommand();
    virtual quint32 specialControlStatus();
    // One line of a firmware file (a Motorola S-record, at most maxHexRecordLength characters;
    // longer lines are refused and nothing is sent).
    virtual bool sendHexLine(QByteArray record);
    virtual bool programBaseAddress(quint16 address);
    virtual quint16 verifyBaseAddress();

protected:
    // The lock every operation of this module takes (its controller's recursive mutex), held by
    // the read-modify-write operations for their whole duration. The default holds nothing:
    // concrete modules whose operations share a mutex override it.
    virtual std::unique_lock<std::recursive_mutex> deviceLock();

    // Record the outcome of an operation for lastError() in the calling thread; each returns the
    // operation's result.
    bool succeed();
    bool fail(const QString& reason);
    bool notOffered();
    bool noSuchChannel(int channel);
    // fail("no answer"): the one text every module kind gives for an unanswered request.
    bool noAnswer();
    // The end of a readChannelSettings() whose reads were all answered: adds what the module knows
    // without asking (current control, the units of `channel`), hands `fresh` over and succeeds.
    bool channelSettingsRead(int channel, ChannelSettings fresh, ChannelSettings* settings);

    // Records one write of this module in the write journal: its "sent" line, then `send()`
    // (which sends the write, calls succeed()/fail() and returns whether the device took it),
    // then its result line ("ok" or lastError()); returns what `send()` returned. `channel` is the
    // channel written, JournalWrite::moduleWide for module values, JournalWrite::crateWide for a
    // write that acts on every module of the crate; `value` carries its unit
    // (JournalWrite::valueText). E.g.
    //   return journaled(channel, "voltage set", JournalWrite::valueText(vset, voltageUnit()),
    //       [&] { return confirmed(controller->setVoltage(channel, vset)); });
    template <typename Send>
    bool journaled(int channel, const char* quantity, const QString& value, Send&& send)
    {
        const JournalWrite entry = journalSent(channel, quantity, value);
        return journalResult(entry, send());
    }
    // The two halves of journaled(), for a write whose sending does not fit one expression.
    JournalWrite journalSent(int channel, const char* quantity, const QString& value);
    // Runs `write` for each channel under the device lock and gives each channel's reason (empty
    // when taken); lastError() afterwards tells the first failure.
    QStringList eachChannel(const QList<int>& channels, const std::function<bool(int)>& write);
    bool journalResult(JournalWrite entry, bool ok);

    // Voltage between display unit and volts; current between display unit and amperes.
    double voltageToVolts(double displayValue) const;
    double voltageFromVolts(double volts) const;
    double currentToAmperes(double displayValue) const;
    double currentFromAmperes(double amperes) const;

    // Identity: set during construction of the concrete module, constant afterwards.
    QString m_firmwareName;
    int m_deviceClass = -1;
    // Written by the GUI thread (resolution dialog, refresh) while a script thread may convert
    // values with them: atomic so that neither ever sees a torn value.
    std::atomic<ModuleConnectionState> m_connectionState{ModuleStateUnknown};
    std::atomic<bool> m_voltageInKilovolts{false};
    std::atomic<int> m_voltagePrecision{1};
    std::atomic<int> m_currentUnitIndex{2};
    std::atomic<int> m_currentPrecision{3};
    std::atomic<bool> m_useControllerUnits{false};

private:
    LastErrors m_lastErrors;
};
