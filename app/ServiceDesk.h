#pragma once

#include "service/FirmwareFile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>

class BaseModule;
class DeviceSession;
class DialogFactory;
class DialogSpecial;
class QTimer;
class QWidget;
class ServiceJob;
class UserDialogs;

// The dialog a service job reports its refusals to, besides the status bar.
enum class ServiceDialog { Special, Factory, None };

// The service functions of VME modules: special mode with the firmware transfer, factory
// settings with the VME test and the factory reset, and base address programming. The desk
// creates and owns the two service dialogs (DialogSpecial, DialogFactory), starts the procedures
// as jobs (service/) and tells the window what it has to do meanwhile by signals: no refresh
// while a job runs, another module row after a live insertion, a module that moved.
//
// A procedure fixes its module when it starts: every request goes to that module object,
// whichever module the window shows meanwhile; a module that is gone gets nothing and the dialog
// is told. The dialogs take the module words they show from the poller's snapshots; what the
// snapshots do not hold (the special control words, the words of a module the window no longer
// shows) the desk reads on the poller's thread, one read in flight per dialog.
//
// Lives in the GUI thread; nothing here waits for the bus.
class ServiceDesk : public QObject
{
    Q_OBJECT
public:
    // What the desk needs of the window it serves.
    struct Hooks
    {
        // Message boxes and input dialogs (tests replace them).
        std::function<UserDialogs*()> dialogs;
        // Red in the status bar for a while: a refusal, a cancelled procedure.
        std::function<void(const QString&)> showError;
        // The poller reads the current module at once (after a write).
        std::function<void()> refreshCurrentModuleNow;
        // True while the window's refresh runs.
        std::function<bool()> refreshRunning;
        // The firmware file offered when the special-mode dialog opens.
        std::function<QString()> defaultHexFileName;
    };

    ServiceDesk(DeviceSession* session, QWidget* dialogParent, Hooks hooks, QObject* parent = nullptr);
    ~ServiceDesk() override;

    // Null until first shown.
    DialogSpecial* specialDialog() const;
    DialogFactory* factoryDialog() const;
    // Runs `job` with the window's refresh paused as long as any service job runs; its refused
    // writes go to the status bar and to `dialog` (None: no dialog). Whoever started it calls
    // serviceJobEnded() once it finished.
    void startServiceJob(ServiceJob* job, ServiceDialog dialog);
    // The end of a job started above: deleted later, the refresh resumes after the last one.
    void serviceJobEnded(ServiceJob* job);
    int serviceJobsRunning() const { return m_jobsRunning; }

    // ---- The actions ----
    void showSpecialMode();
    void showFactorySettings();
    // Asks for a new base address of the current module and starts programming it; false when
    // nothing was started.
    bool programNewBaseAddress();

    // ---- Requests of the dialogs ----
    // They act on the requesting dialog's target module (the one the procedure started on),
    // whichever module is current; a module that is gone gets nothing and the dialog is told.
    void setSpecialControl(quint32 command);
    // Starts the special-mode dialog's transfer as a job on its target module.
    void startFirmwareTransfer(const QVector<FirmwareFile::Line>& lines, qint64 fileSize, bool write);
    // Starts the factory reset on the factory dialog's module and returns; factoryResetDone
    // (or factoryResetCancelled) follows when it ended.
    void storeFactorySettings();
    void cancelFactoryReset();

signals:
    // The window's refresh is to stop (false) or to run again (true).
    void refreshWanted(bool running);
    // A live insertion moved on: the window selects module row `row`.
    void moduleRowWanted(int row);
    // `module` answers at another base address now.
    void moduleAddressChanged(BaseModule* module);
    // After the factory reset procedure; false when it gave up or a write was refused.
    void factoryResetDone(bool success);
    void factoryResetCancelled();
    void factoryResetProgress(int done, int total);

private:
    UserDialogs* dialogs() const;
    QWidget* dialogParent() const;
    // The module object the dialog acts on, null when it has none.
    BaseModule* dialogTarget(ServiceDialog dialog) const;
    // The same, null when it is no longer listed (the dialog is told).
    BaseModule* serviceTarget(ServiceDialog dialog);
    // "VME BA 0x4000, serial 1234"
    static QString serviceTargetName(BaseModule* module, int serialNumber);
    int lastReadSerialNumber(BaseModule* module) const;
    void showWriteFailure(BaseModule* module, int channel, const QString& what, const QString& why);
    // Sends `write` to the dialog's module on the device side; a refusal goes to the status bar
    // and to the dialog with the module's reason.
    void serviceWrite(ServiceDialog dialog, const QString& what, std::function<bool(BaseModule&)> write);
    void tellServiceDialog(ServiceDialog dialog, const QString& text);
    void serviceModuleControl(ServiceDialog dialog, quint32 control);
    // The dialogs follow the current module while no procedure of theirs runs.
    void followCurrentModule();
    // Per read tick: what the shown dialogs need and the snapshots do not hold.
    void readTick();
    void readServiceWords(ServiceDialog dialog);
    void reportRefusals(ServiceJob* job, ServiceDialog dialog);
    void factoryResetEnded(ServiceJob* job);
    void baseAddressProgrammed(ServiceJob* job, const QString& oldAddressText);
    void baseAddressResetEnded(ServiceJob* job);

    DeviceSession* m_session;
    QPointer<QWidget> m_dialogParent;
    Hooks m_hooks;
    QPointer<DialogSpecial> m_special;
    QPointer<DialogFactory> m_factory;
    QTimer* m_readTimer;
    qint64 m_readStartedAtMs[2] = {-1, -1}; // start of the desk's read in flight, per dialog
    QPointer<ServiceJob> m_factoryResetJob;
    QPointer<ServiceJob> m_baseAddressJob; // programming, then the reset to the new address
    int m_jobsRunning = 0;
};
