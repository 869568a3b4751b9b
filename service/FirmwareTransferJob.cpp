#include "FirmwareTransferJob.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/StatusWordBits.h"
#include "service/SRecord.h"

#include <limits>

namespace {
constexpr quint32 requestSpecialMode = ModuleControlBit::enterSpecialMode;
constexpr quint32 requestStop = ModuleControlBit::stop;
constexpr quint32 specialModeBit = ModuleStatusBit::specialMode;
constexpr int twelveChannelClass = 20;

// Special control commands.
constexpr quint32 commandStandby = 1;
constexpr quint32 commandProgram = 3;
constexpr quint32 commandCompare = 4;
constexpr quint32 commandVerify = 5;
constexpr quint32 commandPostFlash = 6;
constexpr quint32 commandEndSpecial = 7;
constexpr quint32 commandSpecialReached = 14;

QString hexText(quint32 value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

// The six address characters after the record type and byte count.
constexpr int addressStart = 4;
constexpr int addressLength = 6;

// Flash page and offset of a record as the module's banked memory sees them: S2 records from
// 0x0E0000 on lie in 16 KiB pages shown through the window at 0x8000.
QString pageAndOffset(const QByteArray& line)
{
    int d[addressLength];
    for (int i = 0; i < addressLength; ++i)
        d[i] = qMax(0, SRecord::hexDigit(line.at(addressStart + i)));
    int page = 0;
    int offset = d[2] << 12 | d[3] << 8 | d[4] << 4 | d[5];
    if (line.at(1) == '2' && (d[0] << 4 | d[1]) >= 0x0E) {
        page = (d[0] << 8 | d[1] << 4 | d[2]) >> 2;
        offset = 0x8000 + ((d[2] & 3) << 12 | d[3] << 8 | d[4] << 4 | d[5]);
    }
    return hexText(quint32(page), 2) + QLatin1Char(':') + hexText(quint32(offset), 4);
}

int progressTotal(qint64 fileSize)
{
    return int(qMin<qint64>(fileSize, std::numeric_limits<int>::max()));
}
} // namespace

FirmwareTransferJob::FirmwareTransferJob(DeviceSession* session, BaseModule* module,
    const QVector<FirmwareFile::Line>& lines, qint64 fileSize, bool write, QObject* parent)
    : ServiceJob(session, module, QStringLiteral("firmware"), parent)
    , m_lines(lines)
    , m_fileSize(fileSize)
    , m_write(write)
{
    connect(&m_tick, &QTimer::timeout, this, &FirmwareTransferJob::tick);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, &FirmwareTransferJob::stalled);
    connect(this, &ServiceJob::finished, this, &FirmwareTransferJob::ended);
}

void FirmwareTransferJob::setTiming(const Timing& timing)
{
    m_timing = timing;
}

void FirmwareTransferJob::setState(State state)
{
    const bool running = state != State::Idle && state != State::Aborted;
    if (state != m_state) {
        m_state = state;
        emit stateChanged(state);
        if (running)
            progressMade();
    }
    if (!running)
        m_stall.stop();
}

void FirmwareTransferJob::progressMade()
{
    m_stall.start(m_timing.stallLimitMs);
}

void FirmwareTransferJob::ended()
{
    m_tick.stop();
    m_stall.stop();
    m_pending.clear();
    // A cancel leaves the transfer where the caller takes over.
    if (m_state != State::Idle && m_state != State::Aborted)
        setState(State::Idle);
}

void FirmwareTransferJob::begin()
{
    runStep([this](BaseModule& module, StepWrites&) -> Continuation {
        const int deviceClass = module.deviceClass();
        return [this, deviceClass] {
            m_deviceClass = deviceClass;
            setState(State::RequestingSpecialMode);
            cycle();
        };
    });
}

void FirmwareTransferJob::carryOut(BaseModule& module, StepWrites& writes, const QVector<Request>& requests)
{
    for (const Request& request : requests) {
        switch (request.kind) {
        case Request::Control:
            writes.check(module.setControl(request.value), -1, tr("set module control 0x%1").arg(request.value, 0, 16));
            break;
        case Request::Command:
            writes.check(module.setSpecialControlCommand(request.value), -1, tr("special command %1").arg(request.value));
            break;
        case Request::Line:
            writes.check(module.sendHexLine(request.line), -1, tr("send firmware line"));
            break;
        }
    }
}

