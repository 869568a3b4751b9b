#include "DialogSpecial.h"

#include "ui_DialogSpecial.h"

#include "controller/ApplicationIdentity.h"
#include "controller/LogCategories.h"
#include "device/StatusWordBits.h"
#include "dialogs/common/UserDialogs.h"
#include "service/SRecord.h"

#include <QDebug>
#include <QFile>
#include <QTimer>

#include <limits>

namespace {
constexpr quint16 twelveChannelClass = 20;

// Special control commands.
constexpr quint32 commandStandby = 1;
constexpr quint32 commandProgram = 3;
constexpr quint32 commandCompare = 4;
constexpr quint32 commandVerify = 5;
constexpr quint32 commandPostFlash = 6;
constexpr quint32 commandEndSpecial = 7;
constexpr quint32 commandSync = 11;
constexpr quint32 commandLiveInsertion = 12;
constexpr quint32 commandFpgaUpdate = 13;
constexpr quint32 commandSpecialReached = 14;

constexpr int timerIntervalMs = 1000;

QString title()
{
    return QString::fromLatin1(ApplicationIdentity::applicationName);
}

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
} // namespace

DialogSpecial::DialogSpecial(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogSpecial)
    , m_timer(new QTimer(this))
    , m_stallTimer(new QTimer(this))
{
    ui->setupUi(this);
    connect(m_timer, &QTimer::timeout, this, &DialogSpecial::timeout);
    m_stallTimer->setSingleShot(true);
    m_stallTimer->setInterval(defaultStallLimitMs);
    connect(m_stallTimer, &QTimer::timeout, this, &DialogSpecial::stalled);
    on_txtFileName_textChanged(ui->txtFileName->text());
}

DialogSpecial::~DialogSpecial()
{
    delete ui;
}

void DialogSpecial::setUserDialogs(UserDialogs* dialogs)
{
    m_dialogs = dialogs;
}

UserDialogs* DialogSpecial::dialogs()
{
    static UserDialogs realDialogs;
    return m_dialogs ? m_dialogs : &realDialogs;
}

void DialogSpecial::setTiming(int tickMs, int stallLimitMs)
{
    m_tickMs = tickMs;
    m_stallTimer->setInterval(stallLimitMs);
}

DialogSpecial::State DialogSpecial::state() const
{
    return m_state;
}

bool DialogSpecial::transferRunning() const
{
    return m_state != State::Idle && m_state != State::Aborted;
}

BaseModule* DialogSpecial::target() const
{
    return m_target.data();
}

int DialogSpecial::serialNumber() const
{
    return m_serialNumber;
}

void DialogSpecial::setTarget(BaseModule* module, int serialNumber, const QString& name)
{
    // A transfer stays with the module it started on.
    if (transferRunning())
        return;
    if (module != m_target) {
        m_moduleControl = 0;
        m_moduleStatus = 0;
        m_stopBitBefore = -1;
    }
    m_target = module;
    m_serialNumber = serialNumber;
    setWindowTitle(name.isEmpty() ? tr("Special Mode") : tr("Special Mode - %1").arg(name));
    updateButtons();
}

bool DialogSpecial::postFlashOffered() const
{
    return !transferRunning() && !m_partialImages.contains(m_target);
}

void DialogSpecial::setState(State state)
{
    if (state != m_state) {
        m_state = state;
        progressMade();
    }
    if (!transferRunning())
        m_stallTimer->stop();
    updateButtons();
}

void DialogSpecial::progressMade()
{
    if (transferRunning())
        m_stallTimer->start();
}

void DialogSpecial::updateButtons()
{
    ui->btnPostFlash->setEnabled(postFlashOffered());
}

bool DialogSpecial::writing() const
{
    return ui->chkS19ModeWrite->isChecked();
}

void DialogSpecial::command(quint32 command)
{
    emit setSpecialControl(m_serialNumber, command);
}

void DialogSpecial::lockFileControls(bool locked)
{
    ui->btnSelectFile->setEnabled(!locked);
    ui->btnSendHexFile->setEnabled(!locked && !ui->txtFileName->text().isEmpty());
    ui->grpFlashMode->setEnabled(!locked);
    ui->txtFileName->setEnabled(!locked);
}

