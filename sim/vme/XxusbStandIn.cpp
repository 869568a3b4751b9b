// The stand-in "xx_usb" library (tests and demos only): the VM-USB entry points the program binds,
// driving a simulated VME crate of its own (VmeCrateModel). Built into lib/vme-standin of the
// build tree and never installed, so it cannot shadow a real library.
//
// The crate is configured from TESMAR_VME_SIM_CONFIG (VmeSimConfig.h) whenever the devices are
// looked up with no device open, so a program that closes and searches again sees a fresh crate.
// Every configured VM-USB reaches the same crate. Thread-safe.
#include "VmeCrateModel.h"

#include "snmplib/interfaces/VmeEntryPoints.h"

#include <cstring>
#include <mutex>

#define TESMAR_VME_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr short badHandle = -2;
// What register 0 (the firmware id) reads.
constexpr long firmwareId = 0x5A10E007;

struct Bridge
{
    std::mutex mutex;
    VmeCrateModel crate;
    bool loaded = false;
    // Device tokens handed out by xxusb_devices_find and handles handed out by open: the address
    // of the element for device i.
    char deviceTokens[TESMAR_XXUSB_MAX_DEVICES] = {};
    char handleTokens[TESMAR_XXUSB_MAX_DEVICES] = {};
    bool open[TESMAR_XXUSB_MAX_DEVICES] = {};
    int deviceCount = 0;

    bool anyOpen() const
    {
        for (bool isOpen : open) {
            if (isOpen)
                return true;
        }
        return false;
    }

    void loadIfIdle()
    {
        if (loaded && anyOpen())
            return;
        crate.load(vmeCrateConfigFromEnvironment());
        deviceCount = std::min(int(crate.config().vmUsbSerials.size()), TESMAR_XXUSB_MAX_DEVICES);
        loaded = true;
    }

    // Device index of an open handle, -1 for anything else.
    int handleIndex(void* handle) const
    {
        const char* token = static_cast<const char*>(handle);
        if (token < handleTokens || token >= handleTokens + TESMAR_XXUSB_MAX_DEVICES)
            return -1;
        const int index = int(token - handleTokens);
        return open[index] ? index : -1;
    }
};

Bridge& bridge()
{
    static Bridge instance;
    return instance;
}

} // namespace

TESMAR_VME_EXPORT short xxusb_devices_find(struct XxusbDeviceEntry* devices)
{
    Bridge& b = bridge();
    std::lock_guard<std::mutex> lock(b.mutex);
    b.loadIfIdle();
    if (!devices)
        return 0;
    const QStringList serials = b.crate.config().vmUsbSerials;
    for (int i = 0; i < b.deviceCount; ++i) {
        devices[i].usbDevice = &b.deviceTokens[i];
        const QByteArray serial = serials.at(i).toLatin1();
        std::memcpy(devices[i].serialString, serial.constData(), sizeof devices[i].serialString);
    }
    return short(b.deviceCount);
}

TESMAR_VME_EXPORT void* xxusb_device_open(void* usbDevice)
{
    Bridge& b = bridge();
    std::lock_guard<std::mutex> lock(b.mutex);
    const char* token = static_cast<const char*>(usbDevice);
    if (!b.loaded || token < b.deviceTokens || token >= b.deviceTokens + b.deviceCount)
        return nullptr;
    const int index = int(token - b.deviceTokens);
    b.open[index] = true;
    return &b.handleTokens[index];
}

TESMAR_VME_EXPORT short xxusb_device_close(void* handle)
{
    Bridge& b = bridge();
    std::lock_guard<std::mutex> lock(b.mutex);
    const int index = b.handleIndex(handle);
    if (index < 0)
        return badHandle;
    b.open[index] = false;
    return 0;
}

TESMAR_VME_EXPORT int xxusb_register_read(void* handle, int registerNumber, long* value)
{
    Bridge& b = bridge();
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.handleIndex(handle) < 0)
        return badHandle;
    if (value)
        *value = registerNumber == 0 ? firmwareId : 0;
    return 0;
}

TESMAR_VME_EXPORT short VME_read_16(void* handle, short addressModifier, long address, long* data)
{
    Bridge& b = bridge();
    {
        std::lock_guard<std::mutex> lock(b.mutex);
        if (b.handleIndex(handle) < 0) {
            if (data)
                *data = 0;
            return badHandle;
        }
    }
    quint16 word = 0;
    const int code = address < 0 ? VmeCrateModel::busError : b.crate.read16(quint32(address), addressModifier, &word);
    if (data)
        *data = word;
    return short(code);
}

TESMAR_VME_EXPORT short VME_write_16(void* handle, short addressModifier, long address, long data)
{
    Bridge& b = bridge();
    {
        std::lock_guard<std::mutex> lock(b.mutex);
        if (b.handleIndex(handle) < 0)
            return badHandle;
    }
    if (address < 0)
        return VmeCrateModel::busError;
    return short(b.crate.write16(quint32(address), addressModifier, quint16(data & 0xFFFF)));
}
