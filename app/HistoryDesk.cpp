#include "HistoryDesk.h"

#include "ChannelTable.h"
#include "DialogEvents.h"
#include "DialogTrends.h"

#include "controller/ApplicationIdentity.h"
#include "dialogs/common/UserDialogs.h"
#include "dialogs/common/WindowFront.h"

#include "device/Archive.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"
#include "device/MeasurementExport.h"
#include "device/ModuleSnapshot.h"
#include "device/TrendRecorder.h"
#include "device/WriteJournal.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QWidget>

#include <cmath>

namespace {
// How many alarms the status bar names before it only counts the rest.
constexpr int namedAlarms = 3;

const QString notificationKey = QStringLiteral("Alarms/DesktopNotification");

QString sinceText(qint64 atMs)
{
    const qint64 wallMs = atMs + QDateTime::currentMSecsSinceEpoch() - ModuleSnapshot::nowMs();
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("HH:mm:ss"));
}
} // namespace

HistoryDesk::HistoryDesk(DeviceSession* session, Hooks hooks, QWidget* window)
    : QObject(window)
    , m_session(session)
    , m_hooks(std::move(hooks))
    , m_window(window)
    , m_trends(std::make_unique<TrendRecorder>(session))
{
    m_alarmLabel = new QLabel(window);
    m_alarmLabel->setObjectName(QStringLiteral("statusLabelAlarms"));
    m_alarmLabel->setStyleSheet(
        QStringLiteral("QLabel { background: %1; color: black; padding: 0 4px; }").arg(ChannelTable::alarmColour().name()));
    m_alarmLabel->hide();
    connect(m_trends.get(), &TrendRecorder::alarmsChanged, this, &HistoryDesk::showCurrentAlarms);

    m_setAlarmAction = new QAction(tr("Set Current Alarm..."), window);
    m_setAlarmAction->setObjectName(QStringLiteral("actionSetCurrentAlarm"));
    connect(m_setAlarmAction, &QAction::triggered, this, &HistoryDesk::setCurrentAlarm);

    m_exportAction = new QAction(tr("Export Measurements..."), window);
    m_exportAction->setObjectName(QStringLiteral("actionExportMeasurements"));
    connect(m_exportAction, &QAction::triggered, this, &HistoryDesk::exportMeasurements);

    m_notificationAction = new QAction(tr("Desktop Notification of Alarms"), window);
    m_notificationAction->setObjectName(QStringLiteral("actionAlarmNotification"));
    m_notificationAction->setCheckable(true);
    m_notificationAction->setChecked(ApplicationIdentity::openSettings()->value(notificationKey, true).toBool());
    connect(m_notificationAction, &QAction::toggled, this,
        [](bool on) { ApplicationIdentity::openSettings()->setValue(notificationKey, on); });
    connect(m_trends.get(), &TrendRecorder::alarmFired, this,
        [this](const ModuleIdentity& module, int channel, const CurrentAlarms::Channel& state) {
            notifyAlarm(tr("%1 channel %2: current above %3 A for %4 s (%5 A read at %6).")
                            .arg(module.text())
                            .arg(channel)
                            .arg(state.limit.limitA, 0, 'g', 4)
                            .arg(double(state.limit.holdMs) / 1000.0)
                            .arg(double(state.firedAtA), 0, 'g', 4)
                            .arg(sinceText(state.firedAtMs)));
        });

    setUpArchive();
}

HistoryDesk::~HistoryDesk() = default;

void HistoryDesk::setUpArchive()
{
    m_archiveLabel = new QLabel(m_window);
    m_archiveLabel->setObjectName(QStringLiteral("statusLabelArchive"));
    m_archiveLabel->setStyleSheet(QStringLiteral("QLabel { background: red; color: white; padding: 0 4px; }"));
    m_archiveLabel->hide();

    ArchiveSettings archiveSettings;
    QString error;
    if (ArchiveSettings::load(*ApplicationIdentity::openSettings(), &archiveSettings, &error)) {
        m_archive = std::make_unique<Archive>(archiveSettings);
        connect(m_archive.get(), &Archive::stateChanged, this, &HistoryDesk::showArchiveState);
        m_archive->start();
        m_trends->setArchive(m_archive.get());
    } else {
        showArchiveState(false, tr("No event log or archive: %1").arg(error));
    }
    m_events = std::make_unique<EventLog>(m_session, m_trends.get(), m_archive.get());

    m_eventsAction = new QAction(tr("Events..."), m_window);
    m_eventsAction->setObjectName(QStringLiteral("actionEvents"));
    m_eventsAction->setStatusTip(tr("Trips, limits, alarms and connection events of every module, kept in the archive"));
    connect(m_eventsAction, &QAction::triggered, this, &HistoryDesk::showEvents);
}

