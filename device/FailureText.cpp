#include "device/FailureText.h"

#include "device/BaseModule.h"

#include <QCoreApplication>

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("FailureText", text);
}
} // namespace

QString FailureText::noAnswer()
{
    return tr("no answer: check address, port and read community");
}

QString FailureText::writeNotAnswered()
{
    return tr("write not answered: check the write community");
}

QString FailureText::refused(const QString& reason)
{
    return tr("refused by the crate (%1)").arg(reason);
}

QString FailureText::of(const QString& reason)
{
    if (BaseModule::isNoAnswer(reason))
        return noAnswer();
    if (BaseModule::isWriteNotAnswered(reason))
        return writeNotAnswered();
    return refused(reason);
}

QString FailureText::sentence(const QString& action, const QString& reason)
{
    if (BaseModule::isNoAnswer(reason) || BaseModule::isWriteNotAnswered(reason))
        return tr("%1 failed: %2").arg(action, of(reason));
    return tr("%1 %2").arg(action, of(reason));
}
