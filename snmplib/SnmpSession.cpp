#include "SnmpSession.h"

#include "SessionRegistry.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Octets of a BER length field for a content of `length` octets.
size_t berLengthOctets(size_t length)
{
    if (length < 0x80)
        return 1;
    size_t octets = 1;
    for (size_t rest = length; rest > 0; rest >>= 8)
        ++octets;
    return octets;
}

size_t berTotal(size_t contentLength)
{
    return 1 + berLengthOctets(contentLength) + contentLength;
}

size_t oidContentOctets(const CrateOid::Oid& oid)
{
    size_t octets = 1; // the first two sub-identifiers share one octet
    for (size_t i = 2; i < oid.size(); ++i) {
        unsigned long sub = oid[i];
        size_t n = 1;
        while (sub >= 0x80) {
            sub >>= 7;
            ++n;
        }
        octets += n;
    }
    return octets;
}

size_t valueOctets(const SnmpValue& value)
{
    switch (value.kind()) {
    case SnmpValue::Kind::Real:
        return SnmpSession::FloatValue;
    case SnmpValue::Kind::Bytes:
        return berTotal(value.text().size());
    default:
        return SnmpSession::IntegerValue;
    }
}

// The error-status names of RFC 3416, indexed by status.
const char* errorStatusName(long status)
{
    static const char* const names[] = {
        "noError",
        "tooBig",
        "noSuchName",
        "badValue",
        "readOnly",
        "genErr",
        "noAccess",
        "wrongType",
        "wrongLength",
        "wrongEncoding",
        "wrongValue",
        "noCreation",
        "inconsistentValue",
        "resourceUnavailable",
        "commitFailed",
        "undoFailed",
        "authorizationError",
        "notWritable",
        "inconsistentName",
    };
    return status >= 0 && status < long(sizeof names / sizeof names[0]) ? names[status] : "genErr";
}

// Name of the exception a GET answered instead of a value; null for a value.
const char* exceptionName(unsigned char type)
{
    switch (type) {
    case SNMP_NOSUCHOBJECT:
        return "noSuchObject";
    case SNMP_NOSUCHINSTANCE:
        return "noSuchInstance";
    case SNMP_ENDOFMIBVIEW:
        return "endOfMibView";
    default:
        return nullptr;
    }
}

} // namespace

void SnmpSession::noteFailure(const char* reason)
{
    if (m_failure.empty())
        m_failure = reason;
}

std::unique_ptr<SnmpSession> SnmpSession::open(const SessionConfig& config)
{
    std::unique_ptr<SnmpSession> session(new SnmpSession);
    session->m_config = config;
    const std::string peer = config.peerName();

    std::lock_guard<std::mutex> lock(SessionRegistry::netsnmpMutex());
    for (int i = 0; i < 2; ++i) {
        const std::string& community = i == 0 ? config.readCommunity : config.writeCommunity;
        netsnmp_session settings;
        snmp_sess_init(&settings);
        settings.version = SNMP_VERSION_2c;
        settings.peername = const_cast<char*>(peer.c_str());
        settings.community = reinterpret_cast<u_char*>(const_cast<char*>(community.c_str()));
        settings.community_len = community.size();
        settings.timeout = static_cast<long>(config.timeoutMs) * 1000L; // microseconds
        settings.retries = config.retries;
        void* opened = snmp_sess_open(&settings); // copies peer name and community
        if (!opened)
            return nullptr; // the destructor closes what was opened
        (i == 0 ? session->m_read : session->m_write) = opened;
    }
    return session;
}

SnmpSession::~SnmpSession()
{
    std::lock_guard<std::mutex> lock(SessionRegistry::netsnmpMutex());
    if (m_read)
        snmp_sess_close(m_read);
    if (m_write)
        snmp_sess_close(m_write);
}