void FirmwareTransferJob::cycle()
{
    const QVector<Request> requests = std::exchange(m_pending, {});
    runStep([this, requests](BaseModule& module, StepWrites& writes) -> Continuation {
        carryOut(module, writes, requests);
        Words words;
        words.control = module.control();
        words.status = module.status();
        words.specialCommand = module.specialControlCommand();
        words.specialStatus = module.specialControlStatus();
        // Zeros of a module that did not answer are not readings.
        words.answered = module.connected();
        return [this, words] { report(words); };
    });
}

void FirmwareTransferJob::flushThen(Continuation next)
{
    if (m_pending.isEmpty()) {
        next();
        return;
    }
    const QVector<Request> requests = std::exchange(m_pending, {});
    runStep([requests, next](BaseModule& module, StepWrites& writes) -> Continuation {
        carryOut(module, writes, requests);
        return next;
    });
}

void FirmwareTransferJob::report(const Words& words)
{
    // An ending (abort, the last command) is under way and carries the job to its end.
    if (m_state == State::Idle || m_state == State::Aborted)
        return;
    if (words.answered) {
        emit wordsRead(words.control, words.status, words.specialCommand, words.specialStatus);
        handleStatus(words);
        if (isRunning())
            handleSpecial(words);
    }
    if (!isRunning())
        return;
    // The waits run on their ticks; the module is read again when they end.
    if (m_tick.isActive()) {
        flushThen([] {});
        return;
    }
    after(m_timing.reportIntervalMs, [this] { cycle(); });
}

void FirmwareTransferJob::command(quint32 command)
{
    m_pending.append(Request{Request::Command, command, {}});
}

void FirmwareTransferJob::handleStatus(const Words& words)
{
    m_moduleControl = quint16(words.control);
    if (m_state != State::RequestingSpecialMode && m_state != State::RequestingSpecialModeAgain)
        return;
    // The control word of this report was read together with the status: what the module had
    // before the transfer asked for special mode.
    if (!m_stopBitNoted) {
        m_stopBitNoted = true;
        emit stopBitNoted((m_moduleControl & requestStop) != 0);
    }
    m_moduleControl |= requestSpecialMode;
    m_pending.append(Request{Request::Control, m_moduleControl, {}});
    if (words.status & specialModeBit)
        setState(m_state == State::RequestingSpecialMode ? State::Settling : State::Starting);
}

void FirmwareTransferJob::handleSpecial(const Words& words)
{
    const quint32 control = words.specialCommand;
    switch (m_state) {
    case State::Settling:
        if (m_tick.isActive())
            return;
        command(commandSpecialReached);
        m_waitCount = 0;
        emit quietPeriod(true);
        setProgress(0, settlingTicks, tr("Waiting..."));
        m_tick.start(m_timing.tickMs);
        return;
    case State::Starting: {
        const quint32 start = m_write ? commandProgram : commandCompare;
        command(start);
        if (control == start) {
            setProgress(0, progressTotal(m_fileSize), QString());
            // From here until a whole file is programmed and verified the module holds a
            // partial image.
            if (m_write)
                emit programmingStarted();
            setState(m_write ? State::Programming : State::Comparing);
        }
        return;
    }
    case State::StartingVerification:
        command(commandVerify);
        if (control == commandVerify) {
            setProgress(0, progressTotal(m_fileSize), QString());
            setState(State::Verifying);
        }
        return;
    case State::StartingPostFlash:
        if (control == commandPostFlash) {
            setState(State::PostFlashWait);
            m_postFlashCount = 0;
            setProgress(0, postFlashTicks, tr("PostFlash"));
            m_tick.start(m_timing.tickMs);
        } else {
            command(commandPostFlash);
        }
        return;
    case State::Programming:
    case State::Comparing:
    case State::Verifying:
        handleTransferReport(words);
        return;
    default:
        return;
    }
}

bool FirmwareTransferJob::atEndOfFile() const
{
    // A line that must go again keeps the transfer short of its end.
    return m_nextLine >= m_lines.size() && !m_resend;
}

