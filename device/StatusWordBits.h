#pragma once

#include <QtGlobal>

// Bits of the 16-bit module and channel words as every module kind reports them, named once so
// the table, the commands and the device classes agree on them.
namespace ChannelStatusBit {
inline constexpr quint32 on = 0x0008;
inline constexpr quint32 ramping = 0x0010;
inline constexpr quint32 emergencyOff = 0x0020;
inline constexpr quint32 constantCurrent = 0x0040;
inline constexpr quint32 constantVoltage = 0x0080;
inline constexpr quint32 currentBounds = 0x0400;
inline constexpr quint32 voltageBounds = 0x0800;
inline constexpr quint32 externalInhibit = 0x1000;
inline constexpr quint32 currentTrip = 0x2000;
inline constexpr quint32 currentLimit = 0x4000;
inline constexpr quint32 voltageLimit = 0x8000;
} // namespace ChannelStatusBit

namespace ChannelControlBit {
// Measurement modules only.
inline constexpr quint32 externalMeasurement = 0x0002;
inline constexpr quint32 rippleMeasurement = 0x0004;
inline constexpr quint32 on = 0x0008;
inline constexpr quint32 emergencyOff = 0x0020;
inline constexpr quint32 asymmetricCurrentBounds = 0x0400;
inline constexpr quint32 asymmetricVoltageBounds = 0x0800;
} // namespace ChannelControlBit

namespace ModuleStatusBit {
// Stopped / live insertion (isSTOP): user nominal values may only be changed then.
inline constexpr quint32 stopped = 0x0004;
// The module runs its service mode (isSPMD): firmware transfer, base address.
inline constexpr quint32 specialMode = 0x0040;
} // namespace ModuleStatusBit

namespace ModuleControlBit {
// Asks for the service mode (setSPMD); the module enters it only together with stop.
inline constexpr quint32 specialMode = 0x0001;
// Asks for stop mode (setSTOP); ModuleStatusBit::stopped tells when the module is there.
inline constexpr quint32 stop = 0x0004;
// Clears the module's and its channels' events (doCLEAR).
inline constexpr quint32 clearEvents = 0x0040;
inline constexpr quint32 fineAdjustment = 0x1000;
inline constexpr quint32 killEnable = 0x4000;
// Stores the set values as the module's defaults (doSVSV); the module clears it when done.
inline constexpr quint32 saveSetValues = 0x8000;
// What a program writes to enter the service mode.
inline constexpr quint32 enterSpecialMode = specialMode | stop;
} // namespace ModuleControlBit