TrendRecorder* HistoryDesk::trendRecorder() const
{
    return m_trends.get();
}

Archive* HistoryDesk::archive() const
{
    return m_archive.get();
}

EventLog* HistoryDesk::eventLog() const
{
    return m_events.get();
}

UserDialogs* HistoryDesk::dialogs() const
{
    return m_hooks.dialogs();
}

void HistoryDesk::notifyAlarm(const QString& text)
{
    if (!m_notificationAction->isChecked() || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_alarmTray) {
        m_alarmTray = new QSystemTrayIcon(m_window->windowIcon(), this);
        m_alarmTray->setToolTip(ApplicationIdentity::title());
    }
    m_alarmTray->show();
    m_alarmTray->showMessage(tr("Current alarm"), text, QSystemTrayIcon::Warning);
}

void HistoryDesk::setCurrentAlarm()
{
    BaseModule* module = m_session->currentModule();
    const int moduleIndex = m_session->currentModuleIndex();
    const QList<int> channels = m_hooks.selectedChannels();
    const CurrentAlarms* alarms = m_trends->alarms(moduleIndex);
    if (!module || !alarms || channels.isEmpty()) {
        emit refused(tr("Set current alarm: no channel chosen; nothing was changed."));
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
    const double limit = dialogs()->getDouble(m_window, ApplicationIdentity::title(),
        tr("Current alarm of channel %1: limit in %2 (0: no alarm)").arg(names.join(QStringLiteral(", ")), unit),
        now.limitA / amperesPerUnit, 0.0, 1.0e9, 3, &ok);
    if (!ok)
        return;
    int holdS = 0;
    if (limit > 0) {
        holdS = dialogs()->getInt(m_window, ApplicationIdentity::title(),
            tr("Seconds above the limit before the alarm fires"), int(now.holdMs / 1000), 0, 24 * 3600, 1, &ok);
        if (!ok)
            return;
    }
    const CurrentLimit chosen = limit > 0 ? CurrentLimit{limit * amperesPerUnit, qint64(holdS) * 1000} : CurrentLimit();
    const WriteSource source("command");
    for (int channel : channels)
        m_trends->setCurrentLimit(moduleIndex, channel, chosen);
    emit statusMessage(chosen.isSet() ? tr("Current alarm of channel %1: above %2 %3 for %4 s.")
                                            .arg(names.join(QStringLiteral(", ")), module->formatCurrent(limit), unit)
                                            .arg(holdS)
                                      : tr("Current alarm of channel %1 removed.").arg(names.join(QStringLiteral(", "))));
}

void HistoryDesk::exportMeasurements()
{
    const int moduleIndex = m_session->currentModuleIndex();
    const ChannelHistory* history = m_trends->history(moduleIndex);
    const ChannelStateLog* states = m_trends->states(moduleIndex);
    if (!history || !states || history->isEmpty()) {
        dialogs()->information(
            m_window, ApplicationIdentity::title(), tr("Nothing recorded of this module yet: no measurements to export."));
        return;
    }
    const QStringList spans{tr("Last 10 minutes"), tr("Last hour"), tr("Last 24 hours")};
    const qint64 spanMs[] = {10 * 60 * 1000, 3600 * 1000, ChannelHistory::keptForMs};
    bool ok = false;
    const QString span =
        dialogs()->getItem(m_window, ApplicationIdentity::title(), tr("Export the measurements of"), spans, 1, false, &ok);
    if (!ok || !spans.contains(span))
        return;
    const ModuleIdentity module = m_trends->identity(moduleIndex);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = dialogs()->getSaveFileName(m_window, tr("Export Measurements"),
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
        dialogs()->critical(m_window, ApplicationIdentity::title(), tr("The measurements were not exported: %1").arg(error));
        return;
    }
    emit statusMessage(tr("Measurements exported to %1.").arg(QDir::toNativeSeparators(path)));
}

void HistoryDesk::showTrends()
{
    if (!m_trendsDialog)
        m_trendsDialog = new DialogTrends(m_session, m_trends.get(), m_window);
    WindowFront::showAndActivate(m_trendsDialog);
}

void HistoryDesk::acknowledgeCurrentAlarms()
{
    m_trends->acknowledge(m_session->currentModuleIndex(), m_hooks.selectedChannels());
}

bool HistoryDesk::chosenChannelsAlarm(int moduleIndex) const
{
    const CurrentAlarms* alarms = m_trends->alarms(moduleIndex);
    if (!alarms)
        return false;
    for (int row : m_hooks.selectedChannels()) {
        if (alarms->alarm(row))
            return true;
    }
    return false;
}

void HistoryDesk::showCurrentAlarms()
{
    const QList<TrendRecorder::ActiveAlarm> active = m_trends->activeAlarms();
    QStringList names;
    for (const TrendRecorder::ActiveAlarm& alarm : active) {
        if (names.size() == namedAlarms)
            break;
        names.append(
            tr("%1 channel %2 since %3").arg(alarm.module.text()).arg(alarm.channel).arg(sinceText(alarm.state.firedAtMs)));
    }
    if (active.size() > namedAlarms)
        names.append(tr("%n more", nullptr, int(active.size()) - namedAlarms));
    m_alarmLabel->setText(active.isEmpty() ? QString() : tr("Current alarm: %1").arg(names.join(QStringLiteral(", "))));
    m_alarmLabel->setVisible(!active.isEmpty());
    emit alarmsShown();
}

QString HistoryDesk::currentAlarmText(BaseModule& module, int moduleIndex, int channel) const
{
    const CurrentAlarms* alarms = m_trends->alarms(moduleIndex);
    if (!alarms || !alarms->alarm(channel))
        return {};
    const QString unit = module.currentUnit(0);
    const double amperesPerUnit = BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(unit));
    const CurrentAlarms::Channel& state = alarms->channel(channel);
    return tr("Current above %1 %2 for %3 s since %4 (highest %5 %2). Acknowledge to clear; nothing was switched.")
        .arg(module.formatCurrent(state.limit.limitA / amperesPerUnit), unit)
        .arg(double(state.limit.holdMs) / 1000.0)
        .arg(sinceText(state.firedAtMs), module.formatCurrent(state.highestA / amperesPerUnit));
}

