#include "SessionRegistry.h"

#include "SnmpSession.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdint>
#include <map>

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

const char* const applicationType = "WIENER_SNMP";

} // namespace

std::mutex& SessionRegistry::netsnmpMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool SessionRegistry::initialise()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.initialised)
        return true;
    std::lock_guard<std::mutex> netsnmpLock(netsnmpMutex());
    // Numeric OIDs only: no MIB directory, no MIB modules. A user's snmp.conf must not change
    // versions, ports or MIB loading behind our back, and a client has no state to persist.
    netsnmp_set_mib_directory("");
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIBDIRS, "");
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_LOAD_HOST_FILES, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_QUICK_PRINT, 1);
    init_snmp(applicationType);
    r.initialised = true;
    return true;
}

void SessionRegistry::cleanup()
{
    Registry& r = registry();
    std::map<uintptr_t, std::shared_ptr<SnmpSession>> closing;
    std::lock_guard<std::mutex> lock(r.mutex);
    closing.swap(r.sessions);
    bool inUse = false;
    for (const auto& entry : closing)
        inUse = inUse || entry.second.use_count() > 1;
    closing.clear();
    // A call still running on another thread keeps its session alive; net-snmp stays up for
    // it and is shut down by a later cleanup.
    if (r.initialised && !inUse) {
        std::lock_guard<std::mutex> netsnmpLock(netsnmpMutex());
        snmp_shutdown(applicationType);
        r.initialised = false;
    }
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
