#include "controller/VmeController.h"

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
