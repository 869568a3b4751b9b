#pragma once

#include <QByteArray>

#include <cstdint>
#include <list>
#include <random>

struct netsnmp_transport_s;

// Sits between the agent and its UDP transport: counts the responses that leave, and on request
// plays an unhealthy crate: silent (reads and discards every request), dropping a share of the
// requests, answering late, or answering tooBig when a response would exceed a size.
//
// One instance per process (the transport callbacks are plain C functions); used only from the
// agent's loop thread.
class TransportFaults
{
public:
    TransportFaults();
    ~TransportFaults();
    TransportFaults(const TransportFaults&) = delete;
    TransportFaults& operator=(const TransportFaults&) = delete;

    // Wraps the transport's receive and send functions. The transport must outlive this object
    // or be released with release() first.
    void install(netsnmp_transport_s* transport);
    // Drops responses still waiting for their delay and detaches from the transport.
    void release();

    void setSilent(bool silent) { m_silent = silent; }
    bool silent() const { return m_silent; }
    void setDropPercent(double percent) { m_dropPercent = percent; }
    void setDelayMs(int ms) { m_delayMs = ms; }
    void setMaxResponseBytes(int bytes) { m_maxResponseBytes = bytes; }
    void setSeed(std::uint32_t seed) { m_random.seed(seed); }

    // Responses sent and the variable bindings they carried (a tooBig answer carries none).
    std::int64_t requests() const { return m_requests; }
    std::int64_t varbinds() const { return m_varbinds; }

    // Decides a response: the bytes to send instead (tooBig rewriting applied).
    QByteArray shapeResponse(const QByteArray& response) const;
    // Counts one response that left.
    void count(const QByteArray& response);

private:
    struct Pending
    {
        TransportFaults* owner;
        QByteArray data;
        QByteArray address;
        unsigned int alarm = 0;
    };

    static int receive(netsnmp_transport_s* t, void* buffer, int size, void** opaque, int* opaqueLength);
    static int send(netsnmp_transport_s* t, const void* buffer, int size, void** opaque, int* opaqueLength);
    static void sendLater(unsigned int alarm, void* pending);
    bool dropNow();
    int deliver(const QByteArray& data, void** opaque, int* opaqueLength);

    static TransportFaults* s_instance;
    netsnmp_transport_s* m_transport = nullptr;
    int (*m_receive)(netsnmp_transport_s*, void*, int, void**, int*) = nullptr;
    int (*m_send)(netsnmp_transport_s*, const void*, int, void**, int*) = nullptr;
    bool m_silent = false;
    double m_dropPercent = 0;
    int m_delayMs = 0;
    int m_maxResponseBytes = 0;
    std::int64_t m_requests = 0;
    std::int64_t m_varbinds = 0;
    std::mt19937 m_random;
    std::list<Pending> m_pending;
};
