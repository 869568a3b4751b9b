#include "DialogSetUserNominalValues.h"
#include "ui_DialogSetUserNominalValues.h"

#include "PendingValues.h"

#include <QEvent>

DialogSetUserNominalValues::DialogSetUserNominalValues(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogSetUserNominalValues)
{
    ui->setupUi(this);
    pending = std::make_unique<PendingValues>(
        ui->mainLayout, ui->buttonBox, QList<QWidget*>{ui->userVoltageNominal, ui->userCurrentNominal});
}

void DialogSetUserNominalValues::setValuesPending(const QString& text, bool failed)
{
    pending->setPending(text, failed);
}

void DialogSetUserNominalValues::setValuesAnswered()
{
    pending->setAnswered();
}

bool DialogSetUserNominalValues::valuesAnswered() const
{
    return pending->answered();
}

DialogSetUserNominalValues::~DialogSetUserNominalValues()
{
    delete ui;
}

void DialogSetUserNominalValues::setVoltageDecimals(int decimals)
{
    ui->userVoltageNominal->setDecimals(decimals);
}

void DialogSetUserNominalValues::setVoltageMaximum(double maximum)
{
    ui->userVoltageNominal->setMaximum(maximum);
}

void DialogSetUserNominalValues::setVoltageNominal(double value)
{
    ui->userVoltageNominal->setValue(value);
}

void DialogSetUserNominalValues::setVoltageUnit(const QString& unit)
{
    ui->voltageUnit->setText(unit);
}

double DialogSetUserNominalValues::voltageNominal() const
{
    return ui->userVoltageNominal->value();
}

void DialogSetUserNominalValues::setCurrentDecimals(int decimals)
{
    ui->userCurrentNominal->setDecimals(decimals);
}

void DialogSetUserNominalValues::setCurrentMaximum(double maximum)
{
    ui->userCurrentNominal->setMaximum(maximum);
}

void DialogSetUserNominalValues::setCurrentNominal(double value)
{
    ui->userCurrentNominal->setValue(value);
}

void DialogSetUserNominalValues::setCurrentUnit(const QString& unit)
{
    ui->currentUnit->setText(unit);
}

double DialogSetUserNominalValues::currentNominal() const
{
    return ui->userCurrentNominal->value();
}

void DialogSetUserNominalValues::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        const QString voltageUnit = ui->voltageUnit->text();
        const QString currentUnit = ui->currentUnit->text();
        ui->retranslateUi(this);
        ui->voltageUnit->setText(voltageUnit);
        ui->currentUnit->setText(currentUnit);
    }
    QDialog::changeEvent(event);
}
