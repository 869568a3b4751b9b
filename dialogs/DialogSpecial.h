#pragma once

#include "service/FirmwareFile.h"
#include "service/FirmwareTransferJob.h"

#include "dialogs/common/ToolWindow.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVector>

#include "device/BaseModule.h"
class DeviceSession;
class UserDialogs;

namespace Ui {
class DialogSpecial;
}

// "Special Mode": sends a Motorola S-record file to a module's boot loader for programming or
// comparing, and offers the other special-mode commands. The dialog never touches a module: its
// buttons emit requests for its target module (the module object named with setTarget(),
// whichever module the main window shows meanwhile), and the transfer is a FirmwareTransferJob
// that the service desk starts on transferRequested() and hands to followTransfer(); the dialog
// shows its progress and outcome. The target is fixed while a transfer runs.
//
// The module words it shows (control and status, the special control words) are its target's:
// taken from the poller's snapshots where they hold them, otherwise from the reads the service
// desk hands over (update...), and from the transfer's own reads while one runs. They follow
// the age rules of every tool window: grey when ageing, "---" when no current reading is known
// (a read that was not answered shows "---" at once), "Not connected" when the module does not
// answer. Nothing is written that was built from a word that is not known.
//
// A file is read and checked whole before a transfer is requested; a file with a corrupt line or
// no data record sends nothing. A transfer ends: at the end of the file, by giving up (three
// checksum errors on one line, a compare error, or no progress for the stall limit), or by End
// Special, which also gives the module back the stop bit it had before.
class DialogSpecial : public ToolWindow
{
    Q_OBJECT
public:
    using State = FirmwareTransferJob::State;

    explicit DialogSpecial(DeviceSession* session = nullptr, QWidget* parent = nullptr);
    ~DialogSpecial() override;

    // Message boxes go through `dialogs` (not owned; nullptr: real boxes).
    void setUserDialogs(UserDialogs* dialogs);
    State state() const;
    // True while a transfer is under way (any state but idle and aborted).
    bool transferRunning() const;
    // The module the requests go to (null when none was named or it is gone).
    BaseModule* target() const;
    int serialNumber() const;
    // The module the next transfer and the buttons act on, its serial number as last read and
    // its name for the title ("VME BA 0x4000, serial 1234"); ignored while a transfer runs.
    void setTarget(BaseModule* module, int serialNumber, const QString& name);
    // Post Flash is offered: no transfer runs and no Write stopped short of a whole file.
    bool postFlashOffered() const;
    // Tests run the timed waits faster: the tick of the settling and post-flash waits (1 s), the
    // time without progress after which a transfer gives up, and the time between two reads of
    // the module's words during a transfer. Taken by the next transfer.
    void setTiming(int tickMs, int stallLimitMs, int reportIntervalMs = FirmwareTransferJob::Timing().reportIntervalMs);
    FirmwareTransferJob::Timing timing() const { return m_timing; }
    // Shows `job` (started by the service desk for this dialog's transferRequested()) until it
    // ended; the dialog does not own it.
    void followTransfer(FirmwareTransferJob* job);

    // Closing (window button or Escape) during a transfer asks first.
    void reject() override;

signals:
    void setModuleControl(quint32 control);
    void setSpecialControl(quint32 command);
    // The checked file should go to the target module (`write`: program it, else compare).
    void transferRequested(const QVector<FirmwareFile::Line>& lines, qint64 fileSize, bool write);
    // End Special during a transfer: the transfer is to stop at once.
    void transferStopRequested();

public slots:
    // Words of the target module read just now.
    void updateModuleControl(quint32 control);
    void updateModuleStatus(quint32 status);
    void updateModuleSpecialControlStatus(quint32 control, quint32 status);
    // A read of them that was not answered.
    void showModuleWordsUnknown();
    void showSpecialWordsUnknown();
    void updateDeviceClass(quint16 deviceClass);
    void setHexFilename(QString fileName);
    // A request that did not reach the module (refused, or the module is gone): shown in the
    // info line.
    void showProblem(QString text);

protected:
    void showEvent(QShowEvent* event) override;
    void showAnyModuleSnapshot(BaseModule* module, const ModuleSnapshot& snapshot, qint64 nowMs) override;
    void showFreshness(qint64 nowMs) override;

private slots:
    void on_txtFileName_textChanged(const QString& text);
    void on_btnSelectFile_clicked();
    void on_btnSendHexFile_clicked();
    void on_btnSetSpecial_clicked();
    void on_btnEndSpecial_clicked();
    void on_btnSync_clicked();
    void on_btnStandby_clicked();
    void on_btnPostFlash_clicked();
    void on_btnFpgaUpdate_clicked();
    void on_btnLiveInsertion_clicked();

private:
    void setState(State state);
    void command(quint32 command);
    void lockFileControls(bool locked);
    void updateButtons();
    void transferEnded(ServiceJob* job);
    // End Special during a transfer: back to idle at once.
    void stopTransfer();
    bool writing() const;
    UserDialogs* dialogs();
    // The target's module words from `snapshot` when it holds a reading newer than the last taken.
    void takeSnapshot(const ModuleSnapshot& snapshot);
    std::shared_ptr<const ModuleSnapshot> targetSnapshot() const;
    bool controlKnown(qint64 nowMs) const;
    // The word labels with the age of each word.
    void drawWords(qint64 nowMs);

    Ui::DialogSpecial* ui;
    UserDialogs* m_dialogs = nullptr;
    QPointer<BaseModule> m_target;
    QPointer<FirmwareTransferJob> m_job;
    State m_state = State::Idle;
    quint16 m_moduleControl = 0;
    quint16 m_moduleStatus = 0;
    quint32 m_specialCommand = 0;
    quint32 m_specialStatus = 0;
    // When each word was read (ModuleSnapshot::nowMs()); -1: not known.
    qint64 m_controlReadAtMs = -1;
    qint64 m_statusReadAtMs = -1;
    qint64 m_specialReadAtMs = -1;
    qint64 m_snapshotTakenAtMs = -1; // the tool-window read of the latest snapshot taken
    quint16 m_deviceClass = 0;
    int m_serialNumber = 0;
    FirmwareTransferJob::Timing m_timing;
    int m_linesSentAgain = 0;
    // The stop bit (setSTOP) of the module control word before the transfer asked for special
    // mode; -1 while unknown. Given back when the module leaves special mode.
    int m_stopBitBefore = -1;
    // Modules where a Write began programming and no whole file has been programmed and
    // verified since: their pending image is partial, so Post Flash must not commit it.
    QList<QPointer<BaseModule>> m_partialImages;
};
