/*
 * The entry points of WIENER_SNMP that a program binds at run time, in one list, so that the
 * binding code, its function pointers and their count are generated from it instead of being
 * repeated. X(name) is expanded once per entry; every name is declared in WienerSnmp.h.
 *
 * Required: a library without one of them is still used, but the entry answers 0 or null.
 * Optional: entries our library has and a maker's library may lack; nothing depends on them.
 */
#ifndef WIENER_SNMP_ENTRY_POINTS_H
#define WIENER_SNMP_ENTRY_POINTS_H

#define WIENER_SNMP_REQUIRED_ENTRY_POINTS(X)                                                                                \
    X(snmpInit)                                                                                                             \
    X(snmpCleanup)                                                                                                          \
    X(snmpOpen)                                                                                                             \
    X(snmpClose)                                                                                                            \
    X(getMainSwitch)                                                                                                        \
    X(setMainSwitch)                                                                                                        \
    X(getMainStatus)                                                                                                        \
    X(getIpStaticAddress)                                                                                                   \
    X(setIpStaticAddress)                                                                                                   \
    X(getPsSerialNumber)                                                                                                    \
    X(getSysDescr)                                                                                                          \
    X(getPsAuxVoltage)                                                                                                      \
    X(getPsAuxCurrent)                                                                                                      \
    X(getFanNominalSpeed)                                                                                                   \
    X(setFanNominalSpeed)                                                                                                   \
    X(getOutputNumber)                                                                                                      \
    X(getOutputGroups)                                                                                                      \
    X(getOutputGroup)                                                                                                       \
    X(getChannelStatus)                                                                                                     \
    X(getOutputSenseMeasurement)                                                                                            \
    X(getOutputTerminalMeasurement)                                                                                         \
    X(getCurrentMeasurement)                                                                                                \
    X(getTemperatureMeasurement)                                                                                            \
    X(getModuleAuxTemperature)                                                                                              \
    X(setChannelSwitch)                                                                                                     \
    X(getChannelSwitch)                                                                                                     \
    X(setHighVoltageGroupsSwitch)                                                                                           \
    X(getHighVoltageGroupsSwitch)                                                                                           \
    X(setLowVoltageGroupsSwitch)                                                                                            \
    X(getLowVoltageGroupsSwitch)                                                                                            \
    X(getOutputVoltage)                                                                                                     \
    X(setOutputVoltage)                                                                                                     \
    X(getOutputCurrent)                                                                                                     \
    X(setOutputCurrent)                                                                                                     \
    X(getOutputRiseRate)                                                                                                    \
    X(setOutputRiseRate)                                                                                                    \
    X(getOutputFallRate)                                                                                                    \
    X(setOutputFallRate)                                                                                                    \
    X(getOutputCurrentRiseRate)                                                                                             \
    X(setOutputCurrentRiseRate)                                                                                             \
    X(getOutputCurrentFallRate)                                                                                             \
    X(setOutputCurrentFallRate)                                                                                             \
    X(getOutputSupervisionBehavior)                                                                                         \
    X(setOutputSupervisionBehavior)                                                                                         \
    X(getOutputSupervisionMinSenseVoltage)                                                                                  \
    X(setOutputSupervisionMinSenseVoltage)                                                                                  \
    X(getOutputSupervisionMaxSenseVoltage)                                                                                  \
    X(setOutputSupervisionMaxSenseVoltage)                                                                                  \
    X(getOutputSupervisionMaxTerminalVoltage)                                                                               \
    X(setOutputSupervisionMaxTerminalVoltage)                                                                               \
    X(getOutputSupervisionMaxCurrent)                                                                                       \
    X(setOutputSupervisionMaxCurrent)                                                                                       \
    X(getOutputConfigMaxSenseVoltage)                                                                                       \
    X(getOutputConfigMaxTerminalVoltage)                                                                                    \
    X(getOutputConfigMaxCurrent)                                                                                            \
    X(getOutputSupervisionMaxPower)                                                                                         \
    X(getOutputTripTimeMaxCurrent)                                                                                          \
    X(setOutputTripTimeMaxCurrent)                                                                                          \
    X(getModuleDescription)                                                                                                 \
    X(getModuleSupply24)                                                                                                    \
    X(getModuleSupply5)                                                                                                     \
    X(getModuleHardwareLimitVoltage)                                                                                        \
    X(getModuleHardwareLimitCurrent)                                                                                        \
    X(getModuleRampSpeedVoltage)                                                                                            \
    X(setModuleRampSpeedVoltage)                                                                                            \
    X(getModuleRampSpeedCurrent)                                                                                            \
    X(setModuleRampSpeedCurrent)                                                                                            \
    X(getModuleStatus)                                                                                                      \
    X(getModuleEventStatus)                                                                                                 \
    X(setModuleDoClear)                                                                                                     \
    X(getMultipleChannelStatuses)                                                                                           \
    X(getMultipleOutputSwitches)                                                                                            \
    X(setMultipleOutputSwitches)                                                                                            \
    X(getMultipleOutputTripTimeMaxCurrents)                                                                                 \
    X(setMultipleOutputTripTimeMaxCurrents)                                                                                 \
    X(getMultipleOutputSupervisionBehaviors)                                                                                \
    X(setMultipleOutputSupervisionBehaviors)                                                                                \
    X(getMultipleOutputVoltages)                                                                                            \
    X(setMultipleOutputVoltages)                                                                                            \
    X(getMultipleMeasurementTerminalVoltages)                                                                               \
    X(getMultipleOutputConfigMaxTerminalVoltages)                                                                           \
    X(getMultipleOutputCurrents)                                                                                            \
    X(setMultipleOutputCurrents)                                                                                            \
    X(getMultipleMeasurementCurrents)                                                                                       \
    X(getMultipleOutputConfigMaxCurrents)

#define WIENER_SNMP_OPTIONAL_ENTRY_POINTS(X)                                                                                \
    X(snmpLastError)                                                                                                        \
    X(getChannelBlock)                                                                                                      \
    X(getChannelBlocks)                                                                                                     \
    X(getModuleValues)                                                                                                      \
    X(snmpOpenConfigured)                                                                                                   \
    X(setChannelsSwitch)                                                                                                    \
    X(setChannelsVoltage)                                                                                                   \
    X(setChannelsCurrent)                                                                                                   \
    X(snmpResultText)

#endif /* WIENER_SNMP_ENTRY_POINTS_H */