void DialogSpecial::showProblem(QString text)
{
    ui->txtInfo->setText(text);
}

// ---- Transfer ----

bool DialogSpecial::atEndOfFile() const
{
    // A line that must go again keeps the transfer short of its end.
    return m_nextLine >= m_lines.size() && !m_transfer.resend;
}

void DialogSpecial::sendLine(bool onReady)
{
    if (!m_transfer.resend) {
        if (m_nextLine >= m_lines.size())
            return;
        const FirmwareFile::Line& line = m_lines.at(m_nextLine++);
        m_transfer.currentLine = line.text;
        // Checksum errors are counted per line: a line the module took ends the count.
        m_transfer.checksumErrorCount = 0;
        progressMade();
        ui->progressBar->setValue(int(qMin<qint64>(line.endOffset, ui->progressBar->maximum())));
    }
    // Every line was checked when the file was read: it holds at least the record type, the
    // byte count and the six address characters shown here.
    const QByteArray& line = m_transfer.currentLine;
    const QString action = m_state == State::Programming ? tr("Burning: ") : tr("Comparing: ");
    if (onReady) {
        ui->txtAddress->setText(action + pageAndOffset(line));
    } else {
        const QString address = QString::fromLatin1(line.mid(addressStart, addressLength));
        ui->txtAddress->setText(action + address.left(2) + QLatin1Char(':') + address.mid(2));
    }
    m_transfer.resend = false;
    m_transfer.ready = false;
    emit sendHexLine(m_serialNumber, line);
}

void DialogSpecial::abort(const QString& warning)
{
    m_timer->stop();
    setState(State::Aborted);
    command(commandStandby);
    lockFileControls(false);
    dialogs()->warning(this, title(), warning, QMessageBox::Ok);
}

void DialogSpecial::stalled()
{
    if (!transferRunning())
        return;
    abort(tr("The module did not advance the transfer for %1 s. Giving Up!")
              .arg(QString::number(m_stallTimer->interval() / 1000.0)));
}

void DialogSpecial::stopTransfer()
{
    m_timer->stop();
    setState(State::Idle);
    lockFileControls(false);
    ui->txtAddress->clear();
    ui->txtInfo->setText(tr("Transfer stopped by End Special."));
}

// ---- Buttons ----

void DialogSpecial::on_txtFileName_textChanged(const QString& text)
{
    ui->btnSendHexFile->setEnabled(!text.isEmpty());
}

void DialogSpecial::setHexFilename(QString fileName)
{
    ui->txtFileName->setText(fileName);
}

void DialogSpecial::on_btnSelectFile_clicked()
{
    ui->txtFileName->setText(
        dialogs()->getOpenFileName(this, tr("Open HEX file"), ui->txtFileName->text(), tr("Motorola HEX files (*.hex)")));
}

void DialogSpecial::on_btnSendHexFile_clicked()
{
    const QString fileName = ui->txtFileName->text();
    if (fileName.isEmpty()) {
        dialogs()->information(this, title(), tr("Please select a HEX file first!"), QMessageBox::Ok);
        return;
    }
    if (!m_target) {
        dialogs()->warning(this, title(), tr("No module is selected: nothing was sent."), QMessageBox::Ok);
        return;
    }
    setState(State::OpeningFile);
    // The whole file is read and checked before the module is asked for anything.
    FirmwareFile file;
    switch (file.load(fileName)) {
    case FirmwareFile::Result::CannotOpen:
        setState(State::Idle);
        dialogs()->warning(this, title(), tr("Can not open HEX file %1!").arg(fileName), QMessageBox::Ok);
        return;
    case FirmwareFile::Result::Refused:
        setState(State::Idle);
        dialogs()->warning(this, title(), file.errorString() + tr(" Nothing was sent."), QMessageBox::Ok);
        return;
    case FirmwareFile::Result::Ok:
        break;
    }
    m_lines = file.lines();
    m_fileSize = file.size();
    m_nextLine = 0;
    // Nothing of an earlier transfer (a line to resend, counters) carries over.
    m_transfer = TransferVariables();
    m_stopBitBefore = -1;
    ui->txtInfo->clear();
    setState(State::RequestingSpecialMode);
    lockFileControls(true);
}

