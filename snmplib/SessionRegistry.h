#pragma once

#include <memory>
#include <mutex>
#include <string>

class SnmpSession;
struct ResultBuffers;

// Process-wide state of the library: net-snmp's initialisation and the table of open handles.
// Handles are numbers, never reused, so a handle that was closed (or never opened) is simply
// not found and answers like a null handle instead of touching freed memory.
//
// Thread-safety: all members are callable from any thread.
class SessionRegistry
{
public:
    // Initialises net-snmp once, without MIB files, configuration files or persistent state.
    // On failure returns false with the reason in `reason`.
    static bool initialise(std::string* reason);
    // Closes every handle.
    static void cleanup();

    static void* add(std::shared_ptr<SnmpSession> session);
    static std::shared_ptr<SnmpSession> find(void* handle);
    static void remove(void* handle);

    // The calling thread's result buffers for a handle. They belong to the thread, not to the
    // session: a result stays valid until the thread's next call on that handle even if another
    // thread closes the handle meanwhile. Buffers of closed handles are dropped as the thread
    // opens more.
    static ResultBuffers& buffers(void* handle);

    // Serialises net-snmp's process-wide state (request id counter, session list, transports):
    // held around PDU creation, session open/close and initialisation, never while waiting for
    // an answer.
    static std::mutex& netsnmpMutex();
};
