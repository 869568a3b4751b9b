#pragma once

#include "service/FirmwareFile.h"
#include "service/ServiceJob.h"

#include <QByteArray>
#include <QTimer>
#include <QVector>

// The firmware transfer of a VME module's boot loader as a job: asks the module into its special
// mode, lets it settle, starts programming or comparing, sends the checked lines of a Motorola
// S-record file one by one in the loader's handshake, verifies a written image and has post
// flash commit it, then ends special mode.
//
// The job reads the module's words itself: each cycle is one step on the poller's thread that
// first carries out what the last report called for (control word, special commands, a line)
// and then reads control, status, special command and special status; the report is handled
// here and the next cycle follows after the report interval. While the module settles into
// special mode it is left alone (quietPeriod()).
//
// Ends with NoError after a compare of the whole file or after post flash; GaveUp (errorText():
// the warning) after three checksum errors on one line, a compare error, or no progress for the
// stall limit; Cancelled by kill() (nothing more is sent; the caller ends special mode).
class FirmwareTransferJob : public ServiceJob
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
    Q_ENUM(State)

    struct Timing
    {
        // One tick of the settling (5 ticks) and post-flash (20 ticks) waits.
        int tickMs = 1000;
        // A transfer that has not advanced for this long gives up.
        int stallLimitMs = 30000;
        // From one report of the module's words to the next (the window's refresh cadence).
        int reportIntervalMs = 200;
    };

    // Special status values the module reports.
    static constexpr quint32 statusWaiting = 0x81;
    static constexpr quint32 statusReady = 0x84;
    static constexpr quint32 statusChecksumError = 0x92;
    static constexpr quint32 statusCompareError = 0x96;

    // `lines`: the file as FirmwareFile checked it whole; `write`: program (else compare).
    FirmwareTransferJob(DeviceSession* session, BaseModule* module, const QVector<FirmwareFile::Line>& lines,
        qint64 fileSize, bool write, QObject* parent = nullptr);

    // Before start().
    void setTiming(const Timing& timing);
    State transferState() const { return m_state; }
    bool writing() const { return m_write; }

signals:
    void stateChanged(FirmwareTransferJob::State state);
    // The words of each answered report.
    void wordsRead(quint32 control, quint32 status, quint32 specialCommand, quint32 specialStatus);
    // The module's control word before the transfer asked for special mode had its stop bit.
    void stopBitNoted(bool stopBitWasSet);
    void lineSentAgain();
    // Programming began: the module's pending image is partial until imageVerified().
    void programmingStarted();
    void imageVerified();
    // True while the module settles into special mode: nothing should read it meanwhile.
    void quietPeriod(bool quiet);

protected:
    void begin() override;

private:
    struct Words
    {
        bool answered = false;
        quint32 control = 0, status = 0, specialCommand = 0, specialStatus = 0;
    };
    struct Request
    {
        enum Kind { Control, Command, Line } kind;
        quint32 value = 0;
        QByteArray line;
    };

    // The one place the state changes.
    void setState(State state);
    void progressMade();
    void cycle();
    // Carries out what is pending, then `next` (here).
    void flushThen(Continuation next);
    static void carryOut(BaseModule& module, StepWrites& writes, const QVector<Request>& requests);
    void report(const Words& words);
    void handleStatus(const Words& words);
    void handleSpecial(const Words& words);
    void handleTransferReport(const Words& words);
    void command(quint32 command);
    void sendLine(bool onReady);
    bool atEndOfFile() const;
    void abort(const QString& warning);
    void tick();
    void stalled();
    void ended();

    QVector<FirmwareFile::Line> m_lines;
    qint64 m_fileSize;
    bool m_write;
    Timing m_timing;
    State m_state = State::Idle;
    int m_deviceClass = 0;
    quint16 m_moduleControl = 0;
    bool m_stopBitNoted = false;
    QVector<Request> m_pending;
    QTimer m_tick;
    QTimer m_stall;
    int m_waitCount = 0;
    int m_postFlashCount = 0;
    int m_nextLine = 0;
    // The line in flight and the handshake counters.
    QByteArray m_currentLine;
    int m_acknowledgeCount = 0;
    int m_checksumErrorCount = 0; // for the line in flight; a new line starts at 0
    bool m_resend = false;
    bool m_ready = true;
    QString m_address; // what the address display shows

    static constexpr int settlingTicks = 5;
    static constexpr int postFlashTicks = 20;
    static constexpr int acknowledgeTimeoutReports = 50;
    static constexpr int checksumErrorsToGiveUp = 3;
};
