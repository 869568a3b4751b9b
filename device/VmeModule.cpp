#include "device/VmeModule.h"
#include "device/ControllerLock.h"

#include "controller/VmeController.h"
#include "device/ModuleTypes.h"
#include "device/Resolution.h"
#include "device/StatusWordBits.h"

#include <climits>
#include <cstring>
#include <iterator>

enum VmeModule::ModuleRegister : int {
    Status,
    Control,
    EventStatus,
    EventMask,
    EventChannelStatus,
    EventChannelMask,
    EventGroupStatus,
    EventGroupMask,
    VoltageRampSpeed,
    CurrentRampSpeed,
    VoltageLimit,
    CurrentLimit,
    SupplyP5,
    SupplyP12,
    SupplyN12,
    Temperature,
    SerialNumber,
    FirmwareRelease,
    IlkOutStatus,
    IlkOutControl,
    IlkOutCount,
    IlkOutLastTrigger,
    IlkOutActive,
    IlkOutEverTriggered,
    RestartTime,
    AdcSamplesPerSecond,
    DigitalFilter,
    DecoderRelease,
    VoltageSetAll,
    CurrentSetAll,
    EmergencyOffAll,
    OnAll,
    NewBaseAddress,
    NewBaseAddressComplement,
    AcceptedBaseAddress,
    SpecialStatus,
    SpecialCommand,
    ModuleRegisterCount
};

enum VmeModule::ChannelRegister : int {
    ChannelStatus,
    ChannelControl,
    ChannelEventStatus,
    ChannelEventMask,
    ChannelVoltageSet,
    ChannelCurrentSet,
    ChannelVoltageMeasure,
    ChannelCurrentMeasure,
    ChannelVoltageInterlockMax,
    ChannelCurrentInterlockMax,
    ChannelVoltageNominal,
    ChannelCurrentNominal,
    ChannelVoltageInterlockMin,
    ChannelCurrentInterlockMin,
    ChannelRegisterCount
};

