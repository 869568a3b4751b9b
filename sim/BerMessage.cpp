#include "BerMessage.h"

namespace {
constexpr int tagSequence = 0x30;
constexpr int tagInteger = 0x02;
constexpr int snmpErrorTooBig = 1;
} // namespace

bool BerMessage::read(const QByteArray& data, int offset, int limit, Element* element)
{
    if (offset + 2 > limit)
        return false;
    element->tag = quint8(data[offset]);
    if ((element->tag & 0x1f) == 0x1f)
        return false; // multi-octet tags never occur in SNMP message framing
    int length = quint8(data[offset + 1]);
    int header = 2;
    if (length & 0x80) {
        const int octets = length & 0x7f;
        if (octets == 0 || octets > 3 || offset + 2 + octets > limit)
            return false;
        length = 0;
        for (int i = 0; i < octets; ++i)
            length = (length << 8) | quint8(data[offset + 2 + i]);
        header += octets;
    }
    element->headerLength = header;
    element->contentLength = length;
    return offset + header + length <= limit;
}

QByteArray BerMessage::encode(int tag, const QByteArray& content)
{
    QByteArray result;
    result.append(char(tag));
    const int length = int(content.size());
    if (length < 0x80) {
        result.append(char(length));
    } else if (length < 0x100) {
        result.append(char(0x81));
        result.append(char(length));
    } else {
        result.append(char(0x82));
        result.append(char(length >> 8));
        result.append(char(length & 0xff));
    }
    return result + content;
}

int BerMessage::countVarbinds(const QByteArray& message)
{
    const int size = int(message.size());
    Element outer, version, community, pdu, requestId, status, index, list;
    if (!read(message, 0, size, &outer) || outer.tag != tagSequence)
        return -1;
    int at = outer.headerLength;
    const int end = outer.total();
    if (!read(message, at, end, &version))
        return -1;
    at += version.total();
    if (!read(message, at, end, &community))
        return -1;
    at += community.total();
    if (!read(message, at, end, &pdu))
        return -1;
    const int pduEnd = at + pdu.total();
    at += pdu.headerLength;
    for (Element* e : {&requestId, &status, &index}) {
        if (!read(message, at, pduEnd, e))
            return -1;
        at += e->total();
    }
    if (!read(message, at, pduEnd, &list) || list.tag != tagSequence)
        return -1;
    const int listEnd = at + list.total();
    at += list.headerLength;
    int count = 0;
    while (at < listEnd) {
        Element binding;
        if (!read(message, at, listEnd, &binding))
            return -1;
        at += binding.total();
        ++count;
    }
    return count;
}

QByteArray BerMessage::tooBigResponse(const QByteArray& message)
{
    if (countVarbinds(message) < 0)
        return QByteArray();
    const int size = int(message.size());
    Element outer, version, community, pdu, requestId;
    read(message, 0, size, &outer);
    int at = outer.headerLength;
    read(message, at, size, &version);
    const QByteArray versionBytes = message.mid(at, version.total());
    at += version.total();
    read(message, at, size, &community);
    const QByteArray communityBytes = message.mid(at, community.total());
    at += community.total();
    read(message, at, size, &pdu);
    const int pduTag = pdu.tag;
    at += pdu.headerLength;
    read(message, at, size, &requestId);
    const QByteArray requestIdBytes = message.mid(at, requestId.total());

    const QByteArray pduContent = requestIdBytes + encode(tagInteger, QByteArray(1, char(snmpErrorTooBig)))
        + encode(tagInteger, QByteArray(1, '\0')) + encode(tagSequence, QByteArray());
    return encode(tagSequence, versionBytes + communityBytes + encode(pduTag, pduContent));
}
