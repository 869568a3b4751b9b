#include "DialogStatistic.h"

#include "ui_DialogStatistic.h"

#include "controller/ApplicationIdentity.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace {
const QString extension = QStringLiteral(".txt");
}

DialogStatistic::DialogStatistic(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogStatistic)
{
    ui->setupUi(this);
    // Every module's channels and temperature while shown, as the overview reads them.
    setNeeds(Poller::AllModulesChannels);
    ui->spbChannelNumber->setEnabled(false);
    ui->btnStop->setEnabled(false);
    ui->txtLinesWritten->setText(QStringLiteral("0"));
}

DialogStatistic::~DialogStatistic()
{
    closeFile();
    delete ui;
}

void DialogStatistic::setChannelCount(int count)
{
    m_channelCount = qMax(0, count);
    ui->spbChannelNumber->setMaximum(qMax(0, m_channelCount - 1));
}

void DialogStatistic::setUserDialogs(UserDialogs* dialogs)
{
    m_dialogs = dialogs ? dialogs : &m_ownDialogs;
}

bool DialogStatistic::recording() const
{
    return m_file != nullptr;
}

quint64 DialogStatistic::linesWritten() const
{
    return m_linesWritten;
}

DialogStatistic::ModuleSlot* DialogStatistic::slotOf(int serialNumber)
{
    for (ModuleSlot& slot : m_slots) {
        if (slot.serialNumber == serialNumber)
            return &slot;
    }
    if (m_slots.size() >= maxModules)
        return nullptr;
    m_slots.append(ModuleSlot());
    m_slots.last().serialNumber = serialNumber;
    return &m_slots.last();
}

QString DialogStatistic::fieldText(const QString& text)
{
    // "1234.5", not "1,234.5", which CSV readers would take for a field or a decimal separator.
    QString number = text;
    const QString group = QLocale().groupSeparator();
    if (!group.isEmpty())
        number.remove(group);
    return number;
}

void DialogStatistic::showAnyModuleSnapshot(BaseModule* module, const ModuleSnapshot& snapshot, qint64 nowMs)
{
    ModuleSlot* slot = module ? slotOf(snapshot.serialNumber) : nullptr;
    if (!slot)
        return;
    if (snapshot.connected(nowMs) && FreshnessRules::of(snapshot.temperaturesReadAtMs, nowMs) != Freshness::Stale)
        slot->temperature = snapshot.values.temperature[0];
    if (!m_file || !snapshot.channelsFresh(nowMs) || snapshot.channelsReadAtMs == slot->lastWrittenReadAtMs
        || snapshot.voltageUnit != module->voltageUnit(0) || snapshot.currentUnit != module->currentUnit(0))
        return;

    const auto fields = [&](int channel) {
        if (channel >= snapshot.channels.size() || !snapshot.channels.at(channel).complete)
            return QStringLiteral(";;");
        const ChannelReading& reading = snapshot.channels.at(channel);
        return fieldText(module->formatVoltage(reading.voltageMeasure)) + QLatin1Char(';')
            + fieldText(module->formatCurrent(reading.currentMeasure)) + QLatin1Char(';');
    };
    const QDateTime readAt = QDateTime::currentDateTime().addMSecs(snapshot.channelsReadAtMs - nowMs);
    QString line = readAt.toString(QStringLiteral("yyyy-MM-dd;HH:mm:ss.zzz")) + QLatin1Char(';')
        + QString::number(snapshot.serialNumber) + QLatin1Char(';');
    if (ui->chkSingleChannel->isChecked()) {
        const int channel = ui->spbChannelNumber->value();
        if (channel >= snapshot.channels.size() || !snapshot.channels.at(channel).complete)
            return; // this channel was not read
        line += QString::number(channel) + QLatin1Char(';') + fields(channel);
    } else {
        for (int channel = 0; channel < module->channelNumber(); ++channel)
            line += fields(channel);
    }
    line += QString::number(double(slot->temperature), 'f', 1);
    slot->lastWrittenReadAtMs = snapshot.channelsReadAtMs;
    writeLine(line);
    ++m_linesWritten;
    ui->txtLinesWritten->setText(QString::number(m_linesWritten));
}

