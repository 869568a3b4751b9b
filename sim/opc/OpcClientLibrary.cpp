// The stand-in "tesmarOpcClientLibrary": exactly the entry points the program binds, over an
// in-process OPC server (OpcStandInServer). For tests and demos only; it is built into its own
// folder of the build tree and never installed, so it cannot shadow a real client library.
//
// opc_init reads the layout named by TESMAR_OPC_SIM_CONFIG (the built-in one without it) when
// the first client opens; opc_quit of the last client drops the server. Texts returned belong to
// the calling thread and stay valid until its next call. Every entry point is thread-safe.
#include "OpcStandInServer.h"

#include "snmplib/interfaces/OpcClientEntryPoints.h"

#include <mutex>
#include <type_traits>

#define TESMAR_OPC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

OpcStandInServer& server()
{
    static OpcStandInServer instance;
    return instance;
}

std::mutex clientsMutex;
int clients = 0;

// The text most recently returned to this thread. Initial-exec TLS: the library is loaded with
// dlopen, and a small static block keeps it out of the dynamic TLS that LeakSanitizer walks
// (and, with some glibc versions, misreads) at the end of a sanitized test.
QByteArray& threadText()
{
    thread_local QByteArray text __attribute__((tls_model("initial-exec")));
    return text;
}

double readNumber(const char* item, bool* ok)
{
    double value = 0;
    const bool answered = item && server().readNumber(QByteArray(item), &value);
    if (ok)
        *ok = answered;
    return value;
}

const char* returnText(bool answered, bool* ok)
{
    if (ok)
        *ok = answered;
    return threadText().constData();
}

void writeNumber(const char* item, double value)
{
    if (item)
        server().write(QByteArray(item), value);
}

} // namespace

TESMAR_OPC_EXPORT void opc_init(int /*updateIntervalMs*/)
{
    std::lock_guard<std::mutex> lock(clientsMutex);
    if (clients++ == 0)
        server().load(QString::fromLocal8Bit(qgetenv("TESMAR_OPC_SIM_CONFIG")));
}

TESMAR_OPC_EXPORT void opc_quit(void)
{
    std::lock_guard<std::mutex> lock(clientsMutex);
    if (clients > 0 && --clients == 0)
        server().clear();
}

TESMAR_OPC_EXPORT bool opc_getBool(const char* item, bool* ok)
{
    return readNumber(item, ok) != 0;
}

TESMAR_OPC_EXPORT uint8_t opc_getByte(const char* item, bool* ok)
{
    return uint8_t(qint64(readNumber(item, ok)));
}

TESMAR_OPC_EXPORT uint16_t opc_getUnsignedShort(const char* item, bool* ok)
{
    return uint16_t(qint64(readNumber(item, ok)));
}

TESMAR_OPC_EXPORT uint32_t opc_getUnsignedLong(const char* item, bool* ok)
{
    return uint32_t(qint64(readNumber(item, ok)));
}

TESMAR_OPC_EXPORT float opc_getFloat(const char* item, bool* ok)
{
    return float(readNumber(item, ok));
}

TESMAR_OPC_EXPORT const char* opc_getString(const char* item, bool* ok)
{
    const bool answered = item && server().readText(QByteArray(item), &threadText());
    if (!item)
        threadText().clear();
    return returnText(answered, ok);
}

TESMAR_OPC_EXPORT const char* opc_getModuleList(bool* ok)
{
    return returnText(server().moduleList(&threadText()), ok);
}

TESMAR_OPC_EXPORT const char* opc_getChannelList(bool* ok)
{
    return returnText(server().channelList(&threadText()), ok);
}

TESMAR_OPC_EXPORT void opc_setBool(const char* item, bool value)
{
    writeNumber(item, value ? 1 : 0);
}

TESMAR_OPC_EXPORT void opc_setByte(const char* item, uint8_t value)
{
    writeNumber(item, value);
}

TESMAR_OPC_EXPORT void opc_setUnsignedShort(const char* item, uint16_t value)
{
    writeNumber(item, value);
}

TESMAR_OPC_EXPORT void opc_setUnsignedLong(const char* item, uint32_t value)
{
    writeNumber(item, value);
}

TESMAR_OPC_EXPORT void opc_setFloat(const char* item, float value)
{
    writeNumber(item, double(value));
}

// Every export has exactly the type the program binds.
#define TESMAR_OPC_CHECK_TYPE(name, result, parameters)                                                                     \
    static_assert(std::is_same_v<decltype(&name), OpcEntry_##name>, #name " differs from the entry point list");
TESMAR_OPC_ENTRY_POINTS(TESMAR_OPC_CHECK_TYPE)
#undef TESMAR_OPC_CHECK_TYPE
