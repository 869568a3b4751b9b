#include "device/DeviceSession.h"

DeviceSession::~DeviceSession() = default;
