#pragma once

#include <QByteArray>

#include <map>

// One Motorola S-record line, checked: type, byte count, hexadecimal digits, length and checksum.
struct SRecord
{
    int type = -1;
    quint32 address = 0;
    QByteArray data;

    // Parses exactly the characters the record's byte count calls for; trailing characters are
    // ignored. False for anything corrupt (not an S-record, bad hex, too short, bad checksum).
    static bool parse(const QByteArray& text, SRecord* record);

    // Number of characters the record occupies according to its byte count, 0 when the first four
    // characters are not "S<digit><hex><hex>".
    static int expectedLength(const QByteArray& text);

    bool isDataRecord() const { return type >= 1 && type <= 3; }
};

// A firmware image: the bytes the data records put at their addresses.
class SRecordImage
{
public:
    void clear() { m_bytes.clear(); }
    bool isEmpty() const { return m_bytes.empty(); }

    void add(const SRecord& record);
    // Header and termination records always match; a data record matches when every one of its
    // bytes is held at its address.
    bool matches(const SRecord& record) const;

    // Loads an S-record file; false when a line is corrupt.
    bool load(const QByteArray& text);

private:
    std::map<quint32, quint8> m_bytes;
};
