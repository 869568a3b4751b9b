#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class Archive;
class BaseModule;
class DeviceSession;
class DialogEvents;
class DialogTrends;
class EventLog;
class QAction;
class QLabel;
class QSystemTrayIcon;
class QWidget;
class TrendRecorder;
class UserDialogs;

// What the window keeps of the past, and its windows: the recorder that keeps the history of
// every module the refresh reads with the current alarms fed from it, the archive the [Archive]
// settings name (opened and written on its own thread), the event log fed from the session, the
// "Trends..." and "Events..." windows, the export of a module's measurements, the desktop
// notification of a fired alarm, and the status-bar lines of the alarms and of an archive that
// cannot be written. Alarms only show: nothing here writes to a module. A child of the window,
// which places the actions and labels it offers and paints the channel table from the texts it
// gives.
class HistoryDesk : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        // The dialogs of the window now (tests replace them).
        std::function<UserDialogs*()> dialogs;
        // The operator's chosen channels of the shown module.
        std::function<QList<int>()> selectedChannels;
    };
    // `window` is the parent of the windows, labels and actions made here.
    HistoryDesk(DeviceSession* session, Hooks hooks, QWidget* window);
    ~HistoryDesk() override;

    TrendRecorder* trendRecorder() const;
    // Null when the [Archive] settings are unusable (the archive label says why).
    Archive* archive() const;
    EventLog* eventLog() const;

    // For the window to place: "Set Current Alarm..." (Channel menu), "Export Measurements..."
    // (File menu), "Desktop Notification of Alarms" and "Events..." (System menu).
    QAction* setCurrentAlarmAction() const { return m_setAlarmAction; }
    QAction* exportAction() const { return m_exportAction; }
    QAction* notificationAction() const { return m_notificationAction; }
    QAction* eventsAction() const { return m_eventsAction; }
    // The alarm line (hidden without an alarm) and the lasting red archive line (hidden while
    // the archive is written), for the status bar.
    QLabel* alarmLabel() const { return m_alarmLabel; }
    QLabel* archiveLabel() const { return m_archiveLabel; }

    // The status cell's tool tip of channel `channel` of module `moduleIndex` in alarm, in the
    // units `module` shows; empty without an alarm.
    QString currentAlarmText(BaseModule& module, int moduleIndex, int channel) const;
    // The status cell's tool tip of a channel with a trip, limit, inhibit or alarm: what and when,
    // from the event log; empty when it has no event.
    QString channelEventText(int moduleIndex, int channel) const;
    // True when one of the chosen channels of module `moduleIndex` is in alarm.
    bool chosenChannelsAlarm(int moduleIndex) const;

    void showTrends();
    void showEvents();
    // "Set Current Alarm...": the current limit and hold time of the chosen channels (a limit of
    // 0 removes the alarm).
    void setCurrentAlarm();
    // Acknowledges the current alarms of the chosen channels.
    void acknowledgeCurrentAlarms();
    // "Export Measurements...": a time span of the current module's recorded history as CSV, by
    // default into the documents folder under a dated name.
    void exportMeasurements();

signals:
    // The alarms changed: the alarm line is up to date, the window marks the channel rows anew.
    void alarmsShown();
    // A note for the status bar (a few seconds).
    void statusMessage(const QString& text);
    // A request that changed nothing, shown red.
    void refused(const QString& text);

private:
    void setUpArchive();
    void showCurrentAlarms();
    void showArchiveState(bool working, const QString& message);
    // A fired alarm as a desktop notification: when the setting "Alarms/DesktopNotification"
    // (checkable in the System menu, on by default) is on and the desktop has a system tray.
    void notifyAlarm(const QString& text);
    UserDialogs* dialogs() const;

    DeviceSession* m_session;
    Hooks m_hooks;
    QWidget* m_window;
    std::unique_ptr<TrendRecorder> m_trends;
    std::unique_ptr<Archive> m_archive;
    std::unique_ptr<EventLog> m_events;
    QPointer<DialogTrends> m_trendsDialog;
    QPointer<DialogEvents> m_eventsDialog;
    QAction* m_setAlarmAction = nullptr;
    QAction* m_exportAction = nullptr;
    QAction* m_notificationAction = nullptr;
    QAction* m_eventsAction = nullptr;
    QLabel* m_alarmLabel = nullptr;
    QLabel* m_archiveLabel = nullptr;
    QSystemTrayIcon* m_alarmTray = nullptr;
};
