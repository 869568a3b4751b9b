#include "controller/SnmpController.h"

#include "controller/InstallLayout.h"
#include "controller/Ipv4Text.h"
#include "controller/LogCategories.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHostAddress>
#include <QtEndian>

#include <cstring>

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("SnmpController", text);
}

// The library installed with the program, when the program runs from an installation; otherwise
// the name, found by the dynamic linker (LD_LIBRARY_PATH, the system's library folders).
QString libraryName()
{
    const QString installed =
        InstallLayout::installedFile(InstallLayout::libraryFolder, QStringLiteral("libWIENER_SNMP.so"));
    return installed.isEmpty() ? QStringLiteral("WIENER_SNMP") : installed;
}

// A reason the library gives, its "timeout" as "no answer".
QString reasonText(const char* reason)
{
    if (reason && std::strcmp(reason, "timeout") == 0)
        return QStringLiteral("no answer");
    return QString::fromLatin1(reason ? reason : "");
}

} // namespace

SnmpController::SnmpController()
    : m_binding(libraryName(), lcSnmp())
{
    bindLibrary();
}

SnmpController::~SnmpController()
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    if (m_handle && snmpClose)
        snmpClose(m_handle);
    m_handle = nullptr;
}

void SnmpController::bindLibrary()
{
    // The library stays loaded for the program's life (the binding never unloads a complete
    // library), so the resolved pointers stay valid even after this controller is gone.
    if (!m_binding.load()) {
        recordInitialisationFailure(m_binding.loaderError());
        return;
    }
#define TESMAR_BIND_REQUIRED(name) m_binding.resolve(#name, name);
#define TESMAR_BIND_OPTIONAL(name) m_binding.resolve(#name, name, false);
    WIENER_SNMP_REQUIRED_ENTRY_POINTS(TESMAR_BIND_REQUIRED)
    WIENER_SNMP_OPTIONAL_ENTRY_POINTS(TESMAR_BIND_OPTIONAL)
#undef TESMAR_BIND_REQUIRED
#undef TESMAR_BIND_OPTIONAL

    m_handle = nullptr;
    if (!snmpInit) {
        recordInitialisationFailure(translate("%1 has no entry snmpInit.").arg(m_binding.fileName()));
        return;
    }
    if (snmpInit() == 0) {
        // The library keeps the reason under the null handle; a library without snmpLastError
        // gives none.
        const char* reason = snmpLastError ? snmpLastError(nullptr) : nullptr;
        recordInitialisationFailure(
            reason && *reason ? QString::fromLocal8Bit(reason) : translate("%1 gave no reason.").arg(m_binding.fileName()));
        return;
    }
    // A library that initialises but lacks a required entry is not used either.
    if (!m_binding.isComplete()) {
        recordLibraryFailure(m_binding.failure());
        return;
    }
    m_libraryReady = true;
}

void SnmpController::recordInitialisationFailure(const QString& reason)
{
    recordLibraryFailure(translate("Error while initializing SNMP!\n%1").arg(reason));
}

void SnmpController::setConnectionSettings(const SnmpConnectionSettings& settings)
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    m_connectionSettings = settings;
}

bool SnmpController::open(const QString& address)
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    m_address = address;
    const QByteArray host = address.toLatin1();
    if (m_libraryReady && snmpOpenConfigured) {
        const QByteArray readCommunity = m_connectionSettings.readCommunity.toLatin1();
        const QByteArray writeCommunity = m_connectionSettings.writeCommunity.toLatin1();
        m_handle = snmpOpenConfigured(host.constData(), m_connectionSettings.port, readCommunity.constData(),
            writeCommunity.constData(), m_connectionSettings.timeoutMs, m_connectionSettings.retries);
    } else if (m_libraryReady && snmpOpen) {
        m_handle = snmpOpen(host.constData());
    }
    return isConnected();
}

QString SnmpController::address()
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    return m_address;
}

bool SnmpController::isConnected()
{
    const char* serial = call(&SnmpController::getPsSerialNumber);
    return serial && *serial;
}

bool SnmpController::setIpAddress(const QString& address)
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    if (!m_handle)
        return false;
    // Only a strict dotted quad: an unparsable text must not reach the crate as 0.0.0.0 (which
    // switches it to DHCP), short forms such as "192.168.1" and leading zeros (read as octal)
    // would name another address.
    if (!Ipv4Text::isStrictDottedQuad(address))
        return false;
    bool isIpv4 = false;
    const quint32 value = QHostAddress(address).toIPv4Address(&isIpv4);
    if (!isIpv4)
        return false;
    // The crate wants the first dotted number in the least significant byte.
    return call(&SnmpController::setIpStaticAddress, qbswap(value)) != 0;
}

void SnmpController::setLiveInsertion(bool)
{
}

bool SnmpController::liveInsertion()
{
    return false;
}

BusStatus SnmpController::busStatus()
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    const int mainSwitch = call(&SnmpController::getMainSwitch);
    // A read that failed (packet loss, a silent crate) says nothing about the crate's power.
    if (!errorString().isEmpty())
        return {BusStatus::State::NotAnswering, translate("Crate does not answer!")};
    if (mainSwitch != 0)
        return {BusStatus::State::Ok, translate("Bus status: OK")};
    return {BusStatus::State::PoweredOff, translate("MPOD is powered off!")};
}

QString SnmpController::errorString()
{
    return reasonText(call(&SnmpController::snmpLastError));
}

QString SnmpController::resultText(int code)
{
    if (code == WIENER_WRITE_TAKEN)
        return QString();
    const QString reason = reasonText(snmpResultText ? snmpResultText(code) : nullptr);
    return reason.isEmpty() ? QStringLiteral("not confirmed by the crate") : reason;
}

QString SnmpController::className()
{
    return QStringLiteral("SnmpController");
}

QString SnmpController::connectionInfo()
{
    return translate("Connected to %1.").arg(address());
}

QStringList SnmpController::stringList()
{
    return m_stringList;
}
