#pragma once

#include "controller/BaseController.h"
#include "controller/LibraryBinding.h"
#include "controller/SnmpConnectionSettings.h"

// Only for the entry point types: the library is bound at run time with QLibrary, never linked.
#include "snmplib/WienerSnmp.h"
#include "snmplib/WienerSnmpEntryPoints.h"

#include <type_traits>

// Controller of an MPOD crate reached by SNMP through the run-time library "WIENER_SNMP".
// Construction loads and binds the library and calls its initialisation. When either fails, or
// a required entry is missing, the controller stays inert and libraryFailure() says why
// ("Error while initializing SNMP!" and the reason, or the missing library).
//
// Modules, crates and the discovery reach the library through call(), which passes the
// connection handle, answers a zero value for an entry the library lacks, and holds mutex() so
// that the library's returned buffers are copied out before another thread can overwrite them.
class SnmpController : public BaseController
{
public:
    SnmpController();
    ~SnmpController() override;

    // Settings the next open() uses (the TESMAR_SNMP_* variables still win over them). A library
    // without snmpOpenConfigured ignores them and reads only the variables.
    void setConnectionSettings(const SnmpConnectionSettings& settings);
    bool open(const QString& address) override;
    QString address() override;
    bool isConnected() override;
    // Stores a new static IPv4 address in the crate; "0.0.0.0" switches it to DHCP. Text that
    // is not a strict dotted quad (Ipv4Text) is refused (false) and nothing is sent; false too
    // when the crate does not take it.
    bool setIpAddress(const QString& address) override;
    void setLiveInsertion(bool on) override;
    bool liveInsertion() override;
    // From one read of the main switch: Ok "Bus status: OK", PoweredOff "MPOD is powered off!"
    // or, when the read failed, NotAnswering "Crate does not answer!".
    BusStatus busStatus() override;
    // Why the calling thread's latest library call failed (snmpLastError), "" after a success
    // and always with a library that cannot tell. The library's "timeout" reads "no answer": the
    // text every device kind gives for a request nobody answered, so that callers never take a
    // time-out for a refusal.
    QString errorString() override;
    // The reason a result code of the setChannels entries names (snmpResultText), with the
    // library's "timeout" read as "no answer" as in errorString(); "" for a write taken.
    QString resultText(int code);
    QString className() override;
    QString connectionInfo() override;
    QStringList stringList() override;

    HSNMP handle() const { return m_handle; }
    // True when the library was loaded, complete and initialised (libraryFailure() is empty).
    bool isLibraryReady() const { return m_libraryReady; }

    // Calls the entry point held in member `entry` with the connection handle followed by
    // `arguments`. An unresolved entry, or any entry of a library that failed to initialise,
    // answers a value-initialised result (0, nullptr) without calling into the library.
    // Locked inside; callable from any thread.
    template <typename Entry, typename... Args>
    auto call(Entry SnmpController::*entry, Args... arguments)
    {
        std::lock_guard<std::recursive_mutex> lock(mutex());
        const Entry function = this->*entry;
        using Result = decltype(function(HSNMP{}, arguments...));
        if (!function || !m_libraryReady) {
            if constexpr (std::is_void_v<Result>)
                return;
            else
                return Result{};
        }
        return function(m_handle, arguments...);
    }

    // The library's channel index of `channel` in `slot`.
    static int channelIndex(int slot, int channel) { return slot * 100 + channel; }

    // Library entry points; null when not resolved.
#define TESMAR_SNMP_ENTRY_MEMBER(name) decltype(&::name) name = nullptr;
    WIENER_SNMP_REQUIRED_ENTRY_POINTS(TESMAR_SNMP_ENTRY_MEMBER)
    WIENER_SNMP_OPTIONAL_ENTRY_POINTS(TESMAR_SNMP_ENTRY_MEMBER)
#undef TESMAR_SNMP_ENTRY_MEMBER

#define TESMAR_SNMP_ENTRY_COUNT(name) +1
    static constexpr int requiredEntryPointCount = 0 WIENER_SNMP_REQUIRED_ENTRY_POINTS(TESMAR_SNMP_ENTRY_COUNT);
#undef TESMAR_SNMP_ENTRY_COUNT

    // Names of the required entries the loaded library lacks (empty when it has them all).
    QStringList missingEntryPoints() const
    {
        return m_binding.missingEntries();
    }

private:
    void bindLibrary();
    void recordInitialisationFailure(const QString& reason);

    LibraryBinding m_binding;
    QString m_address;
    SnmpConnectionSettings m_connectionSettings;
    QStringList m_stringList;
    QStringList m_secondList;
    HSNMP m_handle = nullptr;
    bool m_libraryReady = false;
};
