#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QVector>

class QTimer;
class UserDialogs;

namespace Ui {
class DialogSpecial;
}

// "Special Mode": puts a module into its special (boot loader) mode, sends a Motorola S-record
// file to it line by line for programming or comparing, and offers the other special-mode
// commands. The dialog never touches a module: it emits requests that carry the serial number
// of its target module, and it advances its transfer when the main window reports that module's
// words. The target is fixed when a transfer starts; until then it follows the module the main
// window names with setSerialNumber().
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
    // The module the requests go to.
    int serialNumber() const;
    // The module the next transfer and the buttons act on; ignored while a transfer runs.
    void setSerialNumber(int serialNumber);

    // Special status values the module reports.
    static constexpr quint32 statusWaiting = 0x81;
    static constexpr quint32 statusReady = 0x84;
    static constexpr quint32 statusChecksumError = 0x92;
    static constexpr quint32 statusCompareError = 0x96;

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Line
    {
        QByteArray text;
        int lineNumber = 0;   // in the file, from 1
        qint64 endOffset = 0; // file position after the line
    };

    // What the transfer keeps between reports: the line in flight and the handshake counters.
    struct TransferVariables
    {
        QByteArray currentLine;
        int acknowledgeCount = 0;
        int checksumErrorCount = 0;
        bool resend = false;
        bool ready = true;
    };

    void setState(State state);
    void command(quint32 command);
    void lockFileControls(bool locked);
    // The file's records; false when it cannot be opened.
    bool loadFile();
    bool atEndOfFile() const;
    // Sends the current line again or the next one; `onReady` picks the address display.
    void sendLine(bool onReady);
    void abortCorruptLine(const Line& line);
    // The line ends in handleTransferReport's states.
    void handleTransferReport(quint32 control, quint32 status);
    bool writing() const;
    UserDialogs* dialogs();

    Ui::DialogSpecial* ui;
    QTimer* m_timer;
    UserDialogs* m_dialogs = nullptr;
    State m_state = State::Idle;
    quint16 m_moduleControl = 0;
    quint16 m_moduleStatus = 0;
    quint16 m_deviceClass = 0;
    int m_serialNumber = 0;
    int m_postFlashCount = 0;
    int m_waitCount = 0;
    int m_linesSentAgain = 0;
    qint64 m_fileSize = 0;
    QVector<Line> m_lines;
    int m_nextLine = 0;
    TransferVariables m_transfer;

    static constexpr int settlingSeconds = 5;
    static constexpr int postFlashSeconds = 20;
    static constexpr int acknowledgeTimeoutReports = 50;
    static constexpr int checksumErrorsToGiveUp = 3;
    // Record type, byte count and the six address characters read for the display.
    static constexpr int shortestRecord = 10;
};