namespace {

struct Layout
{
    quint16 offset20;
    int bits20;
    quint16 offset29;
    int bits29;
};

// Module registers: offset and width in the class 20 and the class 29 layout (width 0: absent).
constexpr Layout moduleLayout[] = {
    {0x00, 16, 0x00, 32},  // status
    {0x02, 16, 0x0C, 32},  // control
    {0x04, 16, 0x04, 32},  // event status
    {0x06, 16, 0x08, 32},  // event mask
    {0x08, 16, 0x10, 32},  // event channel status
    {0x0A, 16, 0x14, 32},  // event channel mask
    {0x0C, 32, 0x18, 32},  // event group status
    {0x10, 32, 0x1C, 32},  // event group mask
    {0x14, 32, 0x20, 32},  // voltage ramp speed (float)
    {0x18, 32, 0x24, 32},  // current ramp speed (float)
    {0x1C, 32, 0x28, 32},  // voltage limit (float)
    {0x20, 32, 0x2C, 32},  // current limit (float)
    {0x24, 32, 0x40, 32},  // +5 V (float)
    {0x28, 32, 0x44, 32},  // +12 V (float)
    {0x2C, 32, 0x48, 32},  // -12 V (float)
    {0x30, 32, 0x4C, 32},  // temperature (float)
    {0x34, 32, 0x30, 32},  // serial number
    {0x38, 32, 0x34, 32},  // firmware release
    {0x40, 16, 0x00, 0},   // interlock-out status
    {0x42, 16, 0x00, 0},   // interlock-out control
    {0x44, 16, 0x00, 0},   // interlock-out count
    {0x46, 16, 0x00, 0},   // interlock-out last trigger
    {0x48, 16, 0x00, 0},   // interlock-out channels active
    {0x4A, 16, 0x00, 0},   // interlock-out channels ever triggered
    {0x50, 16, 0x50, 32},  // restart time
    {0x58, 16, 0x54, 32},  // ADC samples per second
    {0x5A, 16, 0x58, 32},  // digital filter
    {0x00, 0, 0x7C, 32},   // decoder release
    {0x2A0, 32, 0xD0, 32}, // voltage set of all channels (float)
    {0x2A4, 32, 0xD4, 32}, // current set of all channels (float)
    {0x2B0, 32, 0xE0, 32}, // emergency off of all channels
    {0x2B4, 32, 0xE4, 32}, // all channels on
    {0x3A0, 16, 0xA0, 16}, // new base address
    {0x3A2, 16, 0xA2, 16}, // its ones' complement
    {0x3A6, 16, 0xA8, 16}, // base address the module accepted
    {0x3B0, 16, 0xAC, 32}, // special control status
    {0x3B2, 16, 0xB0, 32}, // special control command
};

// Channel registers: offset within the channel's block.
constexpr Layout channelLayout[] = {
    {0x00, 16, 0x00, 32}, // status
    {0x02, 16, 0x0C, 32}, // control
    {0x04, 16, 0x04, 32}, // event status
    {0x06, 16, 0x08, 32}, // event mask
    {0x08, 32, 0x10, 32}, // voltage set
    {0x0C, 32, 0x14, 32}, // current set
    {0x10, 32, 0x18, 32}, // voltage measurement
    {0x14, 32, 0x1C, 32}, // current measurement
    {0x18, 32, 0x20, 32}, // voltage interlock maximum
    {0x1C, 32, 0x28, 32}, // current interlock maximum
    {0x20, 32, 0x30, 32}, // voltage nominal
    {0x24, 32, 0x34, 32}, // current nominal
    {0x28, 32, 0x24, 32}, // voltage interlock minimum
    {0x2C, 32, 0x2C, 32}, // current interlock minimum
};

constexpr quint32 classOffset = 0x3C;
constexpr int maxChannels20 = 12;
constexpr int maxChannels29 = 24;
constexpr quint32 channelBlock20 = 0x60;
constexpr quint32 channelStride20 = 0x30;
constexpr quint32 channelBlock29 = 0x100;
constexpr quint32 channelStride29 = 0x40;
// Module status: the module is in its special (firmware loader) mode.
constexpr int variableGroups = 32;
constexpr quint32 allChannelsMask = 0xFFFFFFFF;
constexpr int maskedChannels = 32;
constexpr quint32 lineInBufferCommand = 2;

// Variable group type of a delayed current trip: bits 15 and 14 mark it, 13..12 hold the
// action, 11..0 the delay.
constexpr quint32 delayedTripMarker = 0xC000;
constexpr quint32 delayMask = 0x0FFF;
constexpr int actionShift = 12;

// A write that found no controller to send it through.
constexpr int noController = INT_MIN;
// A cycle refused because it would leave the module's own register window.
constexpr int outsideWindow = INT_MIN + 1;

quint32 bitsOf(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float floatOf(quint32 bits)
{
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

QString hexText(quint32 value)
{
    return QStringLiteral("0x%1").arg(value, 0, 16);
}

} // namespace

quint32 VmeModule::windowBytes(int deviceClass)
{
    return deviceClass == class29 ? 0x800 : 0x400;
}

VmeModule::VmeModule(VmeController* controller, quint16 baseAddress, QObject* parent)
    : BaseModule(parent)
    , m_controller(controller)
    , m_baseAddress(baseAddress)
{
    m_deviceClass = 0;
}

VmeModule::Lock VmeModule::lock() const
{
    return Lock(m_controller ? ControllerLock::of(*m_controller) : m_ownMutex);
}

// ---- layout ---------------------------------------------------------------------------------

int VmeModule::deviceClass()
{
    const Lock held = lock();
    m_readFailed = false;
    const quint32 word = readLong(classOffset);
    if (m_readFailed)
        return 0;
    const int detected = int(word & 0xFFFF);
    const quint32 high = word >> 16;
    m_deviceClass = detected;
    if (detected == class20)
        m_channelCount = qMin(maxChannels20, int(qPopulationCount(high)));
    else if (detected == class29)
        m_channelCount = qMin(maxChannels29, int(high));
    if (detected == class20 || detected == class29) {
        // The display units come from the settings once, when the module is first recognised:
        // detecting again must not undo units chosen since.
        const bool first = m_layoutClass == 0;
        m_firmwareName.clear();
        setFirmwareName(detected);
        m_layoutClass = detected;
        m_serialNumber = int(readLong(moduleRegister(SerialNumber).offset));
        if (first)
            loadResolution();
    }
    return detected;
}

void VmeModule::loadResolution()
{
    Resolution resolution;
    resolution.setFirmwareName(m_firmwareName);
    resolution.setSerialNumber(m_serialNumber);
    resolution.load();
    m_useControllerUnits = resolution.useControllerUnits();
    m_voltageInKilovolts = resolution.voltageUnit() == QLatin1String("kV");
    m_voltagePrecision = resolution.voltagePrecision();
    m_currentUnitIndex = currentUnitIndexOf(resolution.currentUnit());
    m_currentPrecision = resolution.currentPrecision();
}

bool VmeModule::layoutReady()
{
    if (m_deviceClass == class20 || m_deviceClass == class29)
        return true;
    deviceClass();
    return false;
}

VmeModule::Register VmeModule::moduleRegister(ModuleRegister which) const
{
    static_assert(std::size(moduleLayout) == ModuleRegisterCount, "one row per module register");
    const Layout& row = moduleLayout[which];
    return m_deviceClass == class29 ? Register{row.offset29, row.bits29} : Register{row.offset20, row.bits20};
}

VmeModule::Register VmeModule::channelRegister(int channel, ChannelRegister which) const
{
    static_assert(std::size(channelLayout) == ChannelRegisterCount, "one row per channel register");
    const Layout& row = channelLayout[which];
    if (m_deviceClass == class29)
        return {quint16(channelBlock29 + channelStride29 * quint32(channel) + row.offset29), row.bits29};
    return {quint16(channelBlock20 + channelStride20 * quint32(channel) + row.offset20), row.bits20};
}

quint16 VmeModule::groupOffset(int group) const
{
    return quint16(m_deviceClass == class29 ? 0x700 + 8 * group : 0x2C0 + 4 * group);
}

// Class 29 keeps the hardware nominals in the unused tail of the channel's own block: its
// variable group table fills 0x700-0x7FF.
quint16 VmeModule::nominalVoltageOffset(int channel) const
{
    if (m_deviceClass == class29)
        return quint16(channelBlock29 + channelStride29 * quint32(channel) + 0x38);
    return quint16(0x340 + 8 * channel);
}

quint16 VmeModule::nominalCurrentOffset(int channel) const
{
    return quint16(nominalVoltageOffset(channel) + 4);
}

// ---- bus cycles -----------------------------------------------------------------------------

bool VmeModule::insideWindow(quint32 offset) const
{
    // A class not yet known decodes at least the smaller window, which holds the identification.
    return offset <= windowBytes(m_deviceClass) - 2;
}

quint32 VmeModule::readWord(quint32 offset)
{
    if (!m_controller || !insideWindow(offset)) {
        m_readFailed = true;
        return 0;
    }
    int code = 0;
    const quint32 value = m_controller->read16(quint32(m_baseAddress) + offset, VmeController::addressModifierA16, &code);
    if (code != 0)
        m_readFailed = true;
    return value & 0xFFFF;
}

quint32 VmeModule::readLong(quint32 offset)
{
    const quint32 high = readWord(offset);
    return (high << 16) | readWord(offset + 2);
}

float VmeModule::readFloat(quint32 offset)
{
    return floatOf(readLong(offset));
}

quint32 VmeModule::read(Register reg)
{
    if (reg.bits == 16)
        return readWord(reg.offset);
    if (reg.bits == 32)
        return readLong(reg.offset);
    return 0;
}

int VmeModule::writeWord(quint32 offset, quint32 value)
{
    if (!m_controller)
        return noController;
    // Whatever a caller computed, a module never writes into a neighbour's registers.
    if (!insideWindow(offset))
        return outsideWindow;
    int code = 0;
    m_controller->write16(quint32(m_baseAddress) + offset, VmeController::addressModifierA16, value & 0xFFFF, &code);
    return code;
}

int VmeModule::writeLong(quint32 offset, quint32 value)
{
    const int code = writeWord(offset, value >> 16);
    return code != 0 ? code : writeWord(offset + 2, value & 0xFFFF);
}

int VmeModule::writeFloat(quint32 offset, float value)
{
    return writeLong(offset, bitsOf(value));
}

int VmeModule::write(Register reg, quint32 value)
{
    return reg.bits == 16 ? writeWord(reg.offset, value) : writeLong(reg.offset, value);
}

bool VmeModule::confirmed(int code)
{
    bool ok = true;
    if (code == 0)
        ok = succeed();
    else if (code == noController)
        ok = fail(QStringLiteral("no VME controller"));
    else if (code == outsideWindow)
        ok = fail(QStringLiteral("register outside the module's window of %1 bytes").arg(windowBytes(m_deviceClass)));
    else
        ok = noAnswer();
    return ok;
}

bool VmeModule::notDetected()
{
    return fail(QStringLiteral("device class not detected yet"));
}

JournalWrite VmeModule::journalPlace()
{
    JournalWrite place;
    place.slot = address();
    place.serialNumber = m_serialNumber;
    return place;
}

quint32 VmeModule::readModule(ModuleRegister which)
{
    const Lock held = lock();
    if (!layoutReady())
        return 0;
    return read(moduleRegister(which));
}

float VmeModule::readModuleFloat(ModuleRegister which)
{
    return floatOf(readModule(which));
}

bool VmeModule::writeModule(ModuleRegister which, quint32 value, const char* quantity)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    const Register reg = moduleRegister(which);
    if (reg.bits == 0)
        return notOffered();
    return written(JournalWrite::moduleWide, quantity, hexText(value), [&] { return write(reg, value); });
}

bool VmeModule::writeModuleFloat(ModuleRegister which, float value, const char* quantity, const QString& text)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    return written(JournalWrite::moduleWide, quantity, text, [&] { return write(moduleRegister(which), bitsOf(value)); });
}

