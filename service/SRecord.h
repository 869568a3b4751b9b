#pragma once

#include <QByteArray>

// One Motorola S-record line: "S", the record type 0 to 9, the byte count as two hexadecimal
// digits, then that many bytes (address, data, checksum) as hexadecimal digit pairs. The
// checksum is the ones' complement of the low byte of the sum of the count, address and data
// bytes. Shared by the firmware file check of the program and the module side of the simulated
// VME crate, so both read a record the same way.
struct SRecord
{
    // The longest record: "S", the type, the count and 255 bytes as digit pairs.
    static constexpr int maxLength = 4 + 2 * 255;

    enum class Problem {
        None,
        NotARecord,     // does not start with "S" and a type digit
        ReservedType,   // S4
        TooLong,        // more than maxLength characters
        NoByteCount,    // the line ends before its byte count
        NotHex,         // `column` is not a hexadecimal digit
        LengthMismatch, // the count calls for `expected` characters, the line has `actual`
        TooShort,       // the count is too small for the type's address and checksum
        Checksum,       // the bytes sum to checksum `expected`, the record gives `actual`
    };

    struct Check
    {
        Problem problem = Problem::None;
        int column = 0; // from 1, for NotHex
        int expected = 0;
        int actual = 0;
        bool ok() const { return problem == Problem::None; }
    };

    int type = -1;
    quint32 address = 0;
    QByteArray data;

    // Checks the whole line strictly (no character more or less than the count calls for) and
    // fills `record` (may be null) when it is sound.
    static Check check(const QByteArray& text, SRecord* record);

    // The module's reading: takes exactly the characters the byte count calls for and ignores
    // what follows them. False for anything corrupt.
    static bool parse(const QByteArray& text, SRecord* record);

    // Number of characters the record occupies according to its byte count, 0 when the first four
    // characters are not "S<digit><hex><hex>".
    static int expectedLength(const QByteArray& text);

    // Value of a hexadecimal digit (either case), -1 for anything else.
    static int hexDigit(char c);

    // Address bytes of a record type, -1 for the reserved S4 and anything that is no type.
    static int addressBytes(int type);

    bool isDataRecord() const { return type >= 1 && type <= 3; }
};
