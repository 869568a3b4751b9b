#include "controller/Ipv4Text.h"

#include <QStringList>

bool Ipv4Text::isStrictPart(const QString& part)
{
    if (part.isEmpty() || part.size() > 3)
        return false;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    if (part.size() > 1 && part.front() == QLatin1Char('0'))
        return false;
    return part.toInt() <= 255;
}

bool Ipv4Text::isStrictDottedQuad(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (!isStrictPart(part))
            return false;
    }
    return true;
}