size_t SnmpSession::chunkLength(
    const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>* values, size_t valueBytes, size_t first) const
{
    const size_t community = std::max(m_config.readCommunity.size(), m_config.writeCommunity.size());
    // Message and PDU headers with 3-octet lengths: sequence, version, community, PDU tag,
    // request id, error status, error index, varbind list.
    size_t used = 4 + 3 + berTotal(community) + 4 + 6 + 3 + 3 + 4;
    size_t count = 0;
    for (size_t i = first; i < oids.size(); ++i) {
        const size_t value = values ? valueOctets((*values)[i]) : valueBytes;
        const size_t varbind = berTotal(berTotal(oidContentOctets(oids[i])) + value);
        if (count > 0 && used + varbind > maxMessageBytes)
            break;
        used += varbind;
        ++count;
        if (m_varbindLimit > 0 && count >= m_varbindLimit)
            break;
    }
    return count;
}

void SnmpSession::noteTimeout()
{
    const Clock::time_point now = Clock::now();
    ++m_timeoutsInRow;
    if (!m_silent && m_timeoutsInRow >= timeoutsBeforeHoldOff && now - m_lastAnswerAt >= silenceBeforeHoldOff)
        m_silent = true;
    if (m_silent)
        m_holdOffUntil = now + holdOff;
}

void SnmpSession::noteAnswer()
{
    m_timeoutsInRow = 0;
    m_silent = false;
    m_lastAnswerAt = Clock::now();
}

bool SnmpSession::heldOff() const
{
    return crateSilent() && Clock::now() < m_holdOffUntil;
}

SnmpSession::Outcome SnmpSession::takeAnswer(const netsnmp_pdu* response, const std::vector<CrateOid::Oid>& oids,
    size_t first, size_t count, std::vector<SnmpValue>* results)
{
    if (response->errstat == SNMP_ERR_TOOBIG)
        return Outcome::TooBig;
    if (response->errstat != SNMP_ERR_NOERROR) {
        noteFailure(errorStatusName(response->errstat));
        return Outcome::Failed;
    }
    if (results) {
        // Agents answer in request order; the OID check guards against one that does not.
        netsnmp_variable_list* vb = response->variables;
        for (size_t i = first; i < first + count && vb; ++i, vb = vb->next_variable) {
            const CrateOid::Oid& expected = oids[i];
            const bool same = vb->name_length == expected.size() && std::equal(expected.begin(), expected.end(), vb->name);
            (*results)[i] = same ? SnmpValue::fromVarbind(vb) : SnmpValue();
            if (!same)
                noteFailure("unexpected answer");
            else if (const char* exception = exceptionName(vb->type))
                noteFailure(exception);
        }
    }
    return Outcome::Answered;
}

void SnmpSession::addVarbinds(netsnmp_pdu* pdu, const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>* values,
    size_t first, size_t count)
{
    for (size_t i = first; i < first + count; ++i) {
        const CrateOid::Oid& wanted = oids[i];
        std::vector<oid> name(wanted.begin(), wanted.end());
        if (!values) {
            snmp_add_null_var(pdu, name.data(), name.size());
            continue;
        }
        const SnmpValue& value = (*values)[i];
        switch (value.kind()) {
        case SnmpValue::Kind::Real: {
            const float f = static_cast<float>(value.toDouble());
            snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OPAQUE_FLOAT, &f, sizeof f);
            break;
        }
        case SnmpValue::Kind::Bytes: {
            const std::string bytes = value.text();
            snmp_pdu_add_variable(pdu, name.data(), name.size(), value.asnType(), bytes.data(), bytes.size());
            break;
        }
        default: {
            const long l = value.toInt();
            snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_INTEGER, &l, sizeof l);
            break;
        }
        }
    }
}

SnmpSession::Outcome SnmpSession::exchange(bool write, const std::vector<CrateOid::Oid>& oids,
    const std::vector<SnmpValue>* values, size_t first, size_t count, std::vector<SnmpValue>* results)
{
    if (heldOff()) {
        noteFailure("timeout");
        return Outcome::HeldOff;
    }

    netsnmp_pdu* pdu = nullptr;
    {
        std::lock_guard<std::mutex> lock(SessionRegistry::netsnmpMutex());
        pdu = snmp_pdu_create(write ? SNMP_MSG_SET : SNMP_MSG_GET);
    }
    if (!pdu) {
        noteFailure("out of memory");
        return Outcome::Failed;
    }
    addVarbinds(pdu, oids, write ? values : nullptr, first, count);

    void* transport = write ? m_write : m_read;
    snmp_sess_session(transport)->retries = crateSilent() || m_probing ? 0 : m_config.retries;
    netsnmp_pdu* response = nullptr;
    const int status = snmp_sess_synch_response(transport, pdu, &response); // frees pdu

    Outcome outcome = Outcome::Failed;
    if (status == STAT_TIMEOUT) {
        noteTimeout();
        outcome = Outcome::TimedOut;
        noteFailure("timeout");
    } else if (status == STAT_SUCCESS && response) {
        noteAnswer();
        outcome = takeAnswer(response, oids, first, count, results);
    } else {
        // The request could not be sent or the answer not be read (no route, socket error).
        noteFailure(snmp_api_errstring(snmp_sess_session(transport)->s_snmp_errno));
    }
    if (response)
        snmp_free_pdu(response);
    return outcome;
}

