#include "SRecord.h"

int SRecord::hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

namespace {

int hexByte(const QByteArray& text, int position)
{
    if (position + 1 >= text.size())
        return -1;
    const int high = SRecord::hexDigit(text.at(position));
    const int low = SRecord::hexDigit(text.at(position + 1));
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

} // namespace

int SRecord::addressBytes(int type)
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

int SRecord::expectedLength(const QByteArray& text)
{
    if (text.size() < 4 || text.at(0) != 'S' || hexDigit(text.at(1)) < 0 || hexDigit(text.at(1)) > 9)
        return 0;
    const int count = hexByte(text, 2);
    return count < 0 ? 0 : 4 + 2 * count;
}

SRecord::Check SRecord::check(const QByteArray& text, SRecord* record)
{
    Check result;
    auto problem = [&result](Problem which) {
        result.problem = which;
        return result;
    };
    if (text.size() < 2 || text.at(0) != 'S' || text.at(1) < '0' || text.at(1) > '9')
        return problem(Problem::NotARecord);
    const int type = text.at(1) - '0';
    if (addressBytes(type) < 0)
        return problem(Problem::ReservedType);
    if (text.size() > maxLength) {
        result.actual = int(text.size());
        return problem(Problem::TooLong);
    }
    if (text.size() < 4)
        return problem(Problem::NoByteCount);
    for (int i = 2; i < text.size(); ++i) {
        if (hexDigit(text.at(i)) < 0) {
            result.column = i + 1;
            return problem(Problem::NotHex);
        }
    }
    const int length = expectedLength(text);
    if (length != text.size()) {
        result.expected = length;
        result.actual = int(text.size());
        return problem(Problem::LengthMismatch);
    }
    const int count = hexByte(text, 2);
    const int addressLength = addressBytes(type);
    if (count < addressLength + 1)
        return problem(Problem::TooShort);
    unsigned sum = unsigned(count);
    QByteArray bytes;
    bytes.reserve(count);
    for (int i = 0; i < count - 1; ++i) {
        const int byte = hexByte(text, 4 + 2 * i);
        sum += unsigned(byte);
        bytes.append(char(byte));
    }
    const int given = hexByte(text, 4 + 2 * (count - 1));
    const int computed = int(~sum & 0xFF);
    if (given != computed) {
        result.expected = computed;
        result.actual = given;
        return problem(Problem::Checksum);
    }
    if (record) {
        record->type = type;
        record->address = 0;
        for (int i = 0; i < addressLength; ++i)
            record->address = (record->address << 8) | quint8(bytes.at(i));
        record->data = bytes.mid(addressLength);
    }
    return result;
}

bool SRecord::parse(const QByteArray& text, SRecord* record)
{
    const int length = expectedLength(text);
    if (length == 0 || text.size() < length)
        return false;
    return check(text.left(length), record).ok();
}
