#pragma once

#include "service/SRecord.h"

#include <QByteArray>

#include <map>

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
