#include "SessionConfig.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Strict decimal parse: the whole text must be a number in [minimum, maximum].
bool parseNumber(const std::string& text, long minimum, long maximum, long* value)
{
    if (text.empty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    errno = 0;
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed < minimum || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

void readNumber(const char* variable, long minimum, long maximum, int* target)
{
    const char* text = std::getenv(variable);
    long value = 0;
    if (text && parseNumber(text, minimum, maximum, &value))
        *target = static_cast<int>(value);
}

void readText(const char* variable, std::string* target)
{
    const char* text = std::getenv(variable);
    if (text && *text)
        *target = text;
}

} // namespace

bool SessionConfig::fromAddress(const char* address, SessionConfig* config)
{
    return fromAddress(address, SessionConfig(), config);
}

bool SessionConfig::fromAddress(const char* address, const SessionConfig& defaults, SessionConfig* config)
{
    if (!address || !config)
        return false;
    SessionConfig c;
    if (defaults.port >= 1 && defaults.port <= 65535)
        c.port = defaults.port;
    if (!defaults.readCommunity.empty())
        c.readCommunity = defaults.readCommunity;
    if (!defaults.writeCommunity.empty())
        c.writeCommunity = defaults.writeCommunity;
    if (defaults.timeoutMs >= 1 && defaults.timeoutMs <= 60000)
        c.timeoutMs = defaults.timeoutMs;
    if (defaults.retries >= 0 && defaults.retries <= 10)
        c.retries = defaults.retries;
    readNumber("TESMAR_SNMP_PORT", 1, 65535, &c.port);
    readText("TESMAR_SNMP_READ_COMMUNITY", &c.readCommunity);
    readText("TESMAR_SNMP_WRITE_COMMUNITY", &c.writeCommunity);
    readNumber("TESMAR_SNMP_TIMEOUT_MS", 1, 60000, &c.timeoutMs);
    readNumber("TESMAR_SNMP_RETRIES", 0, 10, &c.retries);

    std::string text(address);
    // Surrounding blanks come from typed or stored addresses; they are never part of a host.
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);

    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        if (text.find(':', colon + 1) != std::string::npos)
            return false; // IPv6 literals are not crate addresses
        long port = 0;
        if (!parseNumber(text.substr(colon + 1), 1, 65535, &port))
            return false;
        c.port = static_cast<int>(port);
        text.resize(colon);
    }
    if (text.empty())
        return false;
    c.host = text;
    *config = c;
    return true;
}

std::string SessionConfig::peerName() const
{
    return "udp:" + host + ":" + std::to_string(port);
}
