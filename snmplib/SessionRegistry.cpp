#include "SessionRegistry.h"

#include "ResultBuffers.h"
#include "SnmpSession.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Registry
{
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<SnmpSession>> sessions;
    uintptr_t nextHandle = 1;
    bool initialised = false;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

std::mutex& SessionRegistry::netsnmpMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool SessionRegistry::initialise(std::string* reason)
{
    reason->clear();
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.initialised)
        return true;
    // Every request goes out over UDP: a process that may not open a UDP socket (no socket
    // left, a sandbox without network) can do nothing with this library, and should hear why.
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) {
        *reason = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return false;
    }
    ::close(probe);
    std::lock_guard<std::mutex> netsnmpLock(netsnmpMutex());
    // A v2c client with numeric OIDs needs only net-snmp's core (request ids, transports), which
    // snmp_sess_init sets up. init_snmp would also parse MIB files, read snmp.conf files and
    // create persistent-state and certificate folders: none of that is wanted here, and a
    // user's snmp.conf must not change versions or ports behind our back.
    netsnmp_session defaults;
    snmp_sess_init(&defaults);
    r.initialised = true;
    return true;
}

void SessionRegistry::cleanup()
{
    // Sessions close when the last call still using them returns; net-snmp's core keeps no
    // resources worth releasing, so a later snmpInit/snmpOpen simply continues.
    std::map<uintptr_t, std::shared_ptr<SnmpSession>> closing;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    closing.swap(r.sessions);
}

void* SessionRegistry::add(std::shared_ptr<SnmpSession> session)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const uintptr_t handle = r.nextHandle++;
    r.sessions.emplace(handle, std::move(session));
    return reinterpret_cast<void*>(handle);
}

std::shared_ptr<SnmpSession> SessionRegistry::find(void* handle)
{
    if (!handle)
        return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto it = r.sessions.find(reinterpret_cast<uintptr_t>(handle));
    return it == r.sessions.end() ? nullptr : it->second;
}

void SessionRegistry::remove(void* handle)
{
    std::shared_ptr<SnmpSession> closing;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto it = r.sessions.find(reinterpret_cast<uintptr_t>(handle));
    if (it == r.sessions.end())
        return;
    closing = std::move(it->second);
    r.sessions.erase(it);
    // `closing` is released after the lock: the session closes its sockets now, or when the
    // last call still using it returns.
}

ResultBuffers& SessionRegistry::buffers(void* handle)
{
    thread_local std::map<uintptr_t, std::unique_ptr<ResultBuffers>> perHandle;
    const uintptr_t key = reinterpret_cast<uintptr_t>(handle);
    std::unique_ptr<ResultBuffers>& slot = perHandle[key];
    if (!slot) {
        slot.reset(new ResultBuffers);
        // Handles are never reused: buffers of handles no longer open are garbage.
        if (perHandle.size() > 8) {
            Registry& r = registry();
            std::lock_guard<std::mutex> lock(r.mutex);
            for (auto it = perHandle.begin(); it != perHandle.end();) {
                if (it->first != key && r.sessions.count(it->first) == 0)
                    it = perHandle.erase(it);
                else
                    ++it;
            }
        }
    }
    return *slot;
}
