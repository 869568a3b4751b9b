#pragma once

#include "controller/BaseController.h"

// Only for the entry point types: the library is bound at run time with QLibrary, never linked.
#include "snmplib/WienerSnmp.h"

#include <QLibrary>

#include <type_traits>

// Controller of an MPOD crate reached by SNMP through the run-time library "WIENER_SNMP".
// Construction loads and binds the library and calls its initialisation; when either fails the
// program ends through FatalErrorHandler with exit code 1.
//
// Modules, crates and the discovery reach the library through call(), which passes the
// connection handle, answers a zero value for an entry the library lacks, and holds mutex() so
// that the library's returned buffers are copied out before another thread can overwrite them.
class SnmpController : public BaseController
{
public:
    SnmpController();
    ~SnmpController() override;

    bool open(const QString& address) override;
    QString address() override;
    bool isConnected() override;
    // Stores a new static IPv4 address in the crate; "0.0.0.0" switches it to DHCP. Text that
    // is not a dotted IPv4 address is refused (false) and nothing is sent.
    bool setIpAddress(const QString& address) override;
    void setLiveInsertion(bool on) override;
    bool liveInsertion() override;
    QString busStatus() override;
    QString errorString() override;
    QString className() override;
    QString connectionInfo() override;
    QStringList stringList() override;

    HSNMP handle() const { return m_handle; }
    // True when the library was loaded and initialised (false only when a test handler
    // returned from FatalErrorHandler).
    bool isLibraryReady() const { return m_libraryReady; }

    // Calls the entry point held in member `entry` with the connection handle followed by
    // `arguments`. An unresolved entry, or any entry of a library that failed to initialise,
    // answers a value-initialised result (0, nullptr) without calling into the library.
    // Locked inside; callable from any thread.
    template <typename Entry, typename... Args>
    auto call(Entry SnmpController::*entry, Args... arguments)
    {
        std::lock_guard<std::recursive_mutex> lock(mutex());
        const Entry function = this->*entry;
        using Result = decltype(function(HSNMP{}, arguments...));
        if (!function || !m_libraryReady) {
            if constexpr (std::is_void_v<Result>)
                return;
            else
                return Result{};
        }
        return function(m_handle, arguments...);
    }

    // The library's channel index of `channel` in `slot`.
    static int channelIndex(int slot, int channel) { return slot * 100 + channel; }

