#include "controller/V1718.h"

#include "controller/LogCategories.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("V1718", text);
}

} // namespace

V1718::V1718()
    : VmeLibraryBridge(libraryName)
{
    const bool bound = bindLibrary(
        m_entries, [](LibraryBinding& binding, Entries& entries) { TESMAR_CAENVME_ENTRY_POINTS(TESMAR_VME_RESOLVE) });
    if (!bound)
        return;
    char release[128] = {};
    m_entries.CAENVME_SWRelease(release);
    qCDebug(lcVme).noquote() << QString::asprintf("softwareRelease returns: %s", release);
    int32_t handle = 0;
    m_entries.CAENVME_Init(TESMAR_CAENVME_BOARD_V1718, 0, 0, &handle);
    m_handle = handle;
}

V1718::~V1718()
{
    if (m_entries.CAENVME_End && m_handle != 0)
        m_entries.CAENVME_End(m_handle);
    m_handle = 0;
}

int V1718::systemReset(int* error)
{
    // Without a bound library there is nothing to call: the bus answers like a missing board.
    int code = noBoard;
    if (m_entries.CAENVME_SystemReset)
        code = m_entries.CAENVME_SystemReset(m_handle);
    if (error)
        *error = code;
    return code;
}

int V1718::write16(quint32 address, int addressModifier, quint32 data, int* error)
{
    int code = noBoard;
    if (m_handle != 0) {
        quint16 word = quint16(data);
        code = m_entries.CAENVME_WriteCycle(m_handle, address, &word, addressModifier, TESMAR_CAENVME_DATA_WIDTH_D16);
    }
    if (error)
        *error = code;
    return code;
}

quint32 V1718::read16(quint32 address, int addressModifier, int* error)
{
    quint16 word = 0;
    int code = noBoard;
    if (m_handle != 0)
        code = m_entries.CAENVME_ReadCycle(m_handle, address, &word, addressModifier, TESMAR_CAENVME_DATA_WIDTH_D16);
    if (error)
        *error = code;
    return word;
}

QString V1718::className()
{
    return translate("CAEN V1718");
}

QString V1718::connectionInfo()
{
    if (!m_entries.CAENVME_SWRelease)
        return translate("Not connected to CAEN VME library!");
    char release[128] = {};
    m_entries.CAENVME_SWRelease(release);
    return translate("CAEN VME library version ") + QString::fromLatin1(release);
}

bool V1718::isConnected()
{
    return m_handle != 0;
}
