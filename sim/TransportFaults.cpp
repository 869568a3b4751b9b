#include "TransportFaults.h"

#include "BerMessage.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

TransportFaults* TransportFaults::s_instance = nullptr;

TransportFaults::TransportFaults() = default;

TransportFaults::~TransportFaults()
{
    release();
}

void TransportFaults::install(netsnmp_transport* transport)
{
    m_transport = transport;
    m_receive = transport->f_recv;
    m_send = transport->f_send;
    s_instance = this;
    transport->f_recv = &TransportFaults::receive;
    transport->f_send = &TransportFaults::send;
}

void TransportFaults::release()
{
    for (Pending& pending : m_pending)
        snmp_alarm_unregister(pending.alarm);
    m_pending.clear();
    if (m_transport) {
        m_transport->f_recv = m_receive;
        m_transport->f_send = m_send;
        m_transport = nullptr;
    }
    if (s_instance == this)
        s_instance = nullptr;
}

bool TransportFaults::dropNow()
{
    if (m_dropPercent <= 0)
        return false;
    std::uniform_real_distribution<double> percent(0.0, 100.0);
    return percent(m_random) < m_dropPercent;
}

int TransportFaults::receive(netsnmp_transport* t, void* buffer, int size, void** opaque, int* opaqueLength)
{
    TransportFaults* self = s_instance;
    const int length = self->m_receive(t, buffer, size, opaque, opaqueLength);
    // A discarded datagram looks to the session like a failed read: the caller frees the
    // source address and nothing is answered.
    if (length > 0 && (self->m_silent || self->dropNow()))
        return -1;
    return length;
}

QByteArray TransportFaults::shapeResponse(const QByteArray& response) const
{
    if (m_maxResponseBytes > 0 && response.size() > m_maxResponseBytes) {
        const QByteArray tooBig = BerMessage::tooBigResponse(response);
        if (!tooBig.isEmpty())
            return tooBig;
    }
    return response;
}

void TransportFaults::count(const QByteArray& response)
{
    ++m_requests;
    const int bindings = BerMessage::countVarbinds(response);
    if (bindings > 0)
        m_varbinds += bindings;
}

int TransportFaults::deliver(const QByteArray& data, void** opaque, int* opaqueLength)
{
    const int sent = m_send(m_transport, data.constData(), int(data.size()), opaque, opaqueLength);
    if (sent >= 0)
        count(data);
    return sent;
}

int TransportFaults::send(netsnmp_transport* t, const void* buffer, int size, void** opaque, int* opaqueLength)
{
    TransportFaults* self = s_instance;
    (void)t;
    const QByteArray data = self->shapeResponse(QByteArray(static_cast<const char*>(buffer), size));
    if (self->m_delayMs > 0 && opaque && *opaque && opaqueLength) {
        self->m_pending.push_back({self, data, QByteArray(static_cast<const char*>(*opaque), *opaqueLength)});
        Pending& pending = self->m_pending.back();
        struct timeval delay;
        delay.tv_sec = self->m_delayMs / 1000;
        delay.tv_usec = (self->m_delayMs % 1000) * 1000;
        pending.alarm = snmp_alarm_register_hr(delay, 0, &TransportFaults::sendLater, &pending);
        return size;
    }
    const int sent = self->deliver(data, opaque, opaqueLength);
    return sent < 0 ? sent : size;
}

void TransportFaults::sendLater(unsigned int alarm, void* pendingPointer)
{
    (void)alarm;
    auto* pending = static_cast<Pending*>(pendingPointer);
    TransportFaults* self = pending->owner;
    void* address = pending->address.data();
    int addressLength = int(pending->address.size());
    self->deliver(pending->data, &address, &addressLength);
    for (auto it = self->m_pending.begin(); it != self->m_pending.end(); ++it) {
        if (&*it == pending) {
            self->m_pending.erase(it);
            break;
        }
    }
}
