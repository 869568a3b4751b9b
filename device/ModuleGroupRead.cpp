#include "device/ModuleGroupRead.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpModule.h"

void ModuleGroupRead::readChannels(const QVector<BaseModule*>& modules, const ReadingReady& ready, int keptFresh)
{
    QVector<SnmpModule*> snmpModules;
    for (BaseModule* module : modules) {
        if (auto* snmp = dynamic_cast<SnmpModule*>(module))
            snmpModules.append(snmp);
    }
    if (snmpModules.size() == modules.size() && modules.size() > 1) {
        SnmpModule::readChannelsTogether(snmpModules, ready, keptFresh);
        return;
    }
    for (int i = 0; i < modules.size(); ++i) {
        const qint64 startMs = ModuleSnapshot::nowMs();
        ready(i, modules.at(i)->readChannels(), startMs);
    }
}
