#pragma once

#include <QString>

// What the program tells the operator about a request that failed, from the reason a module or
// crate gave (BaseModule::lastError()). The one place of these texts: windows, profile writes
// and automatic stepping all word a failure the same way.
class FailureText
{
public:
    // Nothing answered (a read, or a write while reads do not answer either).
    static QString noAnswer();
    // A write was not answered while a read right after it was: the crate ignores our writes.
    static QString writeNotAnswered();
    // The device answered with an error.
    static QString refused(const QString& reason);

    // One of the three for `reason`.
    static QString of(const QString& reason);
    // "<action> refused by the crate (wrongValue)" or "<action> failed: no answer: check ...".
    static QString sentence(const QString& action, const QString& reason);
};