void FirmwareTransferJob::sendLine(bool onReady)
{
    qint64 position = -1;
    if (!m_resend) {
        if (m_nextLine >= m_lines.size())
            return;
        const FirmwareFile::Line& line = m_lines.at(m_nextLine++);
        m_currentLine = line.text;
        // Checksum errors are counted per line: a line the module took ends the count.
        m_checksumErrorCount = 0;
        progressMade();
        position = line.endOffset;
    }
    // Every line was checked when the file was read: it holds at least the record type, the
    // byte count and the six address characters shown here.
    const QString action = m_state == State::Programming ? tr("Burning: ") : tr("Comparing: ");
    if (onReady) {
        m_address = action + pageAndOffset(m_currentLine);
    } else {
        const QString address = QString::fromLatin1(m_currentLine.mid(addressStart, addressLength));
        m_address = action + address.left(2) + QLatin1Char(':') + address.mid(2);
    }
    const int total = progressTotal(m_fileSize);
    setProgress(position < 0 ? -1 : int(qMin<qint64>(position, total)), total, m_address);
    m_resend = false;
    m_ready = false;
    m_pending.append(Request{Request::Line, 0, m_currentLine});
}

void FirmwareTransferJob::handleTransferReport(const Words& words)
{
    switch (words.specialStatus) {
    case statusReady:
        m_acknowledgeCount = 0;
        if (atEndOfFile()) {
            command(commandStandby);
            if (m_state == State::Programming) {
                m_nextLine = 0;
                setState(State::StartingVerification);
            } else if (m_state == State::Verifying) {
                // The whole file is programmed and verified: post flash may commit it.
                emit imageVerified();
                setState(State::StartingPostFlash);
            } else {
                setState(State::Idle);
                flushThen([this] { finish(); });
                return;
            }
        } else if (m_deviceClass == twelveChannelClass) {
            // The module acknowledges the standby command before it takes the next line.
            command(commandStandby);
            if (words.specialCommand == commandStandby)
                sendLine(true);
        } else if (!m_ready) {
            command(commandStandby);
        }
        m_ready = true;
        break;
    case statusWaiting:
        if (++m_acknowledgeCount > acknowledgeTimeoutReports) {
            command(commandStandby);
            qCDebug(lcService) << "Acknowledge timeout, resuming hex line";
            m_acknowledgeCount = 0;
            m_resend = true;
        }
        if (m_ready || m_resend)
            sendLine(false);
        break;
    case statusChecksumError: {
        // Reported again for the line just sent: that line goes again, and the third report
        // for the same line gives up.
        const bool giveUp = ++m_checksumErrorCount >= checksumErrorsToGiveUp;
        emit lineSentAgain();
        if (giveUp) {
            abort(tr("%1 Checksum Errors while transmitting HEX File. Giving Up!").arg(m_checksumErrorCount));
            return;
        }
        m_resend = true;
        command(commandStandby);
        break;
    }
    case statusCompareError:
        abort(tr("Compare Error: Programs in Controller and HEX fileare not identical!"));
        break;
    default:
        break;
    }
}

void FirmwareTransferJob::abort(const QString& warning)
{
    m_tick.stop();
    setState(State::Aborted);
    command(commandStandby);
    flushThen([this, warning] { finish(GaveUp, warning); });
}

void FirmwareTransferJob::stalled()
{
    if (!isRunning() || m_state == State::Idle || m_state == State::Aborted)
        return;
    abort(tr("The module did not advance the transfer for %1 s. Giving Up!")
              .arg(QString::number(m_timing.stallLimitMs / 1000.0)));
}

void FirmwareTransferJob::tick()
{
    if (!isRunning()) {
        m_tick.stop();
        return;
    }
    if (m_state == State::PostFlashWait) {
        setProgress(++m_postFlashCount, postFlashTicks, tr("PostFlash"));
        if (m_postFlashCount >= postFlashTicks) {
            m_tick.stop();
            setState(State::Idle);
            command(commandEndSpecial);
            flushThen([this] { finish(); });
        }
    } else if (m_state == State::Settling) {
        setProgress(++m_waitCount, settlingTicks, tr("Waiting..."));
        if (m_waitCount >= settlingTicks) {
            m_tick.stop();
            setState(State::RequestingSpecialModeAgain);
            command(m_write ? commandProgram : commandCompare);
            emit quietPeriod(false);
            cycle();
        }
    } else {
        m_tick.stop();
    }
}
