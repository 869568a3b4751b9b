#pragma once

#include "device/BaseModule.h"

#include <QElapsedTimer>
#include <QVector>

#include <functional>

class SnmpController;
struct SnmpChannelBlock;

// A high-voltage module in a slot of an MPOD crate, reached through the crate's SnmpController
// (not owned). Per-channel values are read in blocks: reading channel 0 of a quantity fetches it
// for all channels with one library call into a cache, and channels 1..n-1 answer from that
// cache. Setters do not touch the caches; the next read of channel 0 does.
//
// Connection truth: a module whose reads fail reports connected() false, and a failed block read
// zeroes that quantity's cache instead of leaving the previous values in place. connected()
// answers from the outcome of the latest read when it is recent (false while the latest read of
// any per-channel quantity got nothing), otherwise it probes the crate with one read of the
// module description. A block read that ended early leaves the channels after the gap at 0 and
// channelReadComplete() false for them.
//
// Every operation runs under the controller's mutex (device access and cache update together);
// callable from any thread.
class SnmpModule : public BaseModule
{
    Q_OBJECT
public:
    SnmpModule(SnmpController* controller, int slot, QObject* parent = nullptr);

    // Library bit moves into the word layouts of the module interface.
    static quint32 channelStatusFromLibrary(quint32 libraryStatus);
    static quint32 moduleStatusFromLibrary(quint32 libraryStatus);
    static quint32 moduleEventStatusFromLibrary(quint32 libraryStatus);
    // Channel control word from an output switch value, and the switch value for a control word.
    static quint32 channelControlFromSwitch(int switchValue, bool measurementModule);
    static int switchFromChannelControl(quint32 control, bool measurementModule);

    // A read older than this is not trusted by connected(); it probes instead.
    static constexpr int connectionEvidenceMaxAgeMs = 800;

    // All channels' table quantities from one getChannelBlock call (all requests in flight
    // together; the sequential block reads when the library lacks it), in the units and word
    // layouts of the per-channel getters, whose caches it refreshes too. Under the controller's
    // mutex for that one call. lastError() tells why a channel is incomplete.
    QVector<ChannelReading> readChannels() override;
    // readChannels() of several modules of one crate with getChannelBlocks calls, so the crate's
    // modules cost about one round trip together; quantities lost on the way are asked again for
    // all modules still short at once while the first module (the one shown) is short; after it
    // is complete the others wait for their next read. `ready` gets each module's reading (by its index in
    // `modules`) as soon as it is complete or given up. Modules of different controllers, or a
    // library without that entry, are read one after another.
    using ReadingReady = std::function<void(int index, const QVector<ChannelReading>& reading)>;
    static void readChannelsTogether(const QVector<SnmpModule*>& modules, const ReadingReady& ready);
    // Each group is valid only when every read of it was answered.
    ModuleReading readModuleValues(bool temperatures, bool supplies) override;

    // An MPOD module has no module control, mask, restart-time, event channel/group, channel
    // event mask, bounds or interlock-out objects, and a fixed ADC rate.
    bool reports(Quantity quantity) const override;

