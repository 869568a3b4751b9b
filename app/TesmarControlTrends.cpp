// Channel trends and current alarms in the main window: the recorder that keeps the history of
// every module the refresh reads, the "Trends..." window, the alarm line in the status bar, the
// alarm colour of the status cells and the acknowledgement from the channel table. Alarms only
// show: nothing here writes to a module.
#include "TesmarControl.h"

#include "ChannelTable.h"
#include "DialogTrends.h"
#include "ui_TesmarControl.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/TrendRecorder.h"

#include <QDateTime>
#include <QLabel>
#include <QStatusBar>

namespace {
// How many alarms the status bar names before it only counts the rest.
constexpr int namedAlarms = 3;

QString sinceText(qint64 atMs)
{
    const qint64 wallMs = atMs + QDateTime::currentMSecsSinceEpoch() - ModuleSnapshot::nowMs();
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("HH:mm:ss"));
}
} // namespace

void TesmarControl::setUpTrends()
{
    trends = std::make_unique<TrendRecorder>(session.get());
    statusLabelAlarms = new QLabel(this);
    statusLabelAlarms->setObjectName(QStringLiteral("statusLabelAlarms"));
    statusLabelAlarms->setStyleSheet(
        QStringLiteral("QLabel { background: %1; color: black; padding: 0 4px; }").arg(ChannelTable::alarmColour().name()));
    statusLabelAlarms->hide();
    statusBar()->insertPermanentWidget(0, statusLabelAlarms);
    connect(trends.get(), &TrendRecorder::alarmsChanged, this, &TesmarControl::showCurrentAlarms);
}

TrendRecorder* TesmarControl::trendRecorder() const
{
    return trends.get();
}

void TesmarControl::on_actionTrends_triggered()
{
    if (!dialogTrends)
        dialogTrends = new DialogTrends(session.get(), trends.get(), this);
    dialogTrends->show();
    dialogTrends->raise();
    dialogTrends->activateWindow();
}

void TesmarControl::acknowledgeCurrentAlarms()
{
    trends->acknowledge(session->currentModuleIndex(), selectedChannelRows());
}

bool TesmarControl::selectedRowsAlarm() const
{
    const CurrentAlarms* alarms = trends->alarms(session->currentModuleIndex());
    if (!alarms)
        return false;
    for (int row : selectedChannelRows()) {
        if (alarms->alarm(row))
            return true;
    }
    return false;
}

void TesmarControl::showCurrentAlarms()
{
    const QList<TrendRecorder::ActiveAlarm> active = trends->activeAlarms();
    QStringList names;
    for (const TrendRecorder::ActiveAlarm& alarm : active) {
        if (names.size() == namedAlarms)
            break;
        names.append(
            tr("%1 channel %2 since %3").arg(alarm.module.text()).arg(alarm.channel).arg(sinceText(alarm.state.firedAtMs)));
    }
    if (active.size() > namedAlarms)
        names.append(tr("%n more", nullptr, int(active.size()) - namedAlarms));
    statusLabelAlarms->setText(active.isEmpty() ? QString() : tr("Current alarm: %1").arg(names.join(QStringLiteral(", "))));
    statusLabelAlarms->setVisible(!active.isEmpty());
    markAlarmRows();
}

void TesmarControl::markAlarmRows()
{
    BaseModule* module = currentModule();
    const CurrentAlarms* alarms = trends ? trends->alarms(session->currentModuleIndex()) : nullptr;
    if (!module || !alarms)
        return;
    const QString unit = module->currentUnit(0);
    const double amperesPerUnit = BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(unit));
    for (int row = 0; row < ui->table->rowCount() && row < alarms->channelCount(); ++row) {
        if (!alarms->alarm(row))
            continue;
        const CurrentAlarms::Channel& state = alarms->channel(row);
        ui->table->markStatusCellAlarm(row,
            tr("Current above %1 %2 for %3 s since %4 (highest %5 %2). Acknowledge to clear; nothing was switched.")
                .arg(module->formatCurrent(state.limit.limitA / amperesPerUnit), unit)
                .arg(double(state.limit.holdMs) / 1000.0)
                .arg(sinceText(state.firedAtMs), module->formatCurrent(state.highestA / amperesPerUnit)));
    }
}
