#include "device/ModuleGroupRead.h"

#include "device/BaseModule.h"
#include "device/SnmpModule.h"

void ModuleGroupRead::readChannels(const QVector<BaseModule*>& modules, const ReadingReady& ready)
{
    QVector<SnmpModule*> snmpModules;
    for (BaseModule* module : modules) {
        if (auto* snmp = dynamic_cast<SnmpModule*>(module))
            snmpModules.append(snmp);
    }
    if (snmpModules.size() == modules.size() && modules.size() > 1) {
        SnmpModule::readChannelsTogether(snmpModules, ready);
        return;
    }
    for (int i = 0; i < modules.size(); ++i)
        ready(i, modules.at(i)->readChannels());
}
