#pragma once

#include "CrateOid.h"
#include "SessionConfig.h"
#include "SnmpValue.h"

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct snmp_pdu;
struct snmp_session;

// One crate connection behind an HSNMP handle: a net-snmp single session for reads (read
// community) and one for writes (write community), the request splitting, the time-out
// hold-off.
//
// Thread-safety: not locked by itself. Callers hold mutex() for the whole entry point, so the
// GUI thread and a script thread calling on one handle are serialised; different handles are
// independent (net-snmp's single-session API keeps no shared per-session state).
class SnmpSession
{
public:
    // Largest request or response one request may need (SNMP message, estimated from the BER
    // encoding). A UDP payload under 1400 octets stays in one Ethernet frame without IP
    // fragmentation, and crate agents answer such requests reliably; 48 Float values of a
    // 48-channel module fit into one request.
    static constexpr size_t maxMessageBytes = 1400;
    // After the crate fell silent every request fails at once for this long; the first request
    // after it probes the crate with a single attempt.
    static constexpr std::chrono::milliseconds holdOff{1000};
    // A crate is silent after this many time-outs in a row with nothing answered for at least
    // silenceBeforeHoldOff. One or two lost requests (with their retries) are what a lossy
    // network does now and then; stopping the handle for a whole second after them would blank
    // the window for nothing (with 30% loss about one single request in eleven times out).
    static constexpr int timeoutsBeforeHoldOff = 2;
    static constexpr std::chrono::milliseconds silenceBeforeHoldOff{1000};

    // Encoded size of one value in a response, for request splitting.
    enum ValueBytes : size_t {
        IntegerValue = 6, // INTEGER up to 32 bits
        FloatValue = 9,   // Opaque(9f 78 04 + 4 octets)
        BitsValue = 10,   // OCTET STRING of up to 8 octets
        TextValue = 130,  // DisplayString; texts we read are short
    };

    static std::unique_ptr<SnmpSession> open(const SessionConfig& config);
    ~SnmpSession();
    SnmpSession(const SnmpSession&) = delete;
    SnmpSession& operator=(const SnmpSession&) = delete;

    std::mutex& mutex() { return m_mutex; }

    // GETs the objects, split into as few requests as the size bound allows. The result has
    // one entry per OID; entries the crate did not deliver (no such instance, no answer, error)
    // are invalid. Stops at the first request that fails, leaving the rest invalid. `answered`
    // tells whether every request got an answer without error (a missing instance is an answer).
    std::vector<SnmpValue> get(const std::vector<CrateOid::Oid>& oids, size_t valueBytes, bool* answered = nullptr);
    SnmpValue get(const CrateOid::Oid& oid, size_t valueBytes = IntegerValue, bool* answered = nullptr);

    // One column of a getTogether() call: the objects to read, the encoded size of one value,
    // and what came back.
    struct Column
    {
        std::vector<CrateOid::Oid> oids;
        size_t valueBytes = IntegerValue;
        // One entry per OID; invalid where the crate delivered nothing.
        std::vector<SnmpValue> results;
        // Every request of the column was answered without error (a missing instance is an
        // answer).
        bool answered = false;
    };

    // GETs several columns at once: every request of the call leaves before the first answer is
    // awaited, so the call costs about one round trip instead of one per request. Each column is
    // split like get(); a tooBig answer is asked again in halves. A request without an answer is
    // sent again after the time-out (the configured retries) while the answers of the others
    // are kept. The hold-off starts only when no request of the call was answered: packet loss
    // costs the lost values, only a silent crate stops the caller. failure() tells the first
    // failure of the call.
    void getTogether(std::vector<Column>& columns);

    // What setTogether() tells about each object: taken, the error status of the crate's answer
    // (positive, RFC 3416 numbering), or one of the negative reasons.
    enum SetResult : int {
        SetTaken = 0,
        SetTimedOut = -1,    // no answer (also during the hold-off)
        SetNotAnswered = -2, // the write was not answered, a read right after it was
        SetNotSent = -3,     // the request could not be sent or its answer not be read
    };
    // The name of a SetResult: "" for SetTaken, "timeout", "write not answered", the error
    // status name ("wrongValue", "noAccess", ...) or "cannot reach the crate".
    static const char* setResultName(int result);