void DialogSpecial::on_btnSetSpecial_clicked()
{
    // Asked by hand: leaving special mode again withdraws the stop bit as well.
    m_stopBitBefore = -1;
    m_moduleControl |= ModuleControlBit::enterSpecialMode;
    emit setModuleControl(m_serialNumber, m_moduleControl);
}

void DialogSpecial::on_btnEndSpecial_clicked()
{
    if (transferRunning())
        stopTransfer();
    command(commandEndSpecial);
}

void DialogSpecial::on_btnSync_clicked()
{
    command(commandSync);
}

void DialogSpecial::on_btnStandby_clicked()
{
    command(commandStandby);
}

void DialogSpecial::on_btnPostFlash_clicked()
{
    if (postFlashOffered())
        command(commandPostFlash);
}

void DialogSpecial::on_btnFpgaUpdate_clicked()
{
    command(commandFpgaUpdate);
}

void DialogSpecial::on_btnLiveInsertion_clicked()
{
    command(commandLiveInsertion);
}

// ---- Reports ----

void DialogSpecial::updateDeviceClass(quint16 deviceClass)
{
    m_deviceClass = deviceClass;
    if (deviceClass == twelveChannelClass)
        ui->btnLiveInsertion->setEnabled(false);
    else
        ui->btnStandby->setEnabled(true);
    ui->btnSync->setEnabled(deviceClass != twelveChannelClass);
}

void DialogSpecial::updateModuleControl(int serialNumber, quint32 control)
{
    if (serialNumber != m_serialNumber)
        return;
    m_moduleControl = quint16(control);
}

void DialogSpecial::updateModuleStatus(int serialNumber, quint32 status)
{
    if (serialNumber != m_serialNumber)
        return;
    m_moduleStatus = quint16(status);
    const bool special = status & ModuleStatusBit::specialMode;
    ui->btnLiveInsertion->setEnabled(special);
    ui->lblModuleControlStatus->setText(QStringLiteral("ModuleControl = 0x%1, ModuleStatus = 0x%2")
                                            .arg(hexText(m_moduleControl, 4), hexText(m_moduleStatus, 4)));
    if (m_state != State::RequestingSpecialMode && m_state != State::RequestingSpecialModeAgain)
        return;
    // The control word of this report was read together with the status: what the module had
    // before the transfer asked for special mode.
    if (m_stopBitBefore < 0)
        m_stopBitBefore = m_moduleControl & ModuleControlBit::stop;
    m_moduleControl |= ModuleControlBit::enterSpecialMode;
    emit setModuleControl(m_serialNumber, m_moduleControl);
    if (special)
        setState(m_state == State::RequestingSpecialMode ? State::Settling : State::Starting);
}

void DialogSpecial::updateModuleSpecialControlStatus(int serialNumber, quint32 control, quint32 status)
{
    if (serialNumber != m_serialNumber)
        return;
    ui->lblSpecialControlStatus->setText(
        QStringLiteral("SpecialControl = 0x%1, SpecialStatus = 0x%2").arg(hexText(control, 8), hexText(status, 8)));
    switch (m_state) {
    case State::Settling:
        // A report that was under way when the wait began does not restart it.
        if (m_timer->isActive())
            return;
        command(commandSpecialReached);
        m_waitCount = 0;
        ui->progressBar->setRange(0, settlingSeconds);
        ui->progressBar->setValue(0);
        ui->txtAddress->setText(tr("Waiting..."));
        m_timer->start(m_tickMs);
        return;
    case State::Starting: {
        const quint32 start = writing() ? commandProgram : commandCompare;
        command(start);
        if (control == start) {
            ui->progressBar->setRange(0, int(qMin<qint64>(m_fileSize, std::numeric_limits<int>::max())));
            ui->progressBar->setValue(0);
            // From here until a whole file is programmed and verified the module holds a
            // partial image.
            if (writing() && !m_partialImages.contains(m_target))
                m_partialImages.append(m_target);
            setState(writing() ? State::Programming : State::Comparing);
        }
        return;
    }
    case State::StartingVerification:
        command(commandVerify);
        if (control == commandVerify) {
            ui->progressBar->setValue(0);
            setState(State::Verifying);
        }
        return;
    case State::StartingPostFlash:
        if (control == commandPostFlash) {
            setState(State::PostFlashWait);
            m_postFlashCount = 0;
            ui->progressBar->setRange(0, postFlashSeconds);
            ui->progressBar->setValue(0);
            ui->txtAddress->setText(tr("PostFlash"));
            m_timer->start(m_tickMs);
        } else {
            command(commandPostFlash);
        }
        return;
    case State::Programming:
    case State::Comparing:
    case State::Verifying:
        handleTransferReport(control, status);
        return;
    default:
        break;
    }
    // The module left special mode: withdraw the request, and give the stop bit back as it was
    // before the transfer (once; the control word read back tells).
    if (control == commandEndSpecial) {
        const quint16 stopBit = m_stopBitBefore > 0 ? quint16(ModuleControlBit::stop) : 0;
        const quint16 wanted = quint16((m_moduleControl & ~ModuleControlBit::enterSpecialMode) | stopBit);
        if (wanted != m_moduleControl) {
            m_moduleControl = wanted;
            emit setModuleControl(m_serialNumber, m_moduleControl);
        }
    }
}

