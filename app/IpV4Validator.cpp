#include "IpV4Validator.h"

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
        // Digits only: QString::toInt would also take a sign ("+1").
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        }
        // A leading zero is refused: the system's address parser reads "010" as octal 8, so
        // "192.168.010.5" would reach a different crate than the one the user meant.
        if (part.size() > 1 && part.front() == QLatin1Char('0'))
            return Invalid;
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (!ok || value < 0 || value > 255)
            return Invalid;
    }

    return (parts.size() == 4 && !anyEmpty) ? Acceptable : Intermediate;
}

void IpV4Validator::fixup(QString& /*input*/) const
{
}
