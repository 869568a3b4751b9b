#include "controller/V1718.h"

#include "controller/LogCategories.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibrary>

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("V1718", text);
}

// The names the debug log gives the entry points, in the order of TESMAR_CAENVME_ENTRY_POINTS.
constexpr const char* entryLogNames[] = {
    "softwareRelease", "init", "end", "boardFirmwareRelease", "readCycle", "writeCycle", "setTimeout", "systemReset"};

} // namespace

V1718::V1718()
{
    bindLibrary();
}

V1718::~V1718()
{
    if (m_CAENVME_End && m_handle != 0)
        m_CAENVME_End(m_handle);
    m_handle = 0;
}

void V1718::bindLibrary()
{
    // A local QLibrary: destroying it does not unload the library, so the resolved pointers stay
    // valid for the controller's life.
    QLibrary library(QString::fromLatin1(libraryName));
    if (!library.load()) {
        m_errorText = library.errorString();
        qCDebug(lcVme).noquote() << '"' + m_errorText + '"';
        return;
    }
    qCDebug(lcVme).noquote() << '"' + library.fileName() + '"' << "loaded";
    bool complete = true;
    int index = 0;
#define TESMAR_CAENVME_BIND(name, result, parameters)                                                                       \
    complete = resolveEntry(library, #name, m_##name) && complete;                                                          \
    qCDebug(lcVme).noquote() << QString::asprintf("%s = %p", entryLogNames[index++], reinterpret_cast<void*>(m_##name));
    TESMAR_CAENVME_ENTRY_POINTS(TESMAR_CAENVME_BIND)
#undef TESMAR_CAENVME_BIND
    if (!complete) {
        m_errorText = translate("Error while loading shared library '%1'").arg(QLatin1String(libraryName));
        qCDebug(lcVme).noquote() << '"' + m_errorText + '"';
        library.unload();
        // Nothing of a library that may be gone is called again.
#define TESMAR_CAENVME_CLEAR(name, result, parameters) m_##name = nullptr;
        TESMAR_CAENVME_ENTRY_POINTS(TESMAR_CAENVME_CLEAR)
#undef TESMAR_CAENVME_CLEAR
        return;
    }
    char release[128] = {};
    m_CAENVME_SWRelease(release);
    qCDebug(lcVme).noquote() << QString::asprintf("softwareRelease returns: %s", release);
    int32_t handle = 0;
    m_CAENVME_Init(TESMAR_CAENVME_BOARD_V1718, 0, 0, &handle);
    m_handle = handle;
}

int V1718::systemReset(int* error)
{
    // Without a bound library there is nothing to call: the bus answers like a missing board.
    int code = noBoard;
    if (m_CAENVME_SystemReset)
        code = m_CAENVME_SystemReset(m_handle);
    if (error)
        *error = code;
    return code;
}

int V1718::write16(quint32 address, int addressModifier, quint32 data, int* error)
{
    int code = noBoard;
    if (m_handle != 0) {
        quint16 word = quint16(data);
        code = m_CAENVME_WriteCycle(m_handle, address, &word, addressModifier, TESMAR_CAENVME_DATA_WIDTH_D16);
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
        code = m_CAENVME_ReadCycle(m_handle, address, &word, addressModifier, TESMAR_CAENVME_DATA_WIDTH_D16);
    if (error)
        *error = code;
    return word;
}

QString V1718::errorString()
{
    return m_errorText;
}

QString V1718::className()
{
    return translate("CAEN V1718");
}

QString V1718::connectionInfo()
{
    if (!m_CAENVME_SWRelease)
        return translate("Not connected to CAEN VME library!");
    char release[128] = {};
    m_CAENVME_SWRelease(release);
    return translate("CAEN VME library version ") + QString::fromLatin1(release);
}

QStringList V1718::stringList()
{
    return {};
}

bool V1718::isConnected()
{
    return m_handle != 0;
}