void DialogSpecial::handleTransferReport(quint32 control, quint32 status)
{
    switch (status) {
    case statusReady:
        m_transfer.acknowledgeCount = 0;
        if (atEndOfFile()) {
            command(commandStandby);
            if (m_state == State::Programming) {
                m_nextLine = 0;
                setState(State::StartingVerification);
            } else if (m_state == State::Verifying) {
                // The whole file is programmed and verified: post flash may commit it.
                m_partialImages.removeAll(m_target);
                setState(State::StartingPostFlash);
            } else {
                setState(State::Idle);
                lockFileControls(false);
                dialogs()->information(this, title(), tr("HEX file compare complete!"), QMessageBox::Ok);
            }
        } else if (m_deviceClass == twelveChannelClass) {
            // The module acknowledges the standby command before it takes the next line.
            command(commandStandby);
            if (control == commandStandby)
                sendLine(true);
        } else if (!m_transfer.ready) {
            command(commandStandby);
        }
        m_transfer.ready = true;
        break;
    case statusWaiting:
        if (++m_transfer.acknowledgeCount > acknowledgeTimeoutReports) {
            command(commandStandby);
            qCDebug(lcService) << "Acknowledge timeout, resuming hex line";
            m_transfer.acknowledgeCount = 0;
            m_transfer.resend = true;
        }
        if (m_transfer.ready || m_transfer.resend)
            sendLine(false);
        break;
    case statusChecksumError: {
        // Reported again for the line just sent: that line goes again, and the third report
        // for the same line gives up.
        const bool giveUp = ++m_transfer.checksumErrorCount >= checksumErrorsToGiveUp;
        ++m_linesSentAgain;
        ui->txtInfo->setText(tr("%1 HEX Lines sent again.").arg(m_linesSentAgain));
        if (giveUp) {
            abort(tr("%1 Checksum Errors while transmitting HEX File. Giving Up!").arg(m_transfer.checksumErrorCount));
            return;
        }
        m_transfer.resend = true;
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

void DialogSpecial::timeout()
{
    if (m_state == State::PostFlashWait) {
        ui->progressBar->setValue(++m_postFlashCount);
        if (m_postFlashCount >= postFlashSeconds) {
            setState(State::Idle);
            lockFileControls(false);
            m_timer->stop();
            command(commandEndSpecial);
        }
    } else if (m_state == State::Settling) {
        ui->progressBar->setValue(++m_waitCount);
        if (m_waitCount >= settlingSeconds) {
            m_timer->stop();
            setState(State::RequestingSpecialModeAgain);
            command(writing() ? commandProgram : commandCompare);
        }
    } else {
        m_timer->stop();
    }
}

void DialogSpecial::reject()
{
    if (transferRunning()
        && dialogs()->question(this, title(), tr("Update is running! Close anyway? (Update will continue in background)"),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes)
        return;
    QDialog::reject();
}
