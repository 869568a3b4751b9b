#include "device/CommandTarget.h"

#include "device/BaseModule.h"
#include "device/ChannelSelection.h"
#include "device/CommandOutcome.h"

CommandTarget CommandTarget::resolve(const Choice& choice, Scope scope, const QString& what, bool removesVoltage)
{
    CommandTarget target;
    const QString command = CommandOutcome::capitalised(what);
    if (choice.currentIndex < 0 || choice.currentIndex >= choice.modules.size() || !choice.modules.at(choice.currentIndex)) {
        target.refusal = tr("%1: no module selected; nothing was sent.").arg(command);
        return target;
    }
    BaseModule* module = choice.modules.at(choice.currentIndex);
    if (!removesVoltage && !choice.answering) {
        target.refusal = tr("%1: %2 does not answer; nothing was sent.").arg(command, module->address());
        return target;
    }
    if (scope != Scope::Module) {
        if (choice.selection)
            target.channels =
                choice.selection->channelsOf(moduleKey(choice.controllerAddress, *module), module->channelNumber());
        if (target.channels.isEmpty()) {
            target.refusal = tr("%1: no channel selected; nothing was sent.").arg(command);
            return target;
        }
        if (scope == Scope::OneChannel && target.channels.size() != 1) {
            target.refusal =
                tr("%1: choose one channel (the all-channels command sets every channel); nothing was sent.").arg(command);
            target.channels.clear();
            return target;
        }
    }
    target.module = module;
    return target;
}

QList<int> CommandTarget::allChannels(BaseModule& module)
{
    QList<int> channels;
    for (int channel = 0; channel < module.channelNumber(); ++channel)
        channels.append(channel);
    return channels;
}

QString CommandTarget::moduleKey(const QString& controllerAddress, BaseModule& module)
{
    return controllerAddress + QLatin1Char('|') + module.address();
}
