#include "controller/VmUsb.h"

#include "controller/LogCategories.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("VmUsb", text);
}

} // namespace

VmUsb::VmUsb()
    : VmeLibraryBridge(libraryName)
{
    const bool bound = bindLibrary(
        m_entries, [](LibraryBinding& binding, Entries& entries) { TESMAR_XXUSB_ENTRY_POINTS(TESMAR_VME_RESOLVE) });
    if (!bound)
        return;
    XxusbDeviceEntry devices[TESMAR_XXUSB_MAX_DEVICES] = {};
    const qint16 count = qint16(m_entries.xxusb_devices_find(devices));
    if (count < 1) {
        m_errorText = translate("No VM-USB controller number %1 found!").arg(0);
        return;
    }
    m_handle = m_entries.xxusb_device_open(devices[0].usbDevice);
    const char* serial = devices[0].serialString;
    m_serialNumber = QString::fromLatin1(serial, int(qstrnlen(serial, sizeof devices[0].serialString)));
    long firmware = 0;
    if (m_handle)
        m_entries.xxusb_register_read(m_handle, 0, &firmware);
    qCDebug(lcVme).noquote() << "VM-USB sn." << '"' + m_serialNumber + '"' << "FW" << firmware;
}

VmUsb::~VmUsb()
{
    if (m_handle && m_entries.xxusb_device_close)
        m_entries.xxusb_device_close(m_handle);
    m_handle = nullptr;
}

int VmUsb::systemReset(int*)
{
    return 0;
}

int VmUsb::write16(quint32 address, int addressModifier, quint32 data, int* error)
{
    int code = noDevice;
    if (m_handle)
        code = qint16(m_entries.VME_write_16(m_handle, short(addressModifier), long(address), long(data)));
    if (error)
        *error = code;
    return code;
}

quint32 VmUsb::read16(quint32 address, int addressModifier, int* error)
{
    long data = 0;
    int code = noDevice;
    if (m_handle)
        code = qint16(m_entries.VME_read_16(m_handle, short(addressModifier), long(address), &data));
    if (error)
        *error = code;
    return quint32(data);
}

QString VmUsb::className()
{
    return translate("Wiener VM-USB");
}

QString VmUsb::connectionInfo()
{
    if (m_handle)
        return translate("Connected to VME controller Wiener %1.").arg(m_serialNumber);
    return translate("Not connected to Wiener XXUSB library!");
}

bool VmUsb::isConnected()
{
    return m_handle != nullptr;
}