bool SnmpSession::transfer(bool write, const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>* values,
    size_t valueBytes, std::vector<SnmpValue>* results)
{
    size_t first = 0;
    while (first < oids.size()) {
        const size_t count = chunkLength(oids, values, valueBytes, first);
        const Outcome outcome = exchange(write, oids, values, first, count, results);
        if (outcome == Outcome::TooBig) {
            // The agent's limit is below our estimate: halve the request, remember the size
            // for this crate and send the same varbinds again. One varbind that is still too
            // big cannot be read at all.
            if (count <= 1) {
                noteFailure("tooBig");
                return false;
            }
            m_varbindLimit = std::max<size_t>(1, count / 2);
            continue;
        }
        if (outcome != Outcome::Answered)
            return false;
        first += count;
    }
    return true;
}

std::vector<SnmpValue> SnmpSession::get(const std::vector<CrateOid::Oid>& oids, size_t valueBytes, bool* answered)
{
    m_failure.clear();
    std::vector<SnmpValue> results(oids.size());
    const bool ok = transfer(false, oids, nullptr, valueBytes, &results);
    if (answered)
        *answered = ok;
    return results;
}

SnmpValue SnmpSession::get(const CrateOid::Oid& oid, size_t valueBytes, bool* answered)
{
    return get(std::vector<CrateOid::Oid>{oid}, valueBytes, answered).front();
}

bool SnmpSession::set(const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>& values)
{
    m_failure.clear();
    if (oids.empty() || oids.size() != values.size()) {
        noteFailure("nothing to write");
        return false;
    }
    if (transfer(true, oids, &values, 0, nullptr))
        return true;
    // An agent drops a request whose community it does not accept without an answer. A set that
    // timed out is followed by one read with a single attempt: when that is answered the crate is
    // there and only ignores our writes. A silent crate costs one more short time-out, after
    // which the hold-off starts as for any two time-outs in a row.
    if (m_failure == "timeout" && !heldOff())
        m_failure = writeNotAnswered() ? "write not answered" : "timeout";
    return false;
}

bool SnmpSession::set(const CrateOid::Oid& oid, const SnmpValue& value)
{
    return set(std::vector<CrateOid::Oid>{oid}, std::vector<SnmpValue>{value});
}

// ---- several requests in flight ---------------------------------------------------------------

struct SnmpSession::Request
{
    SnmpSession* session;
    const std::vector<CrateOid::Oid>* oids;
    const std::vector<SnmpValue>* values; // SET: the values to write; null for a GET
    std::vector<SnmpValue>* results;      // GET: where the values go
    size_t first;
    size_t count;
    Column* column = nullptr; // GET: the column the request reads
    Outcome outcome = Outcome::Failed;
    long errorStatus = 0;   // of an error answer
    bool answered = false;  // an answer arrived (of any kind)
    bool done = false;      // answered, timed out or failed
    bool collected = false; // its outcome was taken into the call's
};

int SnmpSession::onAnswer(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic)
{
    Request& request = *static_cast<Request*>(magic);
    SnmpSession& self = *request.session;
    switch (operation) {
    case NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE:
        request.answered = true;
        request.errorStatus = pdu->errstat;
        request.outcome = self.takeAnswer(pdu, *request.oids, request.first, request.count, request.results);
        break;
    case NETSNMP_CALLBACK_OP_RESEND:
        return 1; // sent again after a time-out: still waiting
    case NETSNMP_CALLBACK_OP_TIMED_OUT:
        request.outcome = Outcome::TimedOut;
        self.noteFailure("timeout");
        break;
    default:
        request.outcome = Outcome::Failed;
        self.noteFailure("cannot reach the crate");
        break;
    }
    request.done = true;
    return 1;
}

