#include "DialogSpecial.h"

#include "ui_DialogSpecial.h"

#include "controller/ApplicationIdentity.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/StatusWordBits.h"
#include "dialogs/common/UserDialogs.h"

namespace {
constexpr quint16 twelveChannelClass = 20;

// Special control commands of the buttons.
constexpr quint32 commandStandby = 1;
constexpr quint32 commandPostFlash = 6;
constexpr quint32 commandEndSpecial = 7;
constexpr quint32 commandSync = 11;
constexpr quint32 commandLiveInsertion = 12;
constexpr quint32 commandFpgaUpdate = 13;

QString title()
{
    return QString::fromLatin1(ApplicationIdentity::applicationName);
}

QString hexText(quint32 value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

// "0x0004", or "---" for a word without a current reading.
QString wordText(quint32 value, int digits, Freshness freshness)
{
    return freshness == Freshness::Stale ? QStringLiteral("---") : QStringLiteral("0x") + hexText(value, digits);
}
} // namespace

DialogSpecial::DialogSpecial(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogSpecial)
{
    ui->setupUi(this);
    on_txtFileName_textChanged(ui->txtFileName->text());
    // The control word comes with the tool-window reads, the status with them.
    setNeeds(Poller::ModuleControlWords);
    drawWords(ModuleSnapshot::nowMs());
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

void DialogSpecial::setTiming(int tickMs, int stallLimitMs, int reportIntervalMs)
{
    m_timing.tickMs = tickMs;
    m_timing.stallLimitMs = stallLimitMs;
    m_timing.reportIntervalMs = reportIntervalMs;
}

DialogSpecial::State DialogSpecial::state() const
{
    return m_state;
}

bool DialogSpecial::transferRunning() const
{
    // The job may report its last state a step before it ended.
    return m_job || (m_state != State::Idle && m_state != State::Aborted);
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
    const bool otherModule = module != m_target;
    if (otherModule) {
        // Nothing read of the module before is this one's.
        m_moduleControl = 0;
        m_moduleStatus = 0;
        m_controlReadAtMs = m_statusReadAtMs = m_specialReadAtMs = m_snapshotTakenAtMs = -1;
        m_stopBitBefore = -1;
    }
    m_target = module;
    m_serialNumber = serialNumber;
    setWindowTitle(name.isEmpty() ? tr("Special Mode") : tr("Special Mode - %1").arg(name));
    updateButtons();
    if (otherModule && isVisible()) {
        if (const std::shared_ptr<const ModuleSnapshot> snapshot = targetSnapshot())
            takeSnapshot(*snapshot);
        drawWords(ModuleSnapshot::nowMs());
    }
}

bool DialogSpecial::postFlashOffered() const
{
    return !transferRunning() && !m_partialImages.contains(m_target);
}

void DialogSpecial::setState(State state)
{
    // The transfer's state is the job's; the dialog keeps what it last reported.
    m_state = state;
    updateButtons();
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
    emit setSpecialControl(command);
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

void DialogSpecial::followTransfer(FirmwareTransferJob* job)
{
    m_job = job;
    job->setTiming(m_timing);
    connect(job, &FirmwareTransferJob::stateChanged, this, &DialogSpecial::setState);
    connect(job, &ServiceJob::progress, this, [this](int done, int total, const QString& step) {
        ui->progressBar->setMaximum(total);
        if (done >= 0)
            ui->progressBar->setValue(done);
        if (!step.isEmpty())
            ui->txtAddress->setText(step);
    });
    connect(job, &FirmwareTransferJob::wordsRead, this,
        [this](quint32 control, quint32 status, quint32 command, quint32 special) {
            updateModuleControl(control);
            updateModuleStatus(status);
            updateModuleSpecialControlStatus(command, special);
        });
    connect(job, &FirmwareTransferJob::stopBitNoted, this, [this](bool set) { m_stopBitBefore = set ? 1 : 0; });
    connect(job, &FirmwareTransferJob::lineSentAgain, this,
        [this] { ui->txtInfo->setText(tr("%1 HEX Lines sent again.").arg(++m_linesSentAgain)); });
    QPointer<BaseModule> module = m_target;
    connect(job, &FirmwareTransferJob::programmingStarted, this, [this, module] {
        if (!m_partialImages.contains(module))
            m_partialImages.append(module);
    });
    connect(job, &FirmwareTransferJob::imageVerified, this, [this, module] { m_partialImages.removeAll(module); });
    connect(job, &ServiceJob::finished, this, &DialogSpecial::transferEnded);
    setState(State::RequestingSpecialMode);
    lockFileControls(true);
}

void DialogSpecial::transferEnded(ServiceJob* job)
{
    if (job != m_job)
        return;
    auto* transfer = static_cast<FirmwareTransferJob*>(job);
    m_job = nullptr;
    lockFileControls(false);
    switch (job->error()) {
    case ServiceJob::NoError:
        setState(State::Idle);
        if (!transfer->writing())
            dialogs()->information(this, title(), tr("HEX file compare complete!"), QMessageBox::Ok);
        return;
    case ServiceJob::GaveUp:
        setState(State::Aborted);
        dialogs()->warning(this, title(), job->errorText(), QMessageBox::Ok);
        return;
    case ServiceJob::Cancelled:
        setState(State::Idle);
        return;
    default:
        setState(State::Aborted);
        showProblem(job->errorText());
        return;
    }
}

void DialogSpecial::stopTransfer()
{
    emit transferStopRequested();
    if (m_job)
        m_job->kill();
    m_job = nullptr;
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
    // Each transfer is a job of its own: nothing of an earlier one (a line to resend, counters)
    // carries over.
    m_stopBitBefore = -1;
    ui->txtInfo->clear();
    emit transferRequested(file.lines(), file.size(), writing());
    // The service desk answers with followTransfer(), or shows why it could not start.
    if (!m_job)
        setState(State::Idle);
}

void DialogSpecial::on_btnSetSpecial_clicked()
{
    // The request is the control word the module has with the special-mode bit added: without a
    // current reading of it nothing is sent.
    if (!controlKnown(ModuleSnapshot::nowMs())) {
        showProblem(tr("The module control word has no current reading: nothing was sent."));
        return;
    }
    // Asked by hand: leaving special mode again withdraws the stop bit as well.
    m_stopBitBefore = -1;
    m_moduleControl |= ModuleControlBit::enterSpecialMode;
    emit setModuleControl(m_moduleControl);
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

void DialogSpecial::updateModuleControl(quint32 control)
{
    m_moduleControl = quint16(control);
    m_controlReadAtMs = ModuleSnapshot::nowMs();
    drawWords(m_controlReadAtMs);
}

void DialogSpecial::updateModuleStatus(quint32 status)
{
    m_moduleStatus = quint16(status);
    m_statusReadAtMs = ModuleSnapshot::nowMs();
    drawWords(m_statusReadAtMs);
}

void DialogSpecial::showModuleWordsUnknown()
{
    m_controlReadAtMs = m_statusReadAtMs = -1;
    drawWords(ModuleSnapshot::nowMs());
}

void DialogSpecial::showSpecialWordsUnknown()
{
    m_specialReadAtMs = -1;
    drawWords(ModuleSnapshot::nowMs());
}

void DialogSpecial::updateModuleSpecialControlStatus(quint32 control, quint32 status)
{
    m_specialCommand = control;
    m_specialStatus = status;
    m_specialReadAtMs = ModuleSnapshot::nowMs();
    drawWords(m_specialReadAtMs);
    if (transferRunning())
        return;
    // The module left special mode: withdraw the request, and give the stop bit back as it was
    // before the transfer (once; the control word read back tells). Only from a control word
    // that was read.
    if (control == commandEndSpecial && controlKnown(m_specialReadAtMs)) {
        const quint16 stopBit = m_stopBitBefore > 0 ? quint16(ModuleControlBit::stop) : 0;
        const quint16 wanted = quint16((m_moduleControl & ~ModuleControlBit::enterSpecialMode) | stopBit);
        if (wanted != m_moduleControl) {
            m_moduleControl = wanted;
            emit setModuleControl(m_moduleControl);
        }
    }
}

// ---- Snapshots and the age of the words ----

std::shared_ptr<const ModuleSnapshot> DialogSpecial::targetSnapshot() const
{
    DeviceSession* deviceSession = session();
    if (!deviceSession || !m_target || !deviceSession->poller())
        return nullptr;
    const int index = int(deviceSession->modules().indexOf(m_target.data()));
    return index >= 0 ? deviceSession->poller()->moduleSnapshot(index) : nullptr;
}

void DialogSpecial::showEvent(QShowEvent* event)
{
    ToolWindow::showEvent(event);
    if (const std::shared_ptr<const ModuleSnapshot> snapshot = targetSnapshot())
        takeSnapshot(*snapshot);
    drawWords(ModuleSnapshot::nowMs());
}

void DialogSpecial::showAnyModuleSnapshot(BaseModule* module, const ModuleSnapshot& snapshot, qint64)
{
    if (module == m_target)
        takeSnapshot(snapshot);
}

void DialogSpecial::takeSnapshot(const ModuleSnapshot& snapshot)
{
    // A transfer reports the words it reads itself; only a new tool-window read counts.
    if (transferRunning() || snapshot.windowValuesReadAtMs <= m_snapshotTakenAtMs)
        return;
    m_snapshotTakenAtMs = snapshot.windowValuesReadAtMs;
    const ToolWindowReading& words = snapshot.windowValues;
    if (words.moduleWordsValid) {
        m_moduleControl = quint16(words.control);
        m_controlReadAtMs = snapshot.windowValuesReadAtMs;
    } else {
        m_controlReadAtMs = -1; // that read was not answered
    }
    if (snapshot.values.statusValid && snapshot.statusReadAtMs > m_statusReadAtMs) {
        m_moduleStatus = quint16(snapshot.values.status);
        m_statusReadAtMs = snapshot.statusReadAtMs;
    }
    drawWords(ModuleSnapshot::nowMs());
}

bool DialogSpecial::controlKnown(qint64 nowMs) const
{
    return FreshnessRules::of(m_controlReadAtMs, nowMs) != Freshness::Stale;
}

void DialogSpecial::showFreshness(qint64 nowMs)
{
    drawWords(nowMs);
}

void DialogSpecial::drawWords(qint64 nowMs)
{
    const std::shared_ptr<const ModuleSnapshot> snapshot = targetSnapshot();
    const bool answering = !snapshot || snapshot->lastAnswerAtMs < 0 || snapshot->connected(nowMs);
    const Freshness control = FreshnessRules::of(m_controlReadAtMs, nowMs);
    const Freshness status = FreshnessRules::of(m_statusReadAtMs, nowMs);
    const Freshness special = FreshnessRules::of(m_specialReadAtMs, nowMs);
    if (!answering) {
        ui->lblModuleControlStatus->setText(tr("Not connected"));
        ui->lblSpecialControlStatus->setText(tr("Not connected"));
    } else {
        ui->lblModuleControlStatus->setText(
            QStringLiteral("ModuleControl = %1, ModuleStatus = %2")
                .arg(wordText(m_moduleControl, 4, control), wordText(m_moduleStatus, 4, status)));
        ui->lblSpecialControlStatus->setText(
            QStringLiteral("SpecialControl = %1, SpecialStatus = %2")
                .arg(wordText(m_specialCommand, 8, special), wordText(m_specialStatus, 8, special)));
    }
    showAgeing(ui->lblModuleControlStatus, answering && FreshnessRules::older(control, status) == Freshness::Ageing);
    showAgeing(ui->lblSpecialControlStatus, answering && special == Freshness::Ageing);
    // Live insertion is offered while the module reports its special mode.
    ui->btnLiveInsertion->setEnabled(
        answering && status != Freshness::Stale && (m_moduleStatus & ModuleStatusBit::specialMode));
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
