#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class BaseModule;
class DeviceSession;
class DialogStatistic;
class DialogWriteProfile;
class QStatusBar;
class QWidget;
class ServiceJob;
class UserDialogs;

// The main window's module profiles and its statistic window. Save Profile reads the current
// module on the device side into a file; Load Profile checks the file whole, shows it in the
// write-profile window and, on Ok, writes it into the module as a job whose log follows the
// preview in that window; the statistic window records the measurements it is shown. Nothing here
// waits for the network: the jobs run on the device side and report back.
//
// The window hands in what stays its own through hooks: its user dialogs (tests replace them),
// its refresh timer and the runner of procedures.
class ProfileDesk : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        // The window's user dialogs now.
        std::function<UserDialogs*()> dialogs;
        // Starts `job` and holds the window's refresh while it runs; the runner hears the job's
        // finished() before this desk does (it brings the refresh back and deletes the job later).
        std::function<void(ServiceJob* job)> runJob;
        // Stops the window's refresh, true when it was running; resumeRefresh() starts it again.
        std::function<bool()> pauseRefresh;
        std::function<void()> resumeRefresh;
    };

    // `window` is the parent of the dialogs and message boxes, `statusBar` shows the outcomes.
    ProfileDesk(DeviceSession* session, QWidget* window, QStatusBar* statusBar, Hooks hooks, QObject* parent = nullptr);

    // The folder the file dialogs start from: the user's home folder, then the folder of the last
    // file chosen.
    QString profileFolder() const { return m_profilePath; }

public slots:
    // "Save Profile to File...": asks for the file, then saves the current module into it.
    void saveProfile();
    // "Load Profile to Device...": asks for the file, previews it and writes it on Ok.
    void loadProfile();
    // "Statistic...": shows the statistic window, created on first use.
    void showStatistic();

signals:
    // One line for the write-profile window's log.
    void addLineToWriteProfileLog(QString s);

private:
    UserDialogs* dialogs() const { return m_hooks.dialogs(); }
    // Runs `job` through the window's runner; `ended` follows the runner's own end.
    void run(ServiceJob* job, void (ProfileDesk::*ended)(ServiceJob*));
    void saveEnded(ServiceJob* job);
    void writeEnded(ServiceJob* job);

    DeviceSession* m_session;
    QWidget* m_window;
    QStatusBar* m_statusBar;
    Hooks m_hooks;
    QString m_profilePath;
    QPointer<ServiceJob> m_saveJob;
    QPointer<ServiceJob> m_writeJob;
    QPointer<DialogWriteProfile> m_dialogWriteProfile;
    QPointer<DialogStatistic> m_dialogStatistic;
};
