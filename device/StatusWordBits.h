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
// Stopped / live insertion: user nominal values may only be changed then.
inline constexpr quint32 stopped = 0x0004;
} // namespace ModuleStatusBit

namespace ModuleControlBit {
inline constexpr quint32 clearEvents = 0x0040;
inline constexpr quint32 fineAdjustment = 0x1000;
inline constexpr quint32 killEnable = 0x4000;
} // namespace ModuleControlBit