quint32 VmeModule::readChannel(int channel, ChannelRegister which)
{
    const Lock held = lock();
    if (!layoutReady() || !validChannel(channel))
        return 0;
    return read(channelRegister(channel, which));
}

float VmeModule::readChannelFloat(int channel, ChannelRegister which)
{
    const Lock held = lock();
    if (!layoutReady() || !validChannel(channel))
        return 0.0f;
    return floatOf(read(channelRegister(channel, which)));
}

bool VmeModule::writeChannel(int channel, ChannelRegister which, quint32 value, const char* quantity)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return written(channel, quantity, hexText(value), [&] { return write(channelRegister(channel, which), value); });
}

bool VmeModule::writeChannelFloat(int channel, ChannelRegister which, float value, const char* quantity, const QString& text)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return written(channel, quantity, text, [&] { return write(channelRegister(channel, which), bitsOf(value)); });
}

bool VmeModule::changeChannelControl(int channel, quint32 bit, bool set, const char* quantity)
{
    return changeControlWord(
        false, channel, set ? bit : 0, set ? 0 : bit, quantity, set ? QStringLiteral("set") : QStringLiteral("clear"));
}

bool VmeModule::changeControlWord(
    bool moduleWord, int channel, quint32 setBits, quint32 clearBits, const char* quantity, const QString& value)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    quint32 word = 0;
    if (!moduleWord && !validChannel(channel))
        return noSuchChannel(channel);
    const bool read = moduleWord ? readControl(&word) : readChannelControl(channel, &word);
    // A control word that could not be read is never written back as 0.
    if (!read)
        return fail(QStringLiteral("control word not read (%1)").arg(lastError()));
    const quint32 changed = ((word & ~clearBits) | setBits) & 0xFFFF;
    const Register reg = moduleWord ? moduleRegister(Control) : channelRegister(channel, ChannelControl);
    return written(moduleWord ? JournalWrite::moduleWide : channel, quantity, value.isNull() ? hexText(changed) : value,
        [&] { return write(reg, changed); });
}