bool SnmpSession::sendAsync(Request& request)
{
    netsnmp_pdu* pdu = nullptr;
    {
        std::lock_guard<std::mutex> lock(SessionRegistry::netsnmpMutex());
        pdu = snmp_pdu_create(request.values ? SNMP_MSG_SET : SNMP_MSG_GET);
    }
    if (!pdu) {
        noteFailure("out of memory");
        return false;
    }
    addVarbinds(pdu, *request.oids, request.values, request.first, request.count);
    void* transport = request.values ? m_write : m_read;
    if (snmp_sess_async_send(transport, pdu, &SnmpSession::onAnswer, &request) == 0) {
        noteFailure(snmp_api_errstring(snmp_sess_session(transport)->s_snmp_errno));
        snmp_free_pdu(pdu);
        return false;
    }
    return true;
}

void SnmpSession::awaitAnswers(void* transport, std::list<Request>& requests)
{
    netsnmp_large_fd_set fds;
    netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
    NETSNMP_LARGE_FD_ZERO(&fds);
    int fdCount = 0;
    // Asking with block set lets net-snmp put the time until our next request's time-out into
    // `timeout` (a caller's zero time-out with block clear would stay zero and turn the wait
    // into polling).
    int block = 1;
    timeval timeout{};
    // Only this session's requests decide the wait; the process's alarms are not ours to run.
    snmp_sess_select_info2_flags(transport, &fdCount, &fds, &timeout, &block, NETSNMP_SELECT_NOALARMS);
    if (block) {
        // Nothing of ours is pending a time-out (cannot happen with requests in flight); never
        // wait without a bound.
        timeout.tv_sec = m_config.timeoutMs / 1000;
        timeout.tv_usec = (m_config.timeoutMs % 1000) * 1000;
    }
    const int ready = netsnmp_large_fd_set_select(fdCount, &fds, nullptr, nullptr, &timeout);
    if (ready > 0) {
        snmp_sess_read2(transport, &fds); // calls onAnswer for each answer
    } else if (ready == 0) {
        snmp_sess_timeout(transport); // sends again or calls onAnswer with the time-out
    } else if (errno != EINTR) {
        // The socket cannot be waited on: nothing in flight will be answered to us.
        noteFailure("cannot wait for the crate");
        for (Request& request : requests) {
            if (!request.done) {
                request.outcome = Outcome::Failed;
                request.done = true;
            }
        }
    }
    netsnmp_large_fd_set_cleanup(&fds);
}

void SnmpSession::runTogether(void* transport, std::list<Request>& requests, std::vector<Request*>& unsent,
    const std::function<void(Request&)>& collect)
{
    snmp_sess_session(transport)->retries = crateSilent() ? 0 : m_config.retries;
    bool anyAnswered = false;
    bool anyTimedOut = false;
    size_t inFlight = 0;
    while (!unsent.empty() || inFlight > 0) {
        for (Request* request : unsent) {
            if (sendAsync(*request)) {
                ++inFlight;
            } else {
                request->done = request->collected = true;
                request->outcome = Outcome::Failed;
                collect(*request);
            }
        }
        unsent.clear();
        if (inFlight == 0)
            break;
        awaitAnswers(transport, requests);
        for (Request& request : requests) {
            if (!request.done || request.collected)
                continue;
            request.collected = true;
            --inFlight;
            anyAnswered = anyAnswered || request.answered;
            anyTimedOut = anyTimedOut || request.outcome == Outcome::TimedOut;
            collect(request); // may queue more requests into `unsent`
        }
    }
    if (anyAnswered)
        noteAnswer();
    else if (anyTimedOut)
        noteTimeout();
}

