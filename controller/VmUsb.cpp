#include "controller/VmUsb.h"

#include "controller/FatalErrorHandler.h"
#include "controller/LogCategories.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibrary>

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("VmUsb", text);
}

// The names the debug log gives the entry points, in the order of TESMAR_XXUSB_ENTRY_POINTS.
constexpr const char* entryLogNames[] = {
    "xxusbDevicesFind", "xxusbDeviceOpen", "xxusbDeviceClose", "xxusbRegisterRead", "vmeRead16", "vmeWrite16"};

} // namespace

VmUsb::VmUsb()
{
    bindLibrary();
}

VmUsb::~VmUsb()
{
    if (m_handle && m_xxusb_device_close)
        m_xxusb_device_close(m_handle);
    m_handle = nullptr;
}

void VmUsb::bindLibrary()
{
    // A local QLibrary: destroying it does not unload the library, so the resolved pointers stay
    // valid for the controller's life.
    QLibrary library(QString::fromLatin1(libraryName));
    bool usable = library.load();
    if (!usable) {
        m_errorText = library.errorString();
        qCDebug(lcVme).noquote() << '"' + m_errorText + '"';
    } else {
        qCDebug(lcVme).noquote() << '"' + library.fileName() + '"' << "loaded";
        int index = 0;
#define TESMAR_XXUSB_BIND(name, result, parameters)                                                                         \
    usable = resolveEntry(library, #name, m_##name) && usable;                                                              \
    qCDebug(lcVme).noquote() << QString::asprintf("%s = %p", entryLogNames[index++], reinterpret_cast<void*>(m_##name));
        TESMAR_XXUSB_ENTRY_POINTS(TESMAR_XXUSB_BIND)
#undef TESMAR_XXUSB_BIND
        if (!usable) {
            m_errorText = translate("Error while loading shared library '%1'").arg(QLatin1String(libraryName));
            library.unload();
#define TESMAR_XXUSB_CLEAR(name, result, parameters) m_##name = nullptr;
            TESMAR_XXUSB_ENTRY_POINTS(TESMAR_XXUSB_CLEAR)
#undef TESMAR_XXUSB_CLEAR
        }
    }
    if (!usable) {
        FatalErrorHandler::raise(translate("Tesmar SNMP Control"),
            translate("Error while loading shared library '%1' or one of its dependencies!\n\nProgram will be terminated.")
                .arg(library.fileName()),
            1);
        return;
    }

    XxusbDeviceEntry devices[TESMAR_XXUSB_MAX_DEVICES] = {};
    const qint16 count = qint16(m_xxusb_devices_find(devices));
    if (count < 1) {
        m_errorText = translate("No VM-USB controller number %1 found!").arg(0);
        return;
    }
    m_handle = m_xxusb_device_open(devices[0].usbDevice);
    const char* serial = devices[0].serialString;
    m_serialNumber = QString::fromLatin1(serial, int(qstrnlen(serial, sizeof devices[0].serialString)));
    long firmware = 0;
    if (m_handle)
        m_xxusb_register_read(m_handle, 0, &firmware);
    qCDebug(lcVme).noquote() << "VM-USB sn." << '"' + m_serialNumber + '"' << "FW" << firmware;
}

int VmUsb::systemReset(int*)
{
    return 0;
}

int VmUsb::write16(quint32 address, int addressModifier, quint32 data, int* error)
{
    int code = noDevice;
    if (m_handle)
        code = qint16(m_VME_write_16(m_handle, short(addressModifier), long(address), long(data)));
    if (error)
        *error = code;
    return code;
}

quint32 VmUsb::read16(quint32 address, int addressModifier, int* error)
{
    long data = 0;
    int code = noDevice;
    if (m_handle)
        code = qint16(m_VME_read_16(m_handle, short(addressModifier), long(address), &data));
    if (error)
        *error = code;
    return quint32(data);
}

QString VmUsb::errorString()
{
    return m_errorText;
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

QStringList VmUsb::stringList()
{
    return {};
}

bool VmUsb::isConnected()
{
    return m_handle != nullptr;
}