bool VmeModule::layoutKnown()
{
    if (layoutReady() || m_deviceClass == class20 || m_deviceClass == class29)
        return true;
    return m_readFailed ? readFailure() : notDetected();
}

bool VmeModule::readFailure()
{
    return m_controller ? noAnswer() : fail(QStringLiteral("no VME controller"));
}

std::unique_lock<std::recursive_mutex> VmeModule::deviceLock()
{
    return lock();
}

bool VmeModule::readChannelControl(int channel, quint32* control)
{
    const Lock held = lock();
    if (!layoutKnown())
        return false;
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return readChecked(channelRegister(channel, ChannelControl), control);
}

bool VmeModule::readControl(quint32* control)
{
    const Lock held = lock();
    return layoutKnown() && readChecked(moduleRegister(Control), control);
}

bool VmeModule::readAdcSamplesPerSecond(quint32* samplesPerSecond)
{
    const Lock held = lock();
    return layoutKnown() && readChecked(moduleRegister(AdcSamplesPerSecond), samplesPerSecond);
}

bool VmeModule::readDigitalFilter(quint32* filter)
{
    const Lock held = lock();
    return layoutKnown() && readChecked(moduleRegister(DigitalFilter), filter);
}

bool VmeModule::readChecked(Register reg, quint32* value)
{
    m_readFailed = false;
    const quint32 word = read(reg);
    if (m_readFailed)
        return readFailure();
    *value = word;
    return succeed();
}

bool VmeModule::readChannelSettings(int channel, ChannelSettings* settings)
{
    const Lock held = lock();
    if (!layoutKnown())
        return false;
    if (!validChannel(channel))
        return noSuchChannel(channel);
    m_readFailed = false;
    const auto readVolts = [&](quint32 offset) { return float(voltageFromVolts(readFloat(offset))); };
    const auto readAmperes = [&](quint32 offset) { return float(currentFromAmperes(readFloat(offset))); };
    ChannelSettings fresh;
    fresh.control = read(channelRegister(channel, ChannelControl));
    fresh.currentSet = readAmperes(channelRegister(channel, ChannelCurrentSet).offset);
    fresh.currentNominal = readAmperes(channelRegister(channel, ChannelCurrentNominal).offset);
    fresh.voltageNominal = readVolts(channelRegister(channel, ChannelVoltageNominal).offset);
    fresh.voltageHardwareNominal = readVolts(nominalVoltageOffset(channel));
    fresh.currentHardwareNominal = readAmperes(nominalCurrentOffset(channel));
    const quint32 type = flexGroupType(channel);
    if (m_readFailed)
        return readFailure();
    fresh.delayedTripEnabled = (type & delayedTripMarker) == delayedTripMarker;
    fresh.delayedTripRampDown = ((type >> actionShift) & 3u) == RampDownChannel;
    fresh.delayedTripTimeMs = fresh.delayedTripEnabled ? int(type & delayMask) : -1;
    fresh.inhibitAction = IgnoreFailure;
    return channelSettingsRead(channel, fresh, settings);
}

template <typename PerChannel>
bool VmeModule::forSelectedChannels(
    quint32 mask, ModuleRegister all, quint32 allValue, const char* quantity, PerChannel perChannel)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    if (mask == allChannelsMask)
        return written(JournalWrite::moduleWide, quantity, QString::number(allValue),
            [&] { return write(moduleRegister(all), allValue); });
    bool ok = true;
    QString firstFailure;
    for (int channel = 0; channel < m_channelCount && channel < maskedChannels; ++channel) {
        if (!(mask & (1u << channel)) || (this->*perChannel)(channel))
            continue;
        if (ok)
            firstFailure = lastError();
        ok = false;
    }
    return ok ? succeed() : fail(firstFailure);
}

// ---- identity and module values -------------------------------------------------------------

bool VmeModule::connected()
{
    const Lock held = lock();
    m_readFailed = false;
    const quint32 value = readLong(identificationOffset);
    return !m_readFailed && value == identification;
}

QString VmeModule::alarmMessage()
{
    return QString();
}

bool VmeModule::currentControl()
{
    return m_layoutClass == class20;
}

int VmeModule::serialNumber()
{
    return int(readModule(SerialNumber));
}

QString VmeModule::firmwareRelease()
{
    const quint32 release = readModule(FirmwareRelease);
    return QStringLiteral("%1%2.%3%4")
        .arg(release >> 24)
        .arg((release >> 16) & 0xFF)
        .arg((release >> 8) & 0xFF)
        .arg(release & 0xFF);
}

quint32 VmeModule::decoderRelease()
{
    return readModule(DecoderRelease);
}

bool VmeModule::doClear()
{
    return changeControlWord(true, 0, ModuleControlBit::clearEvents, 0, "clear events", QString());
}

QString VmeModule::address()
{
    return QStringLiteral("VME BA 0x%1").arg(baseAddress(), 4, 16, QLatin1Char('0'));
}

quint16 VmeModule::baseAddress()
{
    const Lock held = lock();
    return m_baseAddress;
}

