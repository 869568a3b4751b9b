#include "DialogFactory.h"

#include "device/ModuleSnapshot.h"
#include "device/StatusWordBits.h"
#include "ui_DialogFactory.h"

namespace {
constexpr quint32 lastEventMaskBit = 0x8000;

QString maskText(quint32 mask)
{
    return QStringLiteral("%1").arg(mask, 4, 16, QLatin1Char('0'));
}
} // namespace

DialogFactory::DialogFactory(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogFactory)
{
    ui->setupUi(this);
    // Control word and masks come with the tool-window reads, the status with them.
    setNeeds(Poller::ModuleControlWords);
}

DialogFactory::~DialogFactory()
{
    delete ui;
}

DialogFactory::State DialogFactory::state() const
{
    return m_state;
}

QString DialogFactory::log() const
{
    return ui->txtLog->toPlainText();
}

BaseModule* DialogFactory::target() const
{
    return m_target.data();
}

int DialogFactory::serialNumber() const
{
    return m_serialNumber;
}

bool DialogFactory::idleOrHidden() const
{
    return (m_state == State::Idle && !m_storing) || !isVisible();
}

void DialogFactory::setTarget(BaseModule* module, int serialNumber, const QString& name)
{
    if (!idleOrHidden())
        return;
    if (module != m_target)
        m_snapshotTakenAtMs = m_controlReadAtMs = -1;
    m_target = module;
    m_serialNumber = serialNumber;
    setWindowTitle(name.isEmpty() ? tr("Factory Settings") : tr("Factory Settings - %1").arg(name));
}

void DialogFactory::setResetRunning(bool running)
{
    // One procedure at a time: a second click would interleave its writes with the reset's.
    ui->btnVmeTest->setEnabled(!running);
    ui->btnFactoryReset->setEnabled(!running);
    ui->btnCancelReset->setEnabled(running && m_storing);
    ui->progressReset->setVisible(running);
    if (running)
        ui->progressReset->setValue(0);
}

void DialogFactory::setChannelNumber(int channels)
{
    if (idleOrHidden())
        m_channels = channels;
}

void DialogFactory::showEvent(QShowEvent* event)
{
    ToolWindow::showEvent(event);
    m_state = State::Idle;
    m_moduleControl = 0;
    m_moduleStatus = 0;
    m_controlReadAtMs = -1;
    ui->txtLog->clear();
    if (!m_storing)
        setResetRunning(false);
}

void DialogFactory::appendLog(const QString& line)
{
    ui->txtLog->appendPlainText(line);
}

void DialogFactory::showProblem(QString text)
{
    appendLog(text);
}

void DialogFactory::on_btnVmeTest_clicked()
{
    m_state = State::EventMaskTest;
    appendLog(tr("Starting Test..."));
    m_testMask = 1;
    emit setModuleEventMask(m_testMask);
}

bool DialogFactory::controlKnown() const
{
    return FreshnessRules::of(m_controlReadAtMs, ModuleSnapshot::nowMs()) != Freshness::Stale;
}

void DialogFactory::on_btnFactoryReset_clicked()
{
    // The stop request is the control word the module has with the stop bit added.
    if (!controlKnown()) {
        appendLog(tr("The module control word has no current reading: nothing was sent."));
        return;
    }
    m_state = State::WaitingForStop;
    setResetRunning(true);
    appendLog(tr("Setting Module to Mode STOP..."));
    m_moduleControl |= ModuleControlBit::stop;
    emit setModuleControl(m_moduleControl);
}

void DialogFactory::showAnyModuleSnapshot(BaseModule* module, const ModuleSnapshot& snapshot, qint64 nowMs)
{
    // Only a new tool-window read of the target counts, and only one that was answered whole.
    if (module != m_target || snapshot.windowValuesReadAtMs <= m_snapshotTakenAtMs)
        return;
    m_snapshotTakenAtMs = snapshot.windowValuesReadAtMs;
    const ToolWindowReading& words = snapshot.windowValues;
    if (!words.moduleWordsValid || !snapshot.values.statusValid
        || FreshnessRules::of(snapshot.statusReadAtMs, nowMs) == Freshness::Stale)
        return;
    updateModuleControl(words.control);
    updateModuleStatus(snapshot.values.status);
    updateModuleEventChannelMask(words.eventChannelMask);
    updateModuleEventMask(words.eventMask);
}

