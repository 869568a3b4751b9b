#include "controller/BaseController.h"

BaseController::~BaseController() = default;

bool BaseController::open(const QString&)
{
    return false;
}

QString BaseController::address()
{
    return QString();
}

bool BaseController::setIpAddress(const QString&)
{
    return false;
}

void BaseController::setLiveInsertion(bool)
{
}

bool BaseController::liveInsertion()
{
    return false;
}

BusStatus BaseController::busStatus()
{
    return BusStatus();
}

QString BaseController::className()
{
    return QStringLiteral("BaseController");
}

bool BaseController::isConnected()
{
    return false;
}
