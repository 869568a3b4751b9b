#include "device/ModuleGroupRead.h"

#include "device/BaseModule.h"
#include "device/SnmpModule.h"

QVector<QVector<ChannelReading>> ModuleGroupRead::readChannels(const QVector<BaseModule*>& modules)
{
    QVector<SnmpModule*> snmpModules;
    for (BaseModule* module : modules) {
        if (auto* snmp = dynamic_cast<SnmpModule*>(module))
            snmpModules.append(snmp);
    }
    if (snmpModules.size() == modules.size() && modules.size() > 1)
        return SnmpModule::readChannelsTogether(snmpModules);
    QVector<QVector<ChannelReading>> readings;
    for (BaseModule* module : modules)
        readings.append(module->readChannels());
    return readings;
}