void VmeModule::setBaseAddress(quint16 baseAddress)
{
    const Lock held = lock();
    m_baseAddress = baseAddress;
}

float VmeModule::temperature(int index)
{
    return index == 0 ? readModuleFloat(Temperature) : 0.0f;
}

float VmeModule::supplyP5()
{
    return readModuleFloat(SupplyP5);
}

float VmeModule::supplyP12()
{
    return readModuleFloat(SupplyP12);
}

float VmeModule::supplyN12()
{
    return readModuleFloat(SupplyN12);
}

bool VmeModule::reports(Quantity quantity) const
{
    return !(quantity == Quantity::InterlockOut && m_layoutClass == class29);
}

quint32 VmeModule::adcSamplesPerSecond()
{
    return readModule(AdcSamplesPerSecond);
}

bool VmeModule::setAdcSamplesPerSecond(quint32 sps)
{
    return writeModule(AdcSamplesPerSecond, sps, "ADC samples per second");
}

quint32 VmeModule::digitalFilter()
{
    return readModule(DigitalFilter);
}

bool VmeModule::setDigitalFilter(quint32 filter)
{
    return writeModule(DigitalFilter, filter, "digital filter");
}

float VmeModule::voltageLimit()
{
    return readModuleFloat(VoltageLimit);
}

float VmeModule::currentLimit()
{
    return readModuleFloat(CurrentLimit);
}

quint32 VmeModule::status()
{
    return readModule(Status);
}

quint32 VmeModule::eventStatus()
{
    return readModule(EventStatus);
}

bool VmeModule::setEventStatus(quint32 status)
{
    return writeModule(EventStatus, status, "event status");
}

bool VmeModule::clearEventStatus()
{
    return setEventStatus(allChannelsMask);
}

quint32 VmeModule::eventChannelStatus()
{
    return readModule(EventChannelStatus);
}

bool VmeModule::clearEventChannelStatus()
{
    return writeModule(EventChannelStatus, allChannelsMask, "event channel status");
}

quint32 VmeModule::eventChannelMask()
{
    return readModule(EventChannelMask);
}

bool VmeModule::setEventChannelMask(quint32 mask)
{
    return writeModule(EventChannelMask, mask, "event channel mask");
}

quint32 VmeModule::eventGroupStatus()
{
    return readModule(EventGroupStatus);
}

quint32 VmeModule::eventGroupMask()
{
    return readModule(EventGroupMask);
}

bool VmeModule::setEventGroupMask(quint32 mask)
{
    return writeModule(EventGroupMask, mask, "event group mask");
}

bool VmeModule::clearEventGroupStatus()
{
    return writeModule(EventGroupStatus, allChannelsMask, "event group status");
}

quint32 VmeModule::eventMask()
{
    return readModule(EventMask);
}

bool VmeModule::setEventMask(quint32 mask)
{
    return writeModule(EventMask, mask, "event mask");
}

quint32 VmeModule::control()
{
    return readModule(Control);
}

bool VmeModule::setControl(quint32 control)
{
    return writeModule(Control, control, "module control");
}

float VmeModule::voltageRampSpeed()
{
    return readModuleFloat(VoltageRampSpeed);
}

bool VmeModule::setVoltageRampSpeed(float vramp)
{
    return writeModuleFloat(VoltageRampSpeed, vramp, "voltage ramp speed", JournalWrite::valueText(vramp, "%/s"));
}

float VmeModule::currentRampSpeed()
{
    return readModuleFloat(CurrentRampSpeed);
}

bool VmeModule::setCurrentRampSpeed(float iramp)
{
    return writeModuleFloat(CurrentRampSpeed, iramp, "current ramp speed", JournalWrite::valueText(iramp, "%/s"));
}

bool VmeModule::killEnable()
{
    return (control() & ModuleControlBit::killEnable) != 0;
}

bool VmeModule::setKillEnable(bool enable)
{
    const quint32 bit = ModuleControlBit::killEnable;
    return changeControlWord(true, 0, enable ? bit : 0, enable ? 0 : bit, "kill enable", QString());
}

int VmeModule::channelNumber()
{
    const Lock held = lock();
    return m_channelCount;
}

quint32 VmeModule::restartTime()
{
    return readModule(RestartTime);
}

bool VmeModule::setRestartTime(quint32 restartTime)
{
    return writeModule(RestartTime, restartTime, "restart time");
}

// ---- several channels -----------------------------------------------------------------------

bool VmeModule::setSelectedChannelsOn(quint32 mask)
{
    return forSelectedChannels(mask, OnAll, 1, "all channels on", &VmeModule::setChannelOn);
}

bool VmeModule::setSelectedChannelsOff(quint32 mask)
{
    return forSelectedChannels(mask, OnAll, 0, "all channels on", &VmeModule::setChannelOff);
}

bool VmeModule::setSelectedChannelsEmergencyOff(quint32 mask)
{
    return forSelectedChannels(mask, EmergencyOffAll, 1, "all channels emergency off", &VmeModule::setChannelEmergencyOff);
}

bool VmeModule::clearSelectedChannelsEmergencyOff(quint32 mask)
{
    return forSelectedChannels(mask, EmergencyOffAll, 0, "all channels emergency off", &VmeModule::clearChannelEmergencyOff);
}

