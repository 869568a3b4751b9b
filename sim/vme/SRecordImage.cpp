#include "SRecordImage.h"

#include <QList>

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int hexByte(const QByteArray& text, int position)
{
    if (position + 1 >= text.size())
        return -1;
    const int high = hexDigit(text.at(position));
    const int low = hexDigit(text.at(position + 1));
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Address bytes of each record type; S4 is reserved.
int addressBytes(int type)
{
    switch (type) {
    case 0:
    case 1:
    case 5:
    case 9:
        return 2;
    case 2:
    case 6:
    case 8:
        return 3;
    case 3:
    case 7:
        return 4;
    default:
        return -1;
    }
}

} // namespace

int SRecord::expectedLength(const QByteArray& text)
{
    if (text.size() < 4 || text.at(0) != 'S' || hexDigit(text.at(1)) < 0 || hexDigit(text.at(1)) > 9)
        return 0;
    const int count = hexByte(text, 2);
    return count < 0 ? 0 : 4 + 2 * count;
}

bool SRecord::parse(const QByteArray& text, SRecord* record)
{
    const int length = expectedLength(text);
    if (length == 0 || text.size() < length)
        return false;
    const int type = text.at(1) - '0';
    const int count = hexByte(text, 2);
    const int addressLength = addressBytes(type);
    if (addressLength < 0 || count < addressLength + 1)
        return false;
    unsigned sum = unsigned(count);
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        const int byte = hexByte(text, 4 + 2 * i);
        if (byte < 0)
            return false;
        sum += unsigned(byte);
        bytes.append(char(byte));
    }
    if ((sum & 0xFF) != 0xFF)
        return false;
    record->type = type;
    record->address = 0;
    for (int i = 0; i < addressLength; ++i)
        record->address = (record->address << 8) | quint8(bytes.at(i));
    record->data = bytes.mid(addressLength, count - addressLength - 1);
    return true;
}

void SRecordImage::add(const SRecord& record)
{
    if (!record.isDataRecord())
        return;
    for (int i = 0; i < record.data.size(); ++i)
        m_bytes[record.address + quint32(i)] = quint8(record.data.at(i));
}

bool SRecordImage::matches(const SRecord& record) const
{
    if (!record.isDataRecord())
        return true;
    for (int i = 0; i < record.data.size(); ++i) {
        const auto found = m_bytes.find(record.address + quint32(i));
        if (found == m_bytes.end() || found->second != quint8(record.data.at(i)))
            return false;
    }
    return true;
}

bool SRecordImage::load(const QByteArray& text)
{
    clear();
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray& rawLine : lines) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        SRecord record;
        if (!SRecord::parse(line, &record))
            return false;
        add(record);
    }
    return true;
}
