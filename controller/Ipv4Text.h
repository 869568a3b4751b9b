#pragma once

#include <QString>

// The one rule for IPv4 address texts a user types for a crate: four dotted decimal numbers
// from 0 to 255, digits only (no sign, spaces or port), and no leading zero, because the
// system's address parser reads "010" as octal 8 and would reach another device.
class Ipv4Text
{
public:
    // One dotted part: "0" or 1 to 3 digits without a leading zero, at most 255.
    static bool isStrictPart(const QString& part);
    // Exactly four strict parts joined by single dots, nothing before or after.
    static bool isStrictDottedQuad(const QString& text);
};
