#include "app/DialogSettings.h"
#include "ui_DialogSettings.h"

#include "device/BaseModule.h"
#include "device/Resolution.h"

DialogSettings::DialogSettings(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogSettings)
{
    ui->setupUi(this);
    // The micro-ampere item shows the micro sign whatever the source file's encoding.
    ui->currentUnit->setItemText(2, BaseModule::microAmpereUnit());
    ui->controllerSettings->setChecked(true);
    setFirmwareName(QString());
    setSerialNumber(0);
    updateFormatGroups();
}

DialogSettings::~DialogSettings()
{
    delete ui;
}

void DialogSettings::setUseControllerUnits(bool value)
{
    (value ? ui->controllerSettings : ui->userSettings)->setChecked(true);
    updateFormatGroups();
}

void DialogSettings::setVoltageUnit(const QString& unit)
{
    const int index = ui->voltageUnit->findText(unit);
    if (index >= 0)
        ui->voltageUnit->setCurrentIndex(index);
}

void DialogSettings::setVoltagePrecision(int precision)
{
    ui->voltagePrecision->setValue(precision);
}

void DialogSettings::setCurrentUnit(const QString& unit)
{
    // Stored and display forms of micro-ampere select the same item.
    const QString display = BaseModule::currentUnitIndexOf(unit) == 1 ? BaseModule::microAmpereUnit() : unit;
    const int index = ui->currentUnit->findText(display);
    if (index >= 0)
        ui->currentUnit->setCurrentIndex(index);
}

void DialogSettings::setCurrentPrecision(int precision)
{
    ui->currentPrecision->setValue(precision);
}

void DialogSettings::setFirmwareName(const QString& name)
{
    m_firmwareName = name;
    ui->modulesWithFirmwareName->setText(tr("All modules of type %1").arg(name));
    // Without a firmware name there is no group to save to.
    ui->modulesWithFirmwareName->setEnabled(!name.isEmpty());
}

void DialogSettings::setSerialNumber(int serialNumber)
{
    m_serialNumber = serialNumber;
    ui->moduleWithSerialNumber->setText(tr("Selected module (serial number %1)").arg(serialNumber));
}

bool DialogSettings::useControllerUnits() const
{
    return ui->controllerSettings->isChecked();
}

QString DialogSettings::voltageUnit() const
{
    return ui->voltageUnit->currentText();
}

int DialogSettings::voltagePrecision() const
{
    return ui->voltagePrecision->value();
}

QString DialogSettings::currentUnit() const
{
    return ui->currentUnit->currentText();
}

int DialogSettings::currentPrecision() const
{
    return ui->currentPrecision->value();
}

int DialogSettings::scope() const
{
    if (ui->moduleWithSerialNumber->isChecked())
        return Resolution::SerialNumberScope;
    if (ui->modulesWithFirmwareName->isChecked())
        return Resolution::FirmwareNameScope;
    return Resolution::AllModules;
}

void DialogSettings::accept()
{
    Resolution resolution;
    resolution.setFirmwareName(m_firmwareName);
    resolution.setSerialNumber(m_serialNumber);
    // Learn the scope the module's settings come from now, so that saving at a broader scope
    // removes the narrower group that would otherwise keep overriding the new values.
    resolution.load();
    resolution.setUseControllerUnits(useControllerUnits());
    resolution.setVoltageUnit(voltageUnit());
    resolution.setVoltagePrecision(voltagePrecision());
    resolution.setCurrentUnit(currentUnit());
    resolution.setCurrentPrecision(currentPrecision());
    resolution.save(scope());
    QDialog::accept();
}

void DialogSettings::on_controllerSettings_clicked()
{
    updateFormatGroups();
}

void DialogSettings::on_userSettings_clicked()
{
    updateFormatGroups();
}

void DialogSettings::updateFormatGroups()
{
    const bool own = ui->userSettings->isChecked();
    ui->grpVoltageFormat->setEnabled(own);
    ui->grpCurrentFormat->setEnabled(own);
}

void DialogSettings::applyToModules(const DialogSettings& dialog, BaseModule* current, const QList<BaseModule*>& modules)
{
    if (!current)
        return;
    // The table of the current module is set up again with the new units.
    current->setConnectionState(BaseModule::ModuleStateUnknown);
    QList<BaseModule*> targets{current};
    if (dialog.scope() == Resolution::FirmwareNameScope) {
        const QString firmwareName = current->firmwareName();
        for (BaseModule* module : modules) {
            if (module && module != current && module->firmwareName() == firmwareName)
                targets << module;
        }
    }
    for (BaseModule* module : targets) {
        module->setUseControllerUnits(dialog.useControllerUnits());
        module->setVoltageUnit(dialog.voltageUnit());
        module->setVoltagePrecision(dialog.voltagePrecision());
        module->setCurrentUnit(dialog.currentUnit());
        module->setCurrentPrecision(dialog.currentPrecision());
    }
}

bool DialogSettings::editModuleResolution(QWidget* parent, BaseModule* current, const QList<BaseModule*>& modules)
{
    if (!current)
        return false;
    DialogSettings dialog(parent);
    dialog.setUseControllerUnits(current->useControllerUnits());
    dialog.setVoltageUnit(current->voltageUnit(0));
    dialog.setVoltagePrecision(current->voltagePrecision());
    dialog.setCurrentUnit(current->currentUnit(0));
    dialog.setCurrentPrecision(current->currentPrecision());
    dialog.setFirmwareName(current->firmwareName());
    dialog.setSerialNumber(current->serialNumber());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    applyToModules(dialog, current, modules);
    return true;
}
