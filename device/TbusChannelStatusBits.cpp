#include "device/TbusChannelStatusBits.h"

#include "device/TbusModuleStatusBits.h"

TbusChannelStatusBits::TbusChannelStatusBits(QObject* parent)
    : QObject(parent)
    , m_status(TbusModuleStatusBits::splitNameList("isPOS,res,isIERR,isON,isRAMP,isEMCY,isCC,isCV,res,res,isCBNDs,isVBNDs,"
                                                   "isEINH,isTRIP,isCLIM,isVLIM"))
    , m_eventStatus(
          TbusModuleStatusBits::splitNameList("res,res,EIERR,EON2OFF,EEOR,EEMCY,ECC,ECV,res,res,ECBNDs,EVBNDs,EEINH,"
                                              "ETRIP,ECLIM,EVLIM"))
    , m_control(
          TbusModuleStatusBits::splitNameList("res,res,res,setON,res,setEMCY,res,res,res,res,setACBND,setAVBND,res,res,"
                                              "res,res"))
{
}

QStringList TbusChannelStatusBits::statusNames(quint32 word) const
{
    return TbusModuleStatusBits::namesOf(m_status, word);
}

QString TbusChannelStatusBits::statusText(quint32 word) const
{
    return statusNames(word).join(QLatin1Char(','));
}

QStringList TbusChannelStatusBits::eventStatusNames(quint32 word) const
{
    return TbusModuleStatusBits::namesOf(m_eventStatus, word);
}

QString TbusChannelStatusBits::eventStatusText(quint32 word) const
{
    return eventStatusNames(word).join(QLatin1Char(','));
}

QStringList TbusChannelStatusBits::controlNames(quint32 word) const
{
    return TbusModuleStatusBits::namesOf(m_control, word);
}

QString TbusChannelStatusBits::controlText(quint32 word) const
{
    return controlNames(word).join(QLatin1Char(','));
}
