#include "controller/VmeController.h"

bool VmeController::open(const QString&)
{
    return isConnected();
}

QString VmeController::className()
{
    return QStringLiteral("VmeController");
}

QStringList VmeController::stringList()
{
    return {};
}

bool VmeController::isConnected()
{
    return false;
}