    // Library entry points in the library's member order; null when not resolved.
    decltype(&::snmpInit) snmpInit = nullptr;
    decltype(&::snmpCleanup) snmpCleanup = nullptr;
    decltype(&::snmpOpen) snmpOpen = nullptr;
    decltype(&::snmpClose) snmpClose = nullptr;
    decltype(&::getMainSwitch) getMainSwitch = nullptr;
    decltype(&::setMainSwitch) setMainSwitch = nullptr;
    decltype(&::getMainStatus) getMainStatus = nullptr;
    decltype(&::getIpStaticAddress) getIpStaticAddress = nullptr;
    decltype(&::setIpStaticAddress) setIpStaticAddress = nullptr;
    decltype(&::getPsSerialNumber) getPsSerialNumber = nullptr;
    decltype(&::getSysDescr) getSysDescr = nullptr;
    decltype(&::getPsAuxVoltage) getPsAuxVoltage = nullptr;
    decltype(&::getPsAuxCurrent) getPsAuxCurrent = nullptr;
    decltype(&::getFanNominalSpeed) getFanNominalSpeed = nullptr;
    decltype(&::setFanNominalSpeed) setFanNominalSpeed = nullptr;
    decltype(&::getOutputNumber) getOutputNumber = nullptr;
    decltype(&::getOutputGroups) getOutputGroups = nullptr;
    decltype(&::getOutputGroup) getOutputGroup = nullptr;
    decltype(&::getChannelStatus) getChannelStatus = nullptr;
    decltype(&::getOutputSenseMeasurement) getOutputSenseMeasurement = nullptr;
    decltype(&::getOutputTerminalMeasurement) getOutputTerminalMeasurement = nullptr;
    decltype(&::getCurrentMeasurement) getCurrentMeasurement = nullptr;
    decltype(&::getTemperatureMeasurement) getTemperatureMeasurement = nullptr;
    decltype(&::getModuleAuxTemperature) getModuleAuxTemperature = nullptr;
    decltype(&::setChannelSwitch) setChannelSwitch = nullptr;
    decltype(&::getChannelSwitch) getChannelSwitch = nullptr;
    decltype(&::setHighVoltageGroupsSwitch) setHighVoltageGroupsSwitch = nullptr;
    decltype(&::getHighVoltageGroupsSwitch) getHighVoltageGroupsSwitch = nullptr;
    decltype(&::setLowVoltageGroupsSwitch) setLowVoltageGroupsSwitch = nullptr;
    decltype(&::getLowVoltageGroupsSwitch) getLowVoltageGroupsSwitch = nullptr;
    decltype(&::getOutputVoltage) getOutputVoltage = nullptr;
    decltype(&::setOutputVoltage) setOutputVoltage = nullptr;
    decltype(&::getOutputCurrent) getOutputCurrent = nullptr;
    decltype(&::setOutputCurrent) setOutputCurrent = nullptr;
    decltype(&::getOutputRiseRate) getOutputRiseRate = nullptr;
    decltype(&::setOutputRiseRate) setOutputRiseRate = nullptr;
    decltype(&::getOutputFallRate) getOutputFallRate = nullptr;
    decltype(&::setOutputFallRate) setOutputFallRate = nullptr;
    decltype(&::getOutputCurrentRiseRate) getOutputCurrentRiseRate = nullptr;
    decltype(&::setOutputCurrentRiseRate) setOutputCurrentRiseRate = nullptr;
    decltype(&::getOutputCurrentFallRate) getOutputCurrentFallRate = nullptr;
    decltype(&::setOutputCurrentFallRate) setOutputCurrentFallRate = nullptr;
    decltype(&::getOutputSupervisionBehavior) getOutputSupervisionBehavior = nullptr;
    decltype(&::setOutputSupervisionBehavior) setOutputSupervisionBehavior = nullptr;
    decltype(&::getOutputSupervisionMinSenseVoltage) getOutputSupervisionMinSenseVoltage = nullptr;
    decltype(&::setOutputSupervisionMinSenseVoltage) setOutputSupervisionMinSenseVoltage = nullptr;
    decltype(&::getOutputSupervisionMaxSenseVoltage) getOutputSupervisionMaxSenseVoltage = nullptr;
    decltype(&::setOutputSupervisionMaxSenseVoltage) setOutputSupervisionMaxSenseVoltage = nullptr;
    decltype(&::getOutputSupervisionMaxTerminalVoltage) getOutputSupervisionMaxTerminalVoltage = nullptr;
    decltype(&::setOutputSupervisionMaxTerminalVoltage) setOutputSupervisionMaxTerminalVoltage = nullptr;
    decltype(&::getOutputSupervisionMaxCurrent) getOutputSupervisionMaxCurrent = nullptr;
    decltype(&::setOutputSupervisionMaxCurrent) setOutputSupervisionMaxCurrent = nullptr;
    decltype(&::getOutputConfigMaxSenseVoltage) getOutputConfigMaxSenseVoltage = nullptr;
    decltype(&::getOutputConfigMaxTerminalVoltage) getOutputConfigMaxTerminalVoltage = nullptr;
    decltype(&::getOutputConfigMaxCurrent) getOutputConfigMaxCurrent = nullptr;
    decltype(&::getOutputSupervisionMaxPower) getOutputSupervisionMaxPower = nullptr;
    decltype(&::getOutputTripTimeMaxCurrent) getOutputTripTimeMaxCurrent = nullptr;
    decltype(&::setOutputTripTimeMaxCurrent) setOutputTripTimeMaxCurrent = nullptr;
    decltype(&::getModuleDescription) getModuleDescription = nullptr;
    decltype(&::getModuleSupply24) getModuleSupply24 = nullptr;
    decltype(&::getModuleSupply5) getModuleSupply5 = nullptr;
    decltype(&::getModuleHardwareLimitVoltage) getModuleHardwareLimitVoltage = nullptr;
    decltype(&::getModuleHardwareLimitCurrent) getModuleHardwareLimitCurrent = nullptr;
    decltype(&::getModuleRampSpeedVoltage) getModuleRampSpeedVoltage = nullptr;
    decltype(&::setModuleRampSpeedVoltage) setModuleRampSpeedVoltage = nullptr;
    decltype(&::getModuleRampSpeedCurrent) getModuleRampSpeedCurrent = nullptr;
    decltype(&::setModuleRampSpeedCurrent) setModuleRampSpeedCurrent = nullptr;
    decltype(&::getModuleStatus) getModuleStatus = nullptr;
    decltype(&::getModuleEventStatus) getModuleEventStatus = nullptr;
    decltype(&::setModuleDoClear) setModuleDoClear = nullptr;
    decltype(&::getMultipleChannelStatuses) getMultipleChannelStatuses = nullptr;
    decltype(&::getMultipleOutputSwitches) getMultipleOutputSwitches = nullptr;
    decltype(&::setMultipleOutputSwitches) setMultipleOutputSwitches = nullptr;
    decltype(&::getMultipleOutputTripTimeMaxCurrents) getMultipleOutputTripTimeMaxCurrents = nullptr;
    decltype(&::setMultipleOutputTripTimeMaxCurrents) setMultipleOutputTripTimeMaxCurrents = nullptr;
    decltype(&::getMultipleOutputSupervisionBehaviors) getMultipleOutputSupervisionBehaviors = nullptr;
    decltype(&::setMultipleOutputSupervisionBehaviors) setMultipleOutputSupervisionBehaviors = nullptr;
    decltype(&::getMultipleOutputVoltages) getMultipleOutputVoltages = nullptr;
    decltype(&::setMultipleOutputVoltages) setMultipleOutputVoltages = nullptr;
    decltype(&::getMultipleMeasurementTerminalVoltages) getMultipleMeasurementTerminalVoltages = nullptr;
    decltype(&::getMultipleOutputConfigMaxTerminalVoltages) getMultipleOutputConfigMaxTerminalVoltages = nullptr;
    decltype(&::getMultipleOutputCurrents) getMultipleOutputCurrents = nullptr;
    decltype(&::setMultipleOutputCurrents) setMultipleOutputCurrents = nullptr;
    decltype(&::getMultipleMeasurementCurrents) getMultipleMeasurementCurrents = nullptr;
    decltype(&::getMultipleOutputConfigMaxCurrents) getMultipleOutputConfigMaxCurrents = nullptr;

    static constexpr int entryPointCount = 85;

private:
    void bindLibrary();

    QLibrary m_library;
    QString m_address;
    QStringList m_stringList;
    QStringList m_secondList;
    HSNMP m_handle = nullptr;
    bool m_libraryReady = false;
};