void DialogFactory::updateModuleControl(quint32 control)
{
    m_moduleControl = quint16(control);
    m_controlReadAtMs = ModuleSnapshot::nowMs();
}

void DialogFactory::updateModuleStatus(quint32 status)
{
    m_moduleStatus = quint16(status);
}

void DialogFactory::updateModuleEventMask(quint32 mask)
{
    const bool stopped = (m_moduleControl & ModuleControlBit::stop) && (m_moduleStatus & ModuleStatusBit::stopped);
    switch (m_state) {
    case State::EventMaskTest:
        if (mask != m_testMask)
            return;
        appendLog(tr("Module EventMask 0x%1 passed").arg(maskText(m_testMask)));
        m_testMask <<= 1;
        if (m_testMask > lastEventMaskBit) {
            m_testMask = 1;
            m_state = State::EventChannelMaskTest;
            emit setModuleEventChannelMask(m_testMask);
        } else {
            emit setModuleEventMask(m_testMask);
        }
        return;
    case State::WaitingForStop:
        // Reports keep arriving while the procedure waits for the module: it runs once.
        if (!stopped || m_storing)
            return;
        appendLog(tr("\nModule is now in Mode STOP."));
        appendLog(tr("Resetting Module to Factory settings ..."));
        // The reset runs on; its channels are logged until it ended (factoryResetDone).
        m_storing = true;
        ui->btnCancelReset->setEnabled(true);
        emit storeFactorySettings();
        return;
    case State::Settling:
        if (stopped)
            m_state = State::SettlingEnd;
        return;
    case State::SettlingEnd:
        m_state = State::Idle;
        return;
    default:
        return;
    }
}

void DialogFactory::updateModuleEventChannelMask(quint32 mask)
{
    if (m_state != State::EventChannelMaskTest || mask != m_testMask)
        return;
    appendLog(tr("Module EventChannelMask 0x%1 passed").arg(maskText(m_testMask)));
    m_testMask <<= 1;
    if ((quint64(1) << qBound(0, m_channels, 32)) <= m_testMask || m_testMask == 0) {
        appendLog(tr("Test finished!"));
        m_state = State::Idle;
        return;
    }
    emit setModuleEventChannelMask(m_testMask);
}

void DialogFactory::showChannelReset(
    int channel, float voltage, const QString& voltageUnit, float current, const QString& currentUnit)
{
    if (!m_storing)
        return;
    const QString line = tr("Channel %1: %2 Hardware Nominal %3 %4");
    appendLog(line.arg(channel).arg(tr("Voltage"), QString::number(double(voltage)), voltageUnit));
    appendLog(line.arg(channel).arg(tr("Current"), QString::number(double(current)), currentUnit));
}

void DialogFactory::resetEnded(const QString& line)
{
    const bool wasStoring = m_storing;
    m_storing = false;
    appendLog(line);
    setResetRunning(false);
    if (wasStoring && m_state == State::WaitingForStop)
        m_state = State::Settling;
}

void DialogFactory::factoryResetDone(bool success)
{
    resetEnded(success ? tr("\nReset to Factory Settings done!") : tr("\nReset to Factory Settings failed!"));
}

void DialogFactory::factoryResetCancelled()
{
    resetEnded(tr("\nReset to Factory Settings cancelled: the module keeps what was written so far."));
}

void DialogFactory::factoryResetProgress(int done, int total)
{
    ui->progressReset->setMaximum(qMax(1, total));
    ui->progressReset->setValue(qBound(0, done, total));
}

void DialogFactory::on_btnCancelReset_clicked()
{
    if (m_storing)
        emit cancelFactoryReset();
}
