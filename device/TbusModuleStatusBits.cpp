#include "device/TbusModuleStatusBits.h"

TbusModuleStatusBits::TbusModuleStatusBits(QObject* parent)
    : QObject(parent)
    , m_status(splitNameList("isADJ,res,res,res,isSrvc,0,res,res,isnoSERR,isnoRAMP,isSFLPgd,isEVNTact,"
                             "isMODgd,isSPLYgd,isTMPgd,isKILena"))
    // Service needed is event bit 4, as in the status word and the crate's event bits.
    , m_eventStatus(splitNameList("res,res,res,res,ESrvc,res,res,res,res,res,ESFLPngd,res,res,ESPLYngd,"
                                  "ETMPngd,res"))
    , m_eventMask(splitNameList("res,res,res,res,MESrvc,res,res,res,res,res,MESFLPngd,res,res,"
                                "MESPLYngd,METMPngd,res"))
    , m_control(splitNameList("res,res,res,res,res,res,doCLEAR,res,res,res,res,1,setADJ,res,setKILena,res"))
{
}

QStringList TbusModuleStatusBits::splitNameList(const char* list)
{
    return QString::fromLatin1(list).split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

QStringList TbusModuleStatusBits::namesOf(const QStringList& list, quint32 word)
{
    QStringList names;
    for (int bit = 0; bit < list.size() && bit < 32; ++bit) {
        if (word & (quint32(1) << bit))
            names << list.at(bit);
    }
    return names;
}

QStringList TbusModuleStatusBits::statusNames(quint32 word) const
{
    return namesOf(m_status, word);
}

QString TbusModuleStatusBits::statusText(quint32 word) const
{
    return statusNames(word).join(QLatin1Char(','));
}

QStringList TbusModuleStatusBits::eventStatusNames(quint32 word) const
{
    return namesOf(m_eventStatus, word);
}

QString TbusModuleStatusBits::eventStatusText(quint32 word) const
{
    return eventStatusNames(word).join(QLatin1Char(','));
}

QStringList TbusModuleStatusBits::eventMaskNames(quint32 word) const
{
    return namesOf(m_eventMask, word);
}

QString TbusModuleStatusBits::eventMaskText(quint32 word) const
{
    return eventMaskNames(word).join(QLatin1Char(','));
}

QStringList TbusModuleStatusBits::controlNames(quint32 word) const
{
    return namesOf(m_control, word);
}

QString TbusModuleStatusBits::controlText(quint32 word) const
{
    return controlNames(word).join(QLatin1Char(','));
}