void HistoryDesk::showEvents()
{
    if (!m_eventsDialog)
        m_eventsDialog = new DialogEvents(m_archive.get(), m_session, m_events.get(), dialogs(), m_window);
    WindowFront::showAndActivate(m_eventsDialog);
}

void HistoryDesk::showArchiveState(bool working, const QString& message)
{
    m_archiveLabel->setText(working ? QString() : message);
    m_archiveLabel->setToolTip(message);
    m_archiveLabel->setVisible(!working);
}

QString HistoryDesk::channelEventText(int moduleIndex, int channel) const
{
    const ArchiveEvent event = m_events->latestChannelEvent(moduleIndex, channel);
    if (event.kind.isEmpty())
        return {};
    QString text =
        tr("%1 at %2 UTC")
            .arg(event.kind,
                QDateTime::fromMSecsSinceEpoch(event.atUtcMs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!std::isnan(event.voltageMeasured))
        text += tr(": %1 V set, %2 V and %3 measured")
                    .arg(double(event.voltageSet), 0, 'f', 1)
                    .arg(double(event.voltageMeasured), 0, 'f', 1)
                    .arg(DialogEvents::currentText(event.currentMeasured));
    if (!event.detail.isEmpty())
        text += QStringLiteral(" (%1)").arg(event.detail);
    return text;
}
