#include "DialogInhibit.h"
#include "ui_DialogInhibit.h"

#include "PendingValues.h"

#include <QRadioButton>

#include <QEvent>

DialogInhibit::DialogInhibit(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogInhibit)
{
    ui->setupUi(this);
    pending = std::make_unique<PendingValues>(ui->mainLayout, ui->buttonBox, QList<QWidget*>{ui->grpActions});
    updateDescription();
}

void DialogInhibit::setValuesPending(const QString& text, bool failed)
{
    // No action is preselected while the channel's own is unknown.
    for (QRadioButton* button : {ui->ignoreFailure, ui->rampDownChannel, ui->shutDownChannel, ui->shutDownModule}) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
    pending->setPending(text, failed);
}

void DialogInhibit::setValuesAnswered()
{
    pending->setAnswered();
}

bool DialogInhibit::valuesAnswered() const
{
    return pending->answered();
}

DialogInhibit::~DialogInhibit()
{
    delete ui;
}

void DialogInhibit::setChannel(int value)
{
    channel = value;
    updateDescription();
}

void DialogInhibit::setAction(int action)
{
    switch (action) {
    case 1:
        ui->rampDownChannel->setChecked(true);
        break;
    case 2:
        ui->shutDownChannel->setChecked(true);
        break;
    case 3:
        ui->shutDownModule->setChecked(true);
        break;
    default:
        ui->ignoreFailure->setChecked(true);
        break;
    }
}

int DialogInhibit::action() const
{
    if (ui->rampDownChannel->isChecked())
        return 1;
    if (ui->shutDownChannel->isChecked())
        return 2;
    if (ui->shutDownModule->isChecked())
        return 3;
    return 0;
}

void DialogInhibit::updateDescription()
{
    if (channel >= 0)
        ui->description->setText(
            tr("When an External Inhibit on channel %1 occurs, perform the following action.").arg(channel));
    else
        ui->description->setText(tr("When an External Inhibit on any channel occurs, perform the following action."));
}

void DialogInhibit::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        updateDescription();
    }
    QDialog::changeEvent(event);
}
