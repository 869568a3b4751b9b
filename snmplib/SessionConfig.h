#pragma once

#include <string>

// Where and how one handle talks to its crate: peer, communities and time budget. Built by
// snmpOpen from the address and the environment of the moment.
struct SessionConfig
{
    // A crate answers within a few milliseconds on a local network; 200 ms with one retry
    // bounds a request to a silent crate to 0.4 s, which the GUI thread can afford once per
    // hold-off period.
    static constexpr int defaultTimeoutMs = 200;
    static constexpr int defaultRetries = 1;
    static constexpr int defaultPort = 161;

    std::string host;
    int port = defaultPort;
    std::string readCommunity = "public";
    std::string writeCommunity = "guru";
    int timeoutMs = defaultTimeoutMs;
    int retries = defaultRetries;

    // Reads TESMAR_SNMP_PORT, TESMAR_SNMP_READ_COMMUNITY, TESMAR_SNMP_WRITE_COMMUNITY,
    // TESMAR_SNMP_TIMEOUT_MS and TESMAR_SNMP_RETRIES (unset or malformed values keep the
    // defaults), then takes the host and, given as "host:port", the port from the address.
    // False for an empty host or a malformed port in the address.
    static bool fromAddress(const char* address, SessionConfig* config);
    // The same with the caller's settings in place of the built-in defaults: `defaults` gives
    // port, communities, time-out and retries (its host is ignored); the variables and a port in
    // the address still win over them. Values out of range in `defaults` keep the built-in ones.
    static bool fromAddress(const char* address, const SessionConfig& defaults, SessionConfig* config);

    // net-snmp peer name, "udp:host:port".
    std::string peerName() const;
};