bool VmeModule::setAllChannelsVoltageSet(float vset)
{
    return writeModuleFloat(VoltageSetAll, float(voltageToVolts(vset)), "voltage set of all channels",
        JournalWrite::valueText(vset, voltageUnit()));
}

bool VmeModule::setAllChannelsCurrentSet(float iset)
{
    return writeModuleFloat(CurrentSetAll, float(currentToAmperes(iset)), "current set of all channels",
        JournalWrite::valueText(iset, currentUnit()));
}

// ---- channel words --------------------------------------------------------------------------

quint32 VmeModule::channelStatus(int channel)
{
    return readChannel(channel, ChannelStatus);
}

quint32 VmeModule::channelEventStatus(int channel)
{
    return readChannel(channel, ChannelEventStatus);
}

bool VmeModule::setChannelEventStatus(int channel, quint32 status)
{
    return writeChannel(channel, ChannelEventStatus, status, "channel event status");
}

bool VmeModule::clearChannelEventStatus(int channel)
{
    return setChannelEventStatus(channel, allChannelsMask);
}

quint32 VmeModule::channelEventMask(int channel)
{
    return readChannel(channel, ChannelEventMask);
}

bool VmeModule::setChannelEventMask(int channel, quint32 mask)
{
    return writeChannel(channel, ChannelEventMask, mask, "channel event mask");
}

quint32 VmeModule::channelControl(int channel)
{
    return readChannel(channel, ChannelControl);
}

bool VmeModule::setChannelControl(int channel, quint32 control)
{
    return writeChannel(channel, ChannelControl, control, "channel control");
}

bool VmeModule::setChannelEmergencyOff(int channel)
{
    return changeChannelControl(channel, ChannelControlBit::emergencyOff, true, "emergency off");
}

bool VmeModule::clearChannelEmergencyOff(int channel)
{
    return changeChannelControl(channel, ChannelControlBit::emergencyOff, false, "emergency off");
}

bool VmeModule::setChannelOn(int channel)
{
    return changeChannelControl(channel, ChannelControlBit::on, true, "switch");
}

bool VmeModule::setChannelOff(int channel)
{
    return changeChannelControl(channel, ChannelControlBit::on, false, "switch");
}

// ---- channel values -------------------------------------------------------------------------

float VmeModule::channelVoltageNominal(int channel)
{
    return float(voltageFromVolts(readChannelFloat(channel, ChannelVoltageNominal)));
}

bool VmeModule::setChannelVoltageNominal(int channel, float maxset)
{
    return writeChannelFloat(channel, ChannelVoltageNominal, float(voltageToVolts(maxset)), "voltage nominal",
        JournalWrite::valueText(maxset, voltageUnit()));
}

float VmeModule::channelCurrentNominal(int channel)
{
    return float(currentFromAmperes(readChannelFloat(channel, ChannelCurrentNominal)));
}

bool VmeModule::setChannelCurrentNominal(int channel, float maxset)
{
    return writeChannelFloat(channel, ChannelCurrentNominal, float(currentToAmperes(maxset)), "current nominal",
        JournalWrite::valueText(maxset, currentUnit()));
}

float VmeModule::channelVoltageSet(int channel)
{
    return float(voltageFromVolts(readChannelFloat(channel, ChannelVoltageSet)));
}

bool VmeModule::setChannelVoltageSet(int channel, float vset)
{
    return writeChannelFloat(channel, ChannelVoltageSet, float(voltageToVolts(vset)), "voltage set",
        JournalWrite::valueText(vset, voltageUnit()));
}

float VmeModule::channelVoltageMeasure(int channel)
{
    return float(voltageFromVolts(readChannelFloat(channel, ChannelVoltageMeasure)));
}

float VmeModule::channelCurrentSet(int channel)
{
    return float(currentFromAmperes(readChannelFloat(channel, ChannelCurrentSet)));
}

bool VmeModule::setChannelCurrentSet(int channel, float iset)
{
    return writeChannelFloat(channel, ChannelCurrentSet, float(currentToAmperes(iset)), "current set",
        JournalWrite::valueText(iset, currentUnit()));
}

float VmeModule::channelCurrentMeasure(int channel)
{
    return float(currentFromAmperes(readChannelFloat(channel, ChannelCurrentMeasure)));
}

float VmeModule::channelVoltageInterlockMaxSet(int channel)
{
    return float(voltageFromVolts(readChannelFloat(channel, ChannelVoltageInterlockMax)));
}

bool VmeModule::setChannelVoltageInterlockMaxSet(int channel, float ilkmax)
{
    return writeChannelFloat(channel, ChannelVoltageInterlockMax, float(voltageToVolts(ilkmax)), "voltage interlock maximum",
        JournalWrite::valueText(ilkmax, voltageUnit()));
}

float VmeModule::channelVoltageInterlockMinSet(int channel)
{
    return float(voltageFromVolts(readChannelFloat(channel, ChannelVoltageInterlockMin)));
}

bool VmeModule::setChannelVoltageInterlockMinSet(int channel, float ilkmin)
{
    return writeChannelFloat(channel, ChannelVoltageInterlockMin, float(voltageToVolts(ilkmin)), "voltage interlock minimum",
        JournalWrite::valueText(ilkmin, voltageUnit()));
}

