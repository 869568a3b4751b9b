#include "DialogAutomatic.h"

#include "ui_DialogAutomatic.h"

#include <QEvent>

namespace {
// The log of a run over days stays bounded; the oldest paragraphs go first.
constexpr int maxLogParagraphs = 10000;
} // namespace

DialogAutomatic::DialogAutomatic(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogAutomatic)
{
    ui->setupUi(this);
    ui->txtLog->document()->setMaximumBlockCount(maxLogParagraphs);
}

DialogAutomatic::~DialogAutomatic()
{
    delete ui;
}

double DialogAutomatic::upperLimitVolts() const
{
    return ui->sbUpper->value();
}

double DialogAutomatic::lowerLimitVolts() const
{
    return ui->sbLower->value();
}

double DialogAutomatic::incrementVolts() const
{
    return ui->sbIncrement->value();
}

int DialogAutomatic::scope() const
{
    if (ui->chkChannel->isChecked())
        return 0;
    if (ui->chkModule->isChecked())
        return 1;
    if (ui->chkSystem->isChecked())
        return 2;
    return 3;
}

bool DialogAutomatic::running() const
{
    return m_running;
}

void DialogAutomatic::setRunning(bool running)
{
    m_running = running;
    showRunning();
}

void DialogAutomatic::log(QString message)
{
    ui->txtLog->append(message);
}

void DialogAutomatic::on_btnStartStop_clicked()
{
    m_running = !m_running;
    showRunning();
    emit automaticTimerEnabled(m_running);
}

void DialogAutomatic::on_sbInterval_valueChanged(int seconds)
{
    emit automaticTimerIntervalChanged(seconds * 1000);
}

void DialogAutomatic::showRunning()
{
    ui->btnStartStop->setText(m_running ? tr("Stop") : tr("Start"));
}

void DialogAutomatic::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        if (m_running)
            showRunning();
    }
    ToolWindow::changeEvent(event);
}
