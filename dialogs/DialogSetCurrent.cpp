#include "DialogSetCurrent.h"
#include "ui_DialogSetCurrent.h"

#include "PendingValues.h"

#include <QEvent>

DialogSetCurrent::DialogSetCurrent(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogSetCurrent)
{
    ui->setupUi(this);
    ui->grpDelayedTrip->setEnabled(false);
    ui->sbDelay->setEnabled(false);
    unit = ui->lblUnit->text();
    pending = std::make_unique<PendingValues>(
        ui->mainLayout, ui->buttonBox, QList<QWidget*>{ui->sbValue, ui->chkDelayedTrip, ui->sbDelay, ui->grpDelayedTrip});
    updatePrompt();
}

void DialogSetCurrent::setValuesPending(const QString& text, bool failed)
{
    pending->setPending(text, failed);
    updatePrompt();
}

void DialogSetCurrent::setValuesAnswered()
{
    pending->setAnswered();
    // The trip controls follow the module's offer and the check box again.
    setAvailable(available);
    updatePrompt();
}

bool DialogSetCurrent::valuesAnswered() const
{
    return pending->answered();
}

DialogSetCurrent::~DialogSetCurrent()
{
    delete ui;
}

void DialogSetCurrent::setAvailable(bool value)
{
    available = value;
    ui->chkDelayedTrip->setEnabled(available);
    const bool on = available && ui->chkDelayedTrip->isChecked();
    ui->sbDelay->setEnabled(on);
    ui->grpDelayedTrip->setEnabled(on);
    ui->chkDelayedTrip->setToolTip(available ? QString() : tr("Delayed Trip is not available for this channel!"));
}

void DialogSetCurrent::setChannel(int value)
{
    channel = value;
    updatePrompt();
}

void DialogSetCurrent::setMaximum(double maximum)
{
    ui->sbValue->setMaximum(maximum);
    updatePrompt();
}

void DialogSetCurrent::setSmallestNominal(double smallest)
{
    smallestNominal = smallest;
    updatePrompt();
}

void DialogSetCurrent::setValue(double value)
{
    ui->sbValue->setValue(value);
}

void DialogSetCurrent::setUnit(const QString& value)
{
    unit = value;
    ui->lblUnit->setText(unit);
    updatePrompt();
}

void DialogSetCurrent::setDecimals(int decimals)
{
    // Decimals round the range too: the maximum is set again with them.
    const double maximum = ui->sbValue->maximum();
    ui->sbValue->setDecimals(decimals);
    ui->sbValue->setMaximum(maximum);
}

void DialogSetCurrent::setDelayedTrip(bool enabled)
{
    ui->chkDelayedTrip->setChecked(enabled);
    on_chkDelayedTrip_stateChanged(enabled ? Qt::Checked : Qt::Unchecked);
}

void DialogSetCurrent::setRampDown(bool rampDown)
{
    (rampDown ? ui->chkRampDown : ui->chkShutDown)->setChecked(true);
}

void DialogSetCurrent::setDelay(int delayMs)
{
    ui->sbDelay->setValue(delayMs);
}

double DialogSetCurrent::value() const
{
    return ui->sbValue->value();
}

int DialogSetCurrent::delay() const
{
    return ui->sbDelay->value();
}

int DialogSetCurrent::action() const
{
    if (!ui->chkDelayedTrip->isChecked())
        return 0;
    return ui->chkRampDown->isChecked() ? 1 : 2;
}

void DialogSetCurrent::on_chkDelayedTrip_stateChanged(int arg1)
{
    const bool on = available && arg1 != 0;
    ui->grpDelayedTrip->setEnabled(on);
    ui->sbDelay->setEnabled(on);
}

void DialogSetCurrent::updatePrompt()
{
    // No range is offered before the channel's values were answered.
    if (pending && !pending->answered()) {
        ui->labelText->setText(channel >= 0 ? tr("Input a Set current for channel %1:").arg(channel)
                                            : tr("Input a Set current for all channels:"));
        ui->labelNote->clear();
        return;
    }
    const double maximum = ui->sbValue->maximum();
    if (channel >= 0) {
        ui->labelText->setText(tr("Input a Set current (0...%L1 %2) for channel %3:").arg(maximum).arg(unit).arg(channel));
        ui->labelNote->clear();
        return;
    }
    ui->labelText->setText(tr("Input a Set current (0...%L1 %2) for all channels:").arg(maximum).arg(unit));
    if (maximum > smallestNominal)
        ui->labelNote->setText(tr("Note: some channels will only allow %L1 %2.").arg(smallestNominal).arg(unit));
    else
        ui->labelNote->clear();
}

void DialogSetCurrent::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        ui->lblUnit->setText(unit);
        updatePrompt();
    }
    QDialog::changeEvent(event);
}
