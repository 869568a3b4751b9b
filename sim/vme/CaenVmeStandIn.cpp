// The stand-in "CAENVME" library (tests and demos only): the V1718 entry points the program binds,
// driving a simulated VME crate of its own (VmeCrateModel). Built into lib/vme-standin of the
// build tree and never installed, so it cannot shadow a real library.
//
// The crate is configured from TESMAR_VME_SIM_CONFIG (VmeSimConfig.h) when a board is opened
// while none is open; CAENVME_Init fails unless the configuration has a V1718. Thread-safe.
#include "VmeCrateModel.h"

#include "snmplib/interfaces/VmeEntryPoints.h"

#include <cstring>
#include <mutex>
#include <set>

#define TESMAR_VME_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The library's result codes.
constexpr int success = 0;
constexpr int busError = -1;
constexpr int commError = -2;
constexpr int invalidParameter = -4;

const char softwareRelease[] = "2.50-standin";
const char boardFirmwareRelease[] = "0.09-standin";

struct Bridge
{
    std::mutex mutex;
    VmeCrateModel crate;
    std::set<int32_t> handles;
    int32_t nextHandle = 1;

    bool isOpen(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return handles.count(handle) != 0;
    }
};

Bridge& bridge()
{
    static Bridge instance;
    return instance;
}

} // namespace

TESMAR_VME_EXPORT int CAENVME_SWRelease(char* release)
{
    if (!release)
        return invalidParameter;
    std::memcpy(release, softwareRelease, sizeof softwareRelease);
    return success;
}

TESMAR_VME_EXPORT int CAENVME_Init(int boardType, short /*link*/, short /*boardNumber*/, int32_t* handle)
{
    if (!handle)
        return invalidParameter;
    *handle = 0;
    Bridge& b = bridge();
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.handles.empty())
        b.crate.load(vmeCrateConfigFromEnvironment());
    if (boardType != TESMAR_CAENVME_BOARD_V1718)
        return invalidParameter;
    if (!b.crate.config().v1718)
        return commError;
    *handle = b.nextHandle++;
    b.handles.insert(*handle);
    return success;
}

TESMAR_VME_EXPORT int CAENVME_End(int32_t handle)
{
    Bridge& b = bridge();
    std::lock_guard<std::mutex> lock(b.mutex);
    return b.handles.erase(handle) ? success : invalidParameter;
}

TESMAR_VME_EXPORT int CAENVME_BoardFWRelease(int32_t handle, char* release)
{
    if (!release || !bridge().isOpen(handle))
        return invalidParameter;
    std::memcpy(release, boardFirmwareRelease, sizeof boardFirmwareRelease);
    return success;
}

TESMAR_VME_EXPORT int CAENVME_ReadCycle(int32_t handle, uint32_t address, void* data, int addressModifier, int dataWidth)
{
    if (!data || dataWidth != TESMAR_CAENVME_DATA_WIDTH_D16 || !bridge().isOpen(handle))
        return invalidParameter;
    quint16 word = 0;
    const int code = bridge().crate.read16(address, addressModifier, &word);
    *static_cast<uint16_t*>(data) = word;
    return code == 0 ? success : busError;
}

TESMAR_VME_EXPORT int CAENVME_WriteCycle(int32_t handle, uint32_t address, void* data, int addressModifier, int dataWidth)
{
    if (!data || dataWidth != TESMAR_CAENVME_DATA_WIDTH_D16 || !bridge().isOpen(handle))
        return invalidParameter;
    const int code = bridge().crate.write16(address, addressModifier, *static_cast<const uint16_t*>(data));
    return code == 0 ? success : busError;
}

TESMAR_VME_EXPORT int CAENVME_SetTimeout(int32_t handle, int /*timeout*/)
{
    return bridge().isOpen(handle) ? success : invalidParameter;
}

TESMAR_VME_EXPORT int CAENVME_SystemReset(int32_t handle)
{
    if (!bridge().isOpen(handle))
        return invalidParameter;
    bridge().crate.systemReset();
    return success;
}
