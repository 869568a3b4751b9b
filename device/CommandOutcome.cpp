#include "CommandOutcome.h"

#include "device/FailureText.h"

CommandOutcome CommandOutcome::ofWrite(BaseModule& module, bool ok, int channel, const QString& what)
{
    if (ok)
        return {};
    CommandOutcome outcome;
    outcome.failures.append(failuresText(module, what, {{channel, module.lastError()}}));
    return outcome;
}

QStringList CommandOutcome::ofChannels(
    BaseModule& module, const QList<int>& channels, const ChannelWrite& write, const QString& what)
{
    QList<Failure> failures;
    for (int channel : channels) {
        if (!write(module, channel))
            failures.append({channel, module.lastError()});
    }
    return ofFailures(module, what, failures);
}

QStringList CommandOutcome::ofSwitch(
    BaseModule& module, const QList<int>& channels, BaseModule::SwitchAction action, const QString& what)
{
    return ofReasons(module, channels, module.switchChannels(channels, action), what);
}

QStringList CommandOutcome::ofReasons(
    BaseModule& module, const QList<int>& channels, const QStringList& reasons, const QString& what)
{
    QList<Failure> failures;
    for (int i = 0; i < channels.size(); ++i) {
        // A module that answers fewer reasons than channels has not confirmed the rest.
        const QString reason = reasons.value(i, QStringLiteral("not confirmed"));
        if (!reason.isEmpty())
            failures.append({channels.at(i), reason});
    }
    return ofFailures(module, what, failures);
}

QStringList CommandOutcome::ofFailures(BaseModule& module, const QString& what, const QList<Failure>& failures)
{
    if (failures.isEmpty())
        return {};
    return {failuresText(module, what, failures)};
}

QString CommandOutcome::failuresText(BaseModule& module, const QString& what, const QList<Failure>& failures)
{
    if (failures.size() == 1) {
        const Failure& failure = failures.first();
        const QString subject = failure.channel >= 0 ? tr("Channel %1").arg(failure.channel) : module.address();
        return failureText(subject, what, failure.reason);
    }
    // Channels grouped by reason, in the order the reasons first occurred.
    QStringList reasons;
    QList<QStringList> channelsByReason;
    for (const Failure& failure : failures) {
        int index = int(reasons.indexOf(failure.reason));
        if (index < 0) {
            reasons.append(failure.reason);
            channelsByReason.append(QStringList());
            index = int(reasons.size()) - 1;
        }
        channelsByReason[index].append(QString::number(failure.channel));
    }
    QStringList parts;
    for (int i = 0; i < reasons.size(); ++i) {
        const QString channels = channelsByReason.at(i).size() == 1
            ? tr("channel %1").arg(channelsByReason.at(i).first())
            : tr("channels %1").arg(channelsByReason.at(i).join(QStringLiteral(", ")));
        parts.append(tr("%1: %2").arg(channels, FailureText::of(reasons.at(i))));
    }
    return tr("%1 failed for %2").arg(capitalised(what), parts.join(QStringLiteral("; ")));
}

QString CommandOutcome::failureText(const QString& subject, const QString& what, const QString& reason)
{
    return FailureText::sentence(tr("%1: %2").arg(subject, what), reason);
}

QString CommandOutcome::capitalised(const QString& text)
{
    return text.isEmpty() ? text : text.left(1).toUpper() + text.mid(1);
}

QString CommandOutcome::numberText(double value)
{
    return QString::number(value, 'g', 7);
}

QString CommandOutcome::allChannelsValueText(BaseModule& module, bool voltage, double value)
{
    return (voltage ? tr("set voltage %1 %2 for all channels") : tr("set current %1 %2 for all channels"))
        .arg(numberText(value), voltage ? module.voltageUnit(0) : module.currentUnit(0));
}