float VmeModule::channelCurrentInterlockMaxSet(int channel)
{
    return float(currentFromAmperes(readChannelFloat(channel, ChannelCurrentInterlockMax)));
}

bool VmeModule::setChannelCurrentInterlockMaxSet(int channel, float ilkmax)
{
    return writeChannelFloat(channel, ChannelCurrentInterlockMax, float(currentToAmperes(ilkmax)),
        "current interlock maximum", JournalWrite::valueText(ilkmax, currentUnit()));
}

float VmeModule::channelCurrentInterlockMinSet(int channel)
{
    return float(currentFromAmperes(readChannelFloat(channel, ChannelCurrentInterlockMin)));
}

bool VmeModule::setChannelCurrentInterlockMinSet(int channel, float ilkmin)
{
    return writeChannelFloat(channel, ChannelCurrentInterlockMin, float(currentToAmperes(ilkmin)),
        "current interlock minimum", JournalWrite::valueText(ilkmin, currentUnit()));
}

float VmeModule::channelVoltageHardwareNominal(int channel)
{
    const Lock held = lock();
    if (!layoutReady() || !validChannel(channel))
        return 0.0f;
    return float(voltageFromVolts(readFloat(nominalVoltageOffset(channel))));
}

float VmeModule::channelCurrentHardwareNominal(int channel)
{
    const Lock held = lock();
    if (!layoutReady() || !validChannel(channel))
        return 0.0f;
    return float(currentFromAmperes(readFloat(nominalCurrentOffset(channel))));
}

// ---- delayed trip on variable groups ---------------------------------------------------------

// The delayed trip of a channel lives in the variable group with the channel's own number.
bool VmeModule::setChannelDelayedTripAction(int channel, OutputSupervisionAction action, int delay)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    const int value = int(action);
    if (value == IgnoreFailure)
        return setFlexGroup(channel, 0, 0);
    quint32 type = delayedTripMarker | (quint32(delay) & delayMask);
    if (value >= RampDownChannel && value <= ShutDownModule)
        type |= quint32(value) << actionShift;
    return setFlexGroup(channel, 1u << channel, type);
}

bool VmeModule::channelDelayedTripEnabled(int channel)
{
    const Lock held = lock();
    if (!layoutReady() || !validChannel(channel))
        return false;
    return (flexGroupType(channel) & delayedTripMarker) == delayedTripMarker;
}

bool VmeModule::channelDelayedTripRampDown(int channel)
{
    const Lock held = lock();
    if (!layoutReady() || !validChannel(channel))
        return false;
    return ((flexGroupType(channel) >> actionShift) & 3u) == RampDownChannel;
}

int VmeModule::channelDelayedTripTime(int channel)
{
    const Lock held = lock();
    if (!layoutReady() || !validChannel(channel))
        return -1;
    const quint32 type = flexGroupType(channel);
    return (type & delayedTripMarker) == delayedTripMarker ? int(type & delayMask) : -1;
}

bool VmeModule::setFlexGroup(int group, quint32 member, quint32 type)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    if (group < 0 || group >= variableGroups)
        return fail(QStringLiteral("no variable group %1 in this module").arg(group));
    const quint16 offset = groupOffset(group);
    const bool wide = m_deviceClass == class29;
    const int step = wide ? 4 : 2;
    return written(JournalWrite::moduleWide, "variable group",
        QStringLiteral("%1: member %2 type %3").arg(group).arg(hexText(member), hexText(type)), [&] {
            const int code = wide ? writeLong(offset, member) : writeWord(offset, member);
            return code != 0 ? code : wide ? writeLong(offset + step, type) : writeWord(offset + step, type);
        });
}

quint32 VmeModule::flexGroupMemberList(int group)
{
    const Lock held = lock();
    if (!layoutReady() || group < 0 || group >= variableGroups)
        return 0;
    return m_deviceClass == class29 ? readLong(groupOffset(group)) : readWord(groupOffset(group));
}

quint32 VmeModule::flexGroupType(int group)
{
    const Lock held = lock();
    if (!layoutReady() || group < 0 || group >= variableGroups)
        return 0;
    return m_deviceClass == class29 ? readLong(groupOffset(group) + 4) : readWord(groupOffset(group) + 2);
}

// ---- interlock out (class 20 only) ----------------------------------------------------------

quint32 VmeModule::GetModuleIlkOutStatus()
{
    return readModule(IlkOutStatus);
}

quint32 VmeModule::GetModuleIlkOutControl()
{
    return readModule(IlkOutControl);
}

bool VmeModule::SetModuleIlkOutControl(quint32 control)
{
    return writeModule(IlkOutControl, control, "interlock-out control");
}

quint32 VmeModule::GetModuleIlkOutCount()
{
    return readModule(IlkOutCount);
}

quint32 VmeModule::GetModuleIlkOutLastTrigger()
{
    return readModule(IlkOutLastTrigger);
}

quint32 VmeModule::GetModuleIlkOutChnActualActive()
{
    return readModule(IlkOutActive);
}

quint32 VmeModule::GetModuleIlkOutChnEverTriggered()
{
    return readModule(IlkOutEverTriggered);
}

// ---- service: firmware transfer and base address --------------------------------------------

bool VmeModule::setSpecialControlCommand(quint32 command)
{
    return writeModule(SpecialCommand, command, "special control command");
}

