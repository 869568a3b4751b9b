#pragma once

#include "service/FirmwareFile.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVector>

#include "device/BaseModule.h"
class QTimer;
class UserDialogs;

namespace Ui {
class DialogSpecial;
}

// "Special Mode": puts a module into its special (boot loader) mode, sends a Motorola S-record
// file to it line by line for programming or comparing, and offers the other special-mode
// commands. The dialog never touches a module: it emits requests for its target module (the
// module object named with setTarget(), whichever module the main window shows meanwhile), and
// it advances its transfer when the main window reports that module's words. The target is
// fixed while a transfer runs.
//
// A file is read and checked whole before the module is asked into special mode; a file with a
// corrupt line or no data record sends nothing. A transfer ends: at the end of the file, by
// giving up (three checksum errors on one line, a compare error, or no progress for the stall
// limit), or by End Special, which also gives the module back the stop bit it had before.
class DialogSpecial : public QDialog
{
    Q_OBJECT
public:
    // The transfer's states; the numbers are the ones the service documentation uses.
    enum class State {
        Idle = 0,
        OpeningFile = 1,
        RequestingSpecialMode = 2,
        Settling = 3,
        RequestingSpecialModeAgain = 4,
        Starting = 5,
        Programming = 6,
        StartingVerification = 7,
        Comparing = 8,
        Verifying = 9,
        StartingPostFlash = 10,
        PostFlashWait = 11,
        Aborted = 12,
    };

    explicit DialogSpecial(QWidget* parent = nullptr);
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
    // Tests run the timed waits faster: the tick of the settling and post-flash waits (1 s) and
    // the time without progress after which a transfer gives up.
    void setTiming(int tickMs, int stallLimitMs);

    // A transfer that has not advanced for this long gives up.
    static constexpr int defaultStallLimitMs = 30000;

    // Special status values the module reports.
    static constexpr quint32 statusWaiting = 0x81;
    static constexpr quint32 statusReady = 0x84;
    static constexpr quint32 statusChecksumError = 0x92;
    static constexpr quint32 statusCompareError = 0x96;

    // Closing (window button or Escape) during a transfer asks first.
    void reject() override;

signals:
    void setModuleControl(int serialNumber, quint32 control);
    void setSpecialControl(int serialNumber, quint32 command);
    void sendHexLine(int serialNumber, QByteArray line);

public slots:
    void updateModuleControl(int serialNumber, quint32 control);
    void updateModuleStatus(int serialNumber, quint32 status);
    void updateModuleSpecialControlStatus(int serialNumber, quint32 control, quint32 status);
    void updateDeviceClass(quint16 deviceClass);
    void setHexFilename(QString fileName);
    // A request that did not reach the module (refused, or the module is gone): shown in the
    // info line.
    void showProblem(QString text);

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
    void timeout();

private:
    // What the transfer keeps between reports: the line in flight and the handshake counters.
    struct TransferVariables
    {
        QByteArray currentLine;
        int acknowledgeCount = 0;
        // Checksum errors reported for the line in flight; a new line starts again at 0.
        int checksumErrorCount = 0;
        bool resend = false;
        bool ready = true;
    };

    // The one place the state changes; it also keeps the buttons and the stall watch in step.
    void setState(State state);
    void progressMade();
    void command(quint32 command);
    void lockFileControls(bool locked);
    void updateButtons();
    bool atEndOfFile() const;
    // Sends the current line again or the next one; `onReady` picks the address display.
    void sendLine(bool onReady);
    // The transfer gives up (state 12): standby, file controls unlocked, then the warning.
    void abort(const QString& warning);
    // End Special during a transfer: back to idle at once.
    void stopTransfer();
    void stalled();
    // The line ends in handleTransferReport's states.
    void handleTransferReport(quint32 control, quint32 status);
    bool writing() const;
    UserDialogs* dialogs();

    Ui::DialogSpecial* ui;
    QTimer* m_timer;
    QTimer* m_stallTimer;
    UserDialogs* m_dialogs = nullptr;
    QPointer<BaseModule> m_target;
    State m_state = State::Idle;
    quint16 m_moduleControl = 0;
    quint16 m_moduleStatus = 0;
    quint16 m_deviceClass = 0;
    int m_serialNumber = 0;
    int m_tickMs = 1000;
    int m_postFlashCount = 0;
    int m_waitCount = 0;
    int m_linesSentAgain = 0;
    // The stop bit (setSTOP) of the module control word before the transfer asked for special
    // mode; -1 while unknown. Given back when the module leaves special mode.
    int m_stopBitBefore = -1;
    // Modules where a Write began programming and no whole file has been programmed and
    // verified since: their pending image is partial, so Post Flash must not commit it.
    QList<QPointer<BaseModule>> m_partialImages;
    qint64 m_fileSize = 0;
    QVector<FirmwareFile::Line> m_lines;
    int m_nextLine = 0;
    TransferVariables m_transfer;

    static constexpr int settlingSeconds = 5;
    static constexpr int postFlashSeconds = 20;
    static constexpr int acknowledgeTimeoutReports = 50;
    static constexpr int checksumErrorsToGiveUp = 3;
};
