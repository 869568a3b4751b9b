#pragma once

#include <QByteArray>

// Minimal reading and rewriting of encoded SNMP v1/v2c messages, enough to count the variable
// bindings of a response and to turn a response into a tooBig error response with the same
// version, community and request id.
class BerMessage
{
public:
    // Number of variable bindings in the message's PDU, or -1 when it does not parse.
    static int countVarbinds(const QByteArray& message);
    // The tooBig response (error index 0, no bindings) for a response message; empty when the
    // message does not parse.
    static QByteArray tooBigResponse(const QByteArray& message);

private:
    struct Element
    {
        int tag = -1;
        int headerLength = 0;
        int contentLength = 0;
        int total() const { return headerLength + contentLength; }
    };
    // Reads the tag and length at offset; false when they do not fit inside limit.
    static bool read(const QByteArray& data, int offset, int limit, Element* element);
    static QByteArray encode(int tag, const QByteArray& content);
};
