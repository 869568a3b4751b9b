#include "dialogs/common/IpV4Validator.h"

#include "controller/Ipv4Text.h"

#include <QStringList>

IpV4Validator::IpV4Validator(QObject* parent)
    : QValidator(parent)
{
}

QValidator::State IpV4Validator::validate(QString& input, int& /*pos*/) const
{
    if (input.isEmpty())
        return Intermediate;
    for (const QChar c : input) {
        if (c.isSpace())
            return Invalid;
    }

    const QStringList parts = input.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() > 4)
        return Invalid;

    bool anyEmpty = false;
    for (const QString& part : parts) {
        if (part.isEmpty()) {
            anyEmpty = true;
            continue;
        }
        // Digits only, 0 to 255, no leading zero (see Ipv4Text).
        if (!Ipv4Text::isStrictPart(part))
            return Invalid;
    }

    return (parts.size() == 4 && !anyEmpty) ? Acceptable : Intermediate;
}

void IpV4Validator::fixup(QString& /*input*/) const
{
}