void DialogStatistic::showFreshness(qint64 nowMs)
{
    if (!m_once)
        return;
    // One pass over the latest read of every module, as if each had just been published.
    startRecording();
    DeviceSession* shown = session();
    if (m_file && shown && shown->poller()) {
        const QList<BaseModule*> modules = shown->modules();
        for (int index = 0; index < modules.size(); ++index) {
            if (const std::shared_ptr<const ModuleSnapshot> snapshot = shown->poller()->moduleSnapshot(index))
                showAnyModuleSnapshot(modules.at(index), *snapshot, nowMs);
        }
    }
    if (m_once)
        stopRecording();
}

void DialogStatistic::writeLine(const QString& line)
{
    // One write per line on an unbuffered file: a line is on disk whole or not at all.
    m_file->write((line + QLatin1Char('\n')).toUtf8());
}

void DialogStatistic::startRecording()
{
    closeFile(); // Once pressed while recording: the file is opened afresh
    const QString fileName = ui->txtFilename->text();
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        m_once = false; // not asked again at every tick
        m_dialogs->warning(this, QString::fromLatin1(ApplicationIdentity::applicationName),
            tr("Can not open file '%1' for writing!").arg(fileName));
        return;
    }
    m_file = std::move(file);
    setRecordingControls(true);

    QString header = QStringLiteral("Date;Time;Serial no.");
    if (ui->chkSingleChannel->isChecked()) {
        header += QStringLiteral(";Channel no.;Vmeasure;Imeasure");
    } else {
        for (int channel = 0; channel < m_channelCount; ++channel)
            header += QStringLiteral(";Vmeasure%1;Imeasure%1").arg(channel);
    }
    writeLine(header + QStringLiteral(";Temperature"));
}

void DialogStatistic::stopRecording()
{
    m_once = false;
    closeFile();
    setRecordingControls(false);
}

void DialogStatistic::closeFile()
{
    if (m_file)
        m_file->close();
    m_file.reset();
}

void DialogStatistic::setRecordingControls(bool recording)
{
    ui->btnStop->setEnabled(recording);
    ui->btnStart->setEnabled(!recording && !ui->txtFilename->text().isEmpty());
    ui->btnSelectFile->setEnabled(!recording);
    ui->txtFilename->setEnabled(!recording);
    ui->grpChannelSelection->setEnabled(!recording);
}

void DialogStatistic::on_btnSelectFile_clicked()
{
    QString name = m_dialogs->getSaveFileName(
        this, tr("Save measurement data"), QString(), tr("Measurement files (*%1)").arg(extension));
    if (name.isEmpty())
        return;
    if (!name.endsWith(extension, Qt::CaseInsensitive))
        name += extension;
    ui->txtFilename->setText(name);
}

void DialogStatistic::on_btnStart_clicked()
{
    startRecording();
}

void DialogStatistic::on_btnStop_clicked()
{
    stopRecording();
}

void DialogStatistic::on_pushButtonOnce_clicked()
{
    m_once = true;
}

void DialogStatistic::on_chkAllChannels_clicked()
{
    ui->spbChannelNumber->setEnabled(false);
}

void DialogStatistic::on_chkSingleChannel_clicked()
{
    ui->spbChannelNumber->setEnabled(true);
}

void DialogStatistic::on_txtFilename_textChanged(const QString& text)
{
    ui->btnStart->setEnabled(!text.isEmpty());
    ui->pushButtonOnce->setEnabled(!text.isEmpty());
}

void DialogStatistic::closeEvent(QCloseEvent* event)
{
    // The file is closed; buttons and the once flag stay as they are.
    closeFile();
    ToolWindow::closeEvent(event);
}

void DialogStatistic::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    ToolWindow::changeEvent(event);
}