    // SETs each object on its own terms: every request of the call leaves before the first
    // answer is awaited (split like set(), a tooBig answer sent again in halves), so the call
    // costs about one round trip. SNMP takes a request whole or not at all: when a request of
    // several objects is refused, its objects are sent again one per request (together) to find
    // the one the crate refuses. Time-outs, retries and the hold-off as in getTogether(); when
    // writes timed out while the crate is not held off, one read with a single attempt tells
    // "write not answered" from a silent crate, as after set(). One SetResult per object.
    std::vector<int> setTogether(const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>& values);

    // SETs the objects (Real values as Opaque Float, Integer as INTEGER, Bytes with their ASN
    // type), split like get(). True only when every request was answered without error.
    bool set(const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>& values);
    bool set(const CrateOid::Oid& oid, const SnmpValue& value);

    // Largest number of varbinds per request after tooBig answers; 0 while unlimited.
    size_t varbindLimit() const { return m_varbindLimit; }

    // Why the latest get() or set() did not deliver everything: "timeout" (no answer, or refused
    // during the hold-off), the error-status name of an error answer ("wrongValue", "noAccess",
    // ...), the exception of a value the crate has not got ("noSuchInstance", ...), or the
    // transport's reason. Only the first failure of a call is kept; empty after a full success.
    const std::string& failure() const { return m_failure; }
    // Starts a call: forgets the previous call's failure. fail() records one found before any
    // request is sent (a bad argument).
    void resetFailure() { m_failure.clear(); }
    void fail(const char* reason) { noteFailure(reason); }

private:
    enum class Outcome { Answered, TooBig, Failed, TimedOut, HeldOff };
    using Clock = std::chrono::steady_clock;
    struct Request;

    SnmpSession() = default;
    // The crate does not answer (see timeoutsBeforeHoldOff). A probe then gets one attempt only,
    // so a crate that is still silent costs the caller one time-out, not several.
    bool crateSilent() const { return m_silent; }
    // Counts a time-out; starts the hold-off once the crate is silent.
    void noteTimeout();
    // An answer arrived (of any kind): the crate is there.
    void noteAnswer();
    // Within the hold-off after the crate fell silent: every request fails at once.
    bool heldOff() const;
    // Turns an answer to a GET or SET over oids[first, first + count) into its outcome; values
    // (GET) go to results[first...].
    Outcome takeAnswer(const snmp_pdu* response, const std::vector<CrateOid::Oid>& oids, size_t first, size_t count,
        std::vector<SnmpValue>* results);
    // Adds the varbinds oids[first, first + count) to `pdu`: with `values` (SET) or empty (GET).
    static void addVarbinds(snmp_pdu* pdu, const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>* values,
        size_t first, size_t count);
    // Sends one request of getTogether() or setTogether() without waiting; false when it could
    // not be sent.
    bool sendAsync(Request& request);
    // Waits for the next answer or time-out of the requests in flight on `transport` and handles
    // it.
    void awaitAnswers(void* transport, std::list<Request>& requests);
    // Sends `unsent` (and whatever `collect` queues there) and awaits every request in flight;
    // `collect` gets each finished request once. Afterwards the call counts as one answer when
    // any request was answered, else as one time-out when any timed out (the hold-off rule).
    void runTogether(void* transport, std::list<Request>& requests, std::vector<Request*>& unsent,
        const std::function<void(Request&)>& collect);
    // net-snmp's callback for the requests sent together.
    static int onAnswer(int operation, snmp_session* session, int requestId, snmp_pdu* pdu, void* request);
    // One request over oids[first, first + count). Results (GET) go to results[first...].
    Outcome exchange(bool write, const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>* values, size_t first,
        size_t count, std::vector<SnmpValue>* results);
    // How many varbinds from `first` fit into one request.
    size_t chunkLength(
        const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>* values, size_t valueBytes, size_t first) const;
    // Runs the requests; true when every varbind was carried by an answered request.
    bool transfer(bool write, const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>* values,
        size_t valueBytes, std::vector<SnmpValue>* results);

    // After a set that timed out: one read with a single attempt; true when it was answered (the
    // crate is there and ignores our writes).
    bool writeNotAnswered();
    // Keeps `reason` unless the current call already failed.
    void noteFailure(const char* reason);

    SessionConfig m_config;
    std::string m_failure;
    void* m_read = nullptr;
    void* m_write = nullptr;
    std::mutex m_mutex;
    size_t m_varbindLimit = 0;
    // Requests (calls, for requests sent together) that timed out in a row, retries included.
    int m_timeoutsInRow = 0;
    bool m_silent = false;
    Clock::time_point m_lastAnswerAt = Clock::now();
    bool m_probing = false; // the read after an unanswered set: one attempt only
    Clock::time_point m_holdOffUntil{};
};