    int slot() const { return m_slot; }
    int firstChannelIndex() const { return m_firstChannelIndex; }
    bool isMeasurementModule() const;

public slots:
    bool connected() override;
    bool channelReadComplete(int channel) override;
    QString alarmMessage() override;
    bool currentControl() override;
    int serialNumber() override;
    QString firmwareRelease() override;
    quint32 decoderRelease() override;
    bool doClear() override;
    QString address() override;
    float temperature(int index = 0) override;
    float supplyP5() override;
    float supplyP12() override;
    float supplyN12() override;
    quint32 adcSamplesPerSecond() override;
    bool setAdcSamplesPerSecond(quint32 sps) override;
    quint32 digitalFilter() override;
    bool setDigitalFilter(quint32 filter) override;
    float voltageLimit() override;
    float currentLimit() override;
    quint32 status() override;
    quint32 eventStatus() override;
    bool setEventStatus(quint32 status) override;
    // Clears the module's events on the crate (moduleDoClear of this slot).
    bool clearEventStatus() override;
    quint32 eventChannelStatus() override;
    bool clearEventChannelStatus() override;
    quint32 eventChannelMask() override;
    bool setEventChannelMask(quint32 mask) override;
    quint32 eventGroupStatus() override;
    quint32 eventGroupMask() override;
    bool setEventGroupMask(quint32 mask) override;
    bool clearEventGroupStatus() override;
    quint32 eventMask() override;
    bool setEventMask(quint32 mask) override;
    quint32 control() override;
    bool setControl(quint32 control) override;
    float voltageRampSpeed() override;
    bool setVoltageRampSpeed(float vramp) override;
    float currentRampSpeed() override;
    bool setCurrentRampSpeed(float iramp) override;
    bool killEnable() override;
    bool setKillEnable(bool enable) override;
    bool setFineAdjustmentOn(bool on) override;
    int channelNumber() override;
    quint32 restartTime() override;
    bool setRestartTime(quint32 restartTime) override;
    bool setSelectedChannelsOn(quint32 mask) override;
    bool setSelectedChannelsOff(quint32 mask) override;
    bool setSelectedChannelsEmergencyOff(quint32 mask) override;
    bool clearSelectedChannelsEmergencyOff(quint32 mask) override;
    bool setAllChannelsVoltageSet(float vset) override;
    bool setAllChannelsCurrentSet(float iset) override;
    bool setAllChannelsDelayedTripAction(BaseModule::OutputSupervisionAction action, int delay) override;
    bool setAllChannelsInhibitAction(BaseModule::OutputSupervisionAction action) override;
    bool setChannelExternalMeasurementEnabled(int channel, bool enabled) override;
    bool setChannelRippleMeasurementEnabled(int channel, bool enabled) override;
    bool setChannelBothMeasurementsEnabled(int channel, bool enabled) override;
    quint32 channelStatus(int channel) override;
    quint32 channelEventStatus(int channel) override;
    bool setChannelEventStatus(int channel, quint32 status) override;
    bool clearChannelEventStatus(int channel) override;
    // With a library that has setChannelsSwitch, every channel's SET is in flight together (about
    // one round trip for the whole module); otherwise channel by channel.
    QStringList switchChannels(const QList<int>& channels, SwitchAction action) override;
    // The same for Set values with setChannelsVoltage / setChannelsCurrent.
    QStringList setChannelsValue(const QList<int>& channels, SetQuantity quantity, float value) override;
    quint32 channelEventMask(int channel) override;
    bool setChannelEventMask(int channel, quint32 mask) override;
    quint32 channelControl(int channel) override;
    bool setChannelControl(int channel, quint32 control) override;
    bool setChannelEmergencyOff(int channel) override;
    bool clearChannelEmergencyOff(int channel) override;
    float channelVoltageNominal(int channel) override;
    float channelCurrentNominal(int channel) override;
    float channelVoltageSet(int channel) override;
    bool setChannelVoltageSet(int channel, float vset) override;
    float channelVoltageMeasure(int channel) override;
    float channelCurrentSet(int channel) override;
    bool setChannelCurrentSet(int channel, float iset) override;
    bool channelDelayedTripEnabled(int channel) override;
    bool channelDelayedTripRampDown(int channel) override;
    int channelDelayedTripTime(int channel) override;
    bool setChannelDelayedTripAction(int channel, BaseModule::OutputSupervisionAction action, int delay) override;
    BaseModule::OutputSupervisionAction channelInhibitAction(int channel) override;
    bool setChannelInhibitAction(int channel, BaseModule::OutputSupervisionAction action) override;
    float channelCurrentMeasure(int channel) override;
    float channelVoltageInterlockMaxSet(int channel) override;
    bool setChannelVoltageInterlockMaxSet(int channel, float ilkmax) override;
    float channelVoltageInterlockMinSet(int channel) override;
    bool setChannelVoltageInterlockMinSet(int channel, float ilkmin) override;
    float channelCurrentInterlockMaxSet(int channel) override;
    bool setChannelCurrentInterlockMaxSet(int channel, float ilkmax) override;
    float channelCurrentInterlockMinSet(int channel) override;
    bool setChannelCurrentInterlockMinSet(int channel, float ilkmin) override;
    bool setChannelOn(int channel) override;
    bool setChannelOff(int channel) override;
    bool setFlexGroup(int group, quint32 member, quint32 type) override;
    quint32 flexGroupMemberList(int group) override;
    quint32 flexGroupType(int group) override;
    float channelVoltageHardwareNominal(int channel) override;
    float channelCurrentHardwareNominal(int channel) override;

public:
    // The channel's output switch, read alone from the crate.
    bool readChannelControl(int channel, quint32* control) override;
    // One request per quantity, each for this channel alone.
    bool readChannelSettings(int channel, ChannelSettings* settings) override;
    // Both nominal columns of the channels in one call (about one round trip): the crate's
    // hardware nominal values are its channels' nominal values.
    int readHardwareNominals(int first, int count, QVector<float>* voltages, QVector<float>* currents) override;
    int hardwareNominalsReadTogether() const override;

protected:
    // The crate's address, the slot number and the module's serial number.
    JournalWrite journalPlace() override;
    std::unique_lock<std::recursive_mutex> deviceLock() override;

private:
    // Block read of one quantity for all channels into `cache`, each value through `convert`.
    template <typename Entry, typename Cache, typename Convert>
    void refreshCache(Entry entry, QVector<Cache>& cache, Convert convert);
    // Takes a block the library read into `cache` (see refreshCache).
    template <typename Buffer, typename Cache, typename Convert>
    void storeBlock(const Buffer* buffer, QVector<Cache>& cache, Convert convert);
    // Cached library values in the interface's words and display units.
    static quint32 statusWord(int32_t libraryStatus) { return channelStatusFromLibrary(quint32(libraryStatus)); }
    quint32 controlWord(int32_t switchValue) const { return channelControlFromSwitch(switchValue, isMeasurementModule()); }
    float displayVoltage(double volts) const { return float(voltageFromVolts(volts)); }
    float displayCurrent(double amperes) const { return float(currentFromAmperes(amperes)); }
    // True when the library's latest call in this thread succeeded (a library that cannot tell
    // answers true).
    bool lastCallAnswered() const;
    // Channel 0 refreshes the cache first; every channel answers from it; others read 0.
    template <typename Entry, typename Cache, typename Convert>
    Cache cachedRead(int channel, Entry entry, QVector<Cache>& cache, Convert convert);
    template <typename Entry, typename Cache>
    Cache cachedRead(int channel, Entry entry, QVector<Cache>& cache);
    // Journals each of `channels` as sent, lets `send` write them together (library channel
    // indexes in, one WIENER_WRITE_ result per index out) and journals each result.
    QStringList writtenTogether(const QList<int>& channels, const char* quantity, const QString& value,
        const std::function<void(const std::vector<int32_t>& indexes, int32_t* results)>& send);
    bool validChannel(int channel) const { return channel >= 0 && channel < m_channelCount; }
    int channelIndex(int channel) const { return m_firstChannelIndex + channel; }
    // Writes the channel's output switch; false (with lastError()) when refused or unanswered.
    bool setSwitch(int channel, int value);
    // Journals the write (journaled()) around `send`, a library set call, whose result becomes
    // the operation's result through confirmed().
    template <typename Send>
    bool written(int channel, const char* quantity, const QString& value, Send&& send)
    {
        return journaled(channel, quantity, value, [&] { return confirmed(send()); });
    }
    // Turns a library set result into the operation's result, recording the reason on failure.
    bool confirmed(int libraryResult);
    // Sends a groups switch command (acts on the whole crate) through written().
    bool groupsSwitchWritten(int value);
    // Runs `operation` for every channel whose bit is set in `mask`, in ascending order.
    bool forEachSelectedChannel(quint32 mask, bool (SnmpModule::*operation)(int));
    bool writeBehaviours(const QVector<int>& behaviours, const char* quantity, const QString& value);
    // Reads the supervision behaviour words of `count` channels from `first` on from the crate
    // (never from the cache, which may be stale or zero); false with lastError() unless every
    // one was read.
    bool readBehaviours(int first, int count, QVector<int>* behaviours);
    // Records a failed read for lastError(): the library's reason, else "no answer".
    bool failedRead();
    // One value of `channel` read now through a block entry (`entry` for one channel); false
    // when the crate did not deliver it (the library's reason is then in errorString()).
    template <typename Entry, typename Value>
    bool readFresh(Entry entry, int channel, Value* value);
    // Where the count of channels reached by the latest block read of `cache` is kept; null
    // for quantities that do not decide whether a channel's reading is complete.
    int* channelsReached(const void* cache);
    // Reads the quantities of `which` with getChannelBlock into `block`, asking again for the
    // quantities whose requests were lost (a lossy network), each attempt under the lock on its
    // own; `failure` gets the first reason. `count` channels from `first`; -1: all of them.
    void readChannelBlock(int which, SnmpChannelBlock& block, QString& failure, int first = 0, int count = -1);
    // Merges `answer` into `block`, each quantity keeping its fullest buffer.
    static void keepFullest(SnmpChannelBlock& block, const SnmpChannelBlock& answer);
    // The WIENER_BLOCK_ quantities readChannels() asks for.
    int channelBlockChoice() const;
    // The rest of readChannels(): the caches from `block` (null: each quantity read with its own
    // block entry) and the readings from the caches; `failure` is the first reason known.
    QVector<ChannelReading> takeChannels(const SnmpChannelBlock* block, QString failure);
    // readModuleValues() with one getModuleValues call (one round trip).
    ModuleReading readModuleValuesTogether(bool temperatures, bool supplies);
    // Extra attempts for quantities whose requests were lost.
    static constexpr int lostQuantityRetries = 2;
    bool anyQuantityUnread() const;
    void noteReadOutcome(bool answered);
    bool descriptionMatches(const QString& description) const;
    void loadResolution();

    SnmpController* m_controller;
    QString m_vendor;
    QString m_firmwareRelease;
    int m_serialNumber = 0;
    int m_channelCount = 0;
    int m_firstChannelIndex = 0;
    int m_slot = 0;

    QVector<quint16> m_statusCache;
    QVector<quint16> m_controlCache;
    QVector<int> m_tripTimeCache;
    QVector<int> m_behaviourCache;
    QVector<float> m_voltageSetCache;
    QVector<float> m_voltageMeasureCache;
    QVector<float> m_voltageNominalCache;
    QVector<float> m_currentSetCache;
    QVector<float> m_currentMeasureCache;
    QVector<float> m_currentNominalCache;
    // Channels reached by the latest block read of the quantities the channel table shows:
    // status, control, voltage set/measured/nominal, current set/measured/nominal.
    int m_channelsReached[8] = {};
    // Both nominal values were read for every channel; readChannels() then takes them from the
    // caches (they do not change while the module is in its slot).
    bool m_nominalsRead = false;

    // Outcome and age of the latest read that can tell a silent crate from an answering one.
    bool m_answering = false;
    QElapsedTimer m_lastEvidence;
};
