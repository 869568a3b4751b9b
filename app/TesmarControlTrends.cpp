// Channel trends and current alarms in the main window: the recorder that keeps the history of
// every module the refresh reads, the "Trends..." window, the alarm line in the status bar, the
// alarm colour of the status cells, setting and acknowledging alarms from the channel table and
// the Channel menu, the desktop notification of a fired alarm, and the export of a module's
// measurements. Alarms only show: nothing here writes to a module.
#include "TesmarControl.h"

#include "ChannelTable.h"
#include "DialogTrends.h"
#include "ui_TesmarControl.h"

#include "dialogs/common/UserDialogs.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/MeasurementExport.h"
#include "device/ModuleSnapshot.h"
#include "device/TrendRecorder.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>

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

    // Outside the form, as the journal's action.
    auto* setAlarm = new QAction(tr("Set Current Alarm..."), this);
    setAlarm->setObjectName(QStringLiteral("actionSetCurrentAlarm"));
    ui->menuChannel->insertAction(ui->actionChannelStatusControl, setAlarm);
    ui->menuChannel->insertSeparator(ui->actionChannelStatusControl);
    connect(setAlarm, &QAction::triggered, this, &TesmarControl::setCurrentAlarm);

    auto* exportAction = new QAction(tr("Export Measurements..."), this);
    exportAction->setObjectName(QStringLiteral("actionExportMeasurements"));
    ui->menuFile->insertAction(ui->actionPassword, exportAction);
    ui->menuFile->insertSeparator(ui->actionPassword);
    connect(exportAction, &QAction::triggered, this, &TesmarControl::exportMeasurements);

    actionAlarmNotification = new QAction(tr("Desktop Notification of Alarms"), this);
    actionAlarmNotification->setObjectName(QStringLiteral("actionAlarmNotification"));
    actionAlarmNotification->setCheckable(true);
    actionAlarmNotification->setChecked(openSettings()->value(QStringLiteral("Alarms/DesktopNotification"), true).toBool());
    ui->menuSystem->insertAction(ui->actionSetCrateAddress, actionAlarmNotification);
    connect(actionAlarmNotification, &QAction::toggled, this,
        [this](bool on) { openSettings()->setValue(QStringLiteral("Alarms/DesktopNotification"), on); });
    connect(trends.get(), &TrendRecorder::alarmFired, this,
        [this](const ModuleIdentity& module, int channel, const CurrentAlarms::Channel& state) {
            notifyAlarm(tr("%1 channel %2: current above %3 A for %4 s (%5 A read at %6).")
                            .arg(module.text())
                            .arg(channel)
                            .arg(state.limit.limitA, 0, 'g', 4)
                            .arg(double(state.limit.holdMs) / 1000.0)
                            .arg(double(state.firedAtA), 0, 'g', 4)
                            .arg(sinceText(state.firedAtMs)));
        });
}

void TesmarControl::notifyAlarm(const QString& text)
{
    if (!actionAlarmNotification->isChecked() || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!alarmTray) {
        alarmTray = new QSystemTrayIcon(windowIcon(), this);
        alarmTray->setToolTip(applicationName());
    }
    alarmTray->show();
    alarmTray->showMessage(tr("Current alarm"), text, QSystemTrayIcon::Warning);
}

void TesmarControl::setCurrentAlarm()
{
    BaseModule* module = currentModule();
    const int moduleIndex = session->currentModuleIndex();
    const QList<int> channels = selectedChannelRows();
    const CurrentAlarms* alarms = trends->alarms(moduleIndex);
    if (!module || !alarms || channels.isEmpty()) {
        showCommandMessage(tr("Set current alarm: no channel chosen; nothing was changed."));
        return;
    }
    // The limit is the operator's own setting, not a reading: it may be prefilled.
    const QString unit = module->currentUnit(channels.first());
    const double amperesPerUnit = BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(unit));
    const CurrentLimit now = alarms->limit(channels.first());
    QStringList names;
    for (int channel : channels)
        names.append(QString::number(channel));
    bool ok = false;
    const double limit = dialogs()->getDouble(this, applicationName(),
        tr("Current alarm of channel %1: limit in %2 (0: no alarm)").arg(names.join(QStringLiteral(", ")), unit),
        now.limitA / amperesPerUnit, 0.0, 1.0e9, 3, &ok);
    if (!ok)
        return;
    int holdS = 0;
    if (limit > 0) {
        holdS = dialogs()->getInt(this, applicationName(), tr("Seconds above the limit before the alarm fires"),
            int(now.holdMs / 1000), 0, 24 * 3600, 1, &ok);
        if (!ok)
            return;
    }
    const CurrentLimit chosen = limit > 0 ? CurrentLimit{limit * amperesPerUnit, qint64(holdS) * 1000} : CurrentLimit();
    const WriteSource source("command");
    for (int channel : channels)
        trends->setCurrentLimit(moduleIndex, channel, chosen);
    statusBar()->showMessage(chosen.isSet()
            ? tr("Current alarm of channel %1: above %2 %3 for %4 s.")
                  .arg(names.join(QStringLiteral(", ")), module->formatCurrent(limit), unit)
                  .arg(holdS)
            : tr("Current alarm of channel %1 removed.").arg(names.join(QStringLiteral(", "))),
        refusalMessageMs);
}

void TesmarControl::exportMeasurements()
{
    const int moduleIndex = session->currentModuleIndex();
    const ChannelHistory* history = trends->history(moduleIndex);
    const ChannelStateLog* states = trends->states(moduleIndex);
    if (!history || !states || history->isEmpty()) {
        dialogs()->information(
            this, applicationName(), tr("Nothing recorded of this module yet: no measurements to export."));
        return;
    }
    const QStringList spans{tr("Last 10 minutes"), tr("Last hour"), tr("Last 24 hours")};
    const qint64 spanMs[] = {10 * 60 * 1000, 3600 * 1000, ChannelHistory::keptForMs};
    bool ok = false;
    const QString span = dialogs()->getItem(this, applicationName(), tr("Export the measurements of"), spans, 1, false, &ok);
    if (!ok || !spans.contains(span))
        return;
    const ModuleIdentity module = trends->identity(moduleIndex);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = dialogs()->getSaveFileName(this, tr("Export Measurements"),
        QDir(folder).filePath(MeasurementExport::defaultFileName(module, QDateTime::currentDateTimeUtc())),
        tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    const qint64 toMs = ModuleSnapshot::nowMs();
    const qint64 wallOffsetMs = QDateTime::currentMSecsSinceEpoch() - toMs;
    const QByteArray text =
        MeasurementExport::csv(module, *history, *states, toMs - spanMs[spans.indexOf(span)], toMs, wallOffsetMs);
    QString error;
    if (!MeasurementExport::write(path, text, &error)) {
        dialogs()->critical(this, applicationName(), tr("The measurements were not exported: %1").arg(error));
        return;
    }
    statusBar()->showMessage(tr("Measurements exported to %1.").arg(QDir::toNativeSeparators(path)), refusalMessageMs);
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
