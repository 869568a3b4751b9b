#pragma once

#include "WienerSnmp.h"

#include <string>

// What the entry points hand back to C callers: texts and block buffers. They live per calling
// thread and handle (see SessionRegistry::buffers), so a pointer returned to one thread is not
// overwritten by a call from another thread, and stays readable even when another thread closes
// the handle while the call runs.
struct ResultBuffers
{
    std::string text;
    std::string error; // snmpLastError: why the latest call of this thread on the handle failed
    SnmpIntegerBuffer integers{};
    SnmpDoubleBuffer doubles{};
};