void SnmpSession::getTogether(std::vector<Column>& columns)
{
    m_failure.clear();
    for (Column& column : columns) {
        column.results.assign(column.oids.size(), SnmpValue());
        column.answered = true;
    }
    if (heldOff()) {
        noteFailure("timeout");
        for (Column& column : columns)
            column.answered = column.oids.empty();
        return;
    }

    std::list<Request> requests; // stable addresses: net-snmp holds pointers to them
    std::vector<Request*> unsent;
    const auto split = [&](Column& column, size_t first, size_t end) {
        while (first < end) {
            const size_t count = std::min(chunkLength(column.oids, nullptr, column.valueBytes, first), end - first);
            requests.push_back(Request{this, &column.oids, nullptr, &column.results, first, count});
            requests.back().column = &column;
            unsent.push_back(&requests.back());
            first += count;
        }
    };
    for (Column& column : columns)
        split(column, 0, column.oids.size());

    runTogether(m_read, requests, unsent, [&](Request& request) {
        if (request.outcome == Outcome::Answered)
            return;
        if (request.outcome == Outcome::TooBig && request.count > 1) {
            // As in transfer(): halve, remember the size, ask the same values again.
            m_varbindLimit = std::max<size_t>(1, request.count / 2);
            split(*request.column, request.first, request.first + request.count);
            return;
        }
        // One value that is still too big cannot be read at all.
        if (request.outcome == Outcome::TooBig)
            noteFailure("tooBig");
        request.column->answered = false;
    });
}

bool SnmpSession::writeNotAnswered()
{
    m_probing = true;
    std::vector<SnmpValue> ignored(1);
    const Outcome probe = exchange(false, {CrateOid::sysDescr()}, nullptr, 0, 1, &ignored);
    m_probing = false;
    return probe == Outcome::Answered;
}

const char* SnmpSession::setResultName(int result)
{
    switch (result) {
    case SetTaken:
        return "";
    case SetTimedOut:
        return "timeout";
    case SetNotAnswered:
        return "write not answered";
    case SetNotSent:
        return "cannot reach the crate";
    default:
        return errorStatusName(result);
    }
}

std::vector<int> SnmpSession::setTogether(const std::vector<CrateOid::Oid>& oids, const std::vector<SnmpValue>& values)
{
    m_failure.clear();
    std::vector<int> results(oids.size(), SetTimedOut);
    if (oids.empty() || oids.size() != values.size()) {
        noteFailure("nothing to write");
        results.assign(oids.size(), SetNotSent);
        return results;
    }
    if (heldOff()) {
        noteFailure("timeout");
        return results;
    }

    std::list<Request> requests; // stable addresses: net-snmp holds pointers to them
    std::vector<Request*> unsent;
    const auto queue = [&](size_t first, size_t count) {
        requests.push_back(Request{this, &oids, &values, nullptr, first, count});
        unsent.push_back(&requests.back());
    };
    const auto split = [&](size_t first, size_t end) {
        while (first < end) {
            const size_t count = std::min(chunkLength(oids, &values, 0, first), end - first);
            queue(first, count);
            first += count;
        }
    };
    split(0, oids.size());

    bool anyTimedOut = false;
    runTogether(m_write, requests, unsent, [&](Request& request) {
        const auto settle = [&](int result) {
            std::fill_n(results.begin() + std::ptrdiff_t(request.first), request.count, result);
        };
        switch (request.outcome) {
        case Outcome::Answered:
            settle(SetTaken);
            break;
        case Outcome::TooBig:
            if (request.count > 1) {
                m_varbindLimit = std::max<size_t>(1, request.count / 2);
                split(request.first, request.first + request.count);
            } else {
                noteFailure("tooBig");
                settle(SNMP_ERR_TOOBIG);
            }
            break;
        case Outcome::TimedOut:
            anyTimedOut = true;
            settle(SetTimedOut);
            break;
        default:
            if (!request.answered) {
                settle(SetNotSent);
            } else if (request.count > 1) {
                // The crate took none of the request's objects: each goes again on its own, so
                // that only the refused one is refused.
                for (size_t i = request.first; i < request.first + request.count; ++i)
                    queue(i, 1);
            } else {
                settle(int(request.errorStatus));
            }
            break;
        }
    });
    // Writes that timed out: is the crate silent, or does it only ignore our writes?
    if (anyTimedOut && !heldOff() && writeNotAnswered()) {
        std::replace(results.begin(), results.end(), int(SetTimedOut), int(SetNotAnswered));
        m_failure = "write not answered";
    }
    return results;
}