quint32 VmeModule::specialControlCommand()
{
    return readModule(SpecialCommand);
}

quint32 VmeModule::specialControlStatus()
{
    return readModule(SpecialStatus);
}

bool VmeModule::sendHexLine(QByteArray record)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    // The line goes into the transfer buffer over the channel registers; a longer one would
    // run on into the all-channels registers and past them. Nothing of it is sent.
    if (record.size() > maxHexRecordLength)
        return fail(QStringLiteral("a firmware line has at most %1 characters, this one %2")
                        .arg(maxHexRecordLength)
                        .arg(record.size()));
    const QString text = QString::fromLatin1(record);
    return written(JournalWrite::moduleWide, "hex line", text, [&] { return sendHexRecord(record); });
}

int VmeModule::sendHexRecord(QByteArray record)
{
    int code = 0;
    if (m_deviceClass == class29) {
        while (record.size() % 4 != 0)
            record.append('0');
        for (int k = 0; code == 0 && k < record.size(); k += 4) {
            const quint32 word = quint32(quint8(record[k])) << 24 | quint32(quint8(record[k + 1])) << 16
                | quint32(quint8(record[k + 2])) << 8 | quint32(quint8(record[k + 3]));
            code = writeLong(channelBlock29 + quint32(k), word);
        }
    } else {
        for (int k = 0; code == 0 && k < record.size(); k += 2) {
            const quint32 low = k + 1 < record.size() ? quint8(record[k + 1]) : 0;
            code = writeWord(channelBlock20 + quint32(k), quint32(quint8(record[k])) << 8 | low);
        }
        if (code == 0)
            code = writeWord(moduleRegister(SpecialCommand).offset, lineInBufferCommand);
    }
    return code;
}

bool VmeModule::programBaseAddress(quint16 address)
{
    const Lock held = lock();
    if (!layoutReady())
        return notDetected();
    return written(JournalWrite::moduleWide, "new base address", hexText(address), [&] {
        const int code = writeWord(moduleRegister(NewBaseAddress).offset, address);
        return code != 0 ? code : writeWord(moduleRegister(NewBaseAddressComplement).offset, ~quint32(address) & 0xFFFF);
    });
}

quint16 VmeModule::verifyBaseAddress()
{
    const Lock held = lock();
    if (!layoutReady())
        return 0xFFFF;
    m_readFailed = false;
    const quint16 accepted = quint16(readWord(moduleRegister(AcceptedBaseAddress).offset));
    const quint16 written = quint16(readWord(moduleRegister(NewBaseAddress).offset));
    if (m_readFailed || accepted != written)
        return 0xFFFF;
    return accepted;
}

// ---- readings for the window ----------------------------------------------------------------

// Each channel (and each group of module values) is read under one hold of the bus, so a
// reading is consistent in itself while an operator's command never waits for a whole refresh.
QVector<ChannelReading> VmeModule::readChannels()
{
    QVector<ChannelReading> readings;
    {
        const Lock held = lock();
        if (!layoutReady())
            return readings;
        readings.resize(m_channelCount);
        // In special mode the module runs its loader, whose transfer buffer lies over the
        // channel registers: what they hold then is no reading of any channel.
        m_readFailed = false;
        const quint32 moduleStatus = status();
        if (m_readFailed || (moduleStatus & ModuleStatusBit::specialMode))
            return readings;
    }
    for (int channel = 0; channel < readings.size(); ++channel) {
        const Lock held = lock();
        ChannelReading& reading = readings[channel];
        m_readFailed = false;
        reading.voltageSet = channelVoltageSet(channel);
        reading.currentSet = channelCurrentSet(channel);
        reading.voltageMeasure = channelVoltageMeasure(channel);
        reading.currentMeasure = channelCurrentMeasure(channel);
        reading.voltageNominal = channelVoltageNominal(channel);
        reading.currentNominal = channelCurrentNominal(channel);
        reading.control = channelControl(channel);
        reading.status = channelStatus(channel);
        reading.complete = !m_readFailed && validChannel(channel);
    }
    return readings;
}

ModuleReading VmeModule::readModuleValues(bool temperatures, bool supplies)
{
    ModuleReading reading;
    {
        const Lock held = lock();
        if (!layoutReady())
            return reading;
    }
    reading.currentControl = currentControl();
    {
        const Lock held = lock();
        m_readFailed = false;
        reading.voltageRampSpeed = voltageRampSpeed();
        reading.currentRampSpeed = reading.currentControl ? currentRampSpeed() : 0.0f;
        reading.rampSpeedsValid = !m_readFailed;
    }
    {
        const Lock held = lock();
        m_readFailed = false;
        reading.status = status();
        reading.eventStatus = eventStatus();
        reading.statusValid = !m_readFailed;
    }
    if (temperatures) {
        const Lock held = lock();
        m_readFailed = false;
        reading.temperature[0] = temperature(0);
        reading.temperaturesValid = !m_readFailed;
    }
    if (supplies) {
        const Lock held = lock();
        m_readFailed = false;
        reading.supplyP5 = supplyP5();
        reading.supplyP12 = supplyP12();
        reading.supplyN12 = supplyN12();
        reading.voltageLimit = voltageLimit();
        reading.currentLimit = currentLimit();
        reading.suppliesValid = !m_readFailed;
    }
    return reading;
}
