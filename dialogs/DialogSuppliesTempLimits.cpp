#include "DialogSuppliesTempLimits.h"
#include "ui_DialogSuppliesTempLimits.h"

#include "device/BaseModule.h"

#include <QEvent>
#include <QLCDNumber>
#include <QTimer>

namespace {
const QString unknownText = QStringLiteral("---");
} // namespace

DialogSuppliesTempLimits::DialogSuppliesTempLimits(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogSuppliesTempLimits)
    , lostTimer(new QTimer(this))
{
    ui->setupUi(this);
    setNeeds(Poller::ModuleSupplies | Poller::ModuleTemperatures);
    lostTimer->setInterval(1000);
    connect(lostTimer, &QTimer::timeout, this, &DialogSuppliesTempLimits::checkValuesLost);
    moduleChanged(module());
}

DialogSuppliesTempLimits::~DialogSuppliesTempLimits()
{
    delete ui;
}

bool DialogSuppliesTempLimits::isShownModule(int serialNumber) const
{
    BaseModule* shown = module();
    return shown && shown->serialNumber() == serialNumber;
}

void DialogSuppliesTempLimits::showValue(QLCDNumber* display, float value)
{
    display->display(double(value));
    sinceLastValue.start();
}

void DialogSuppliesTempLimits::updateModuleSupplyP5(int serialNumber, float p5)
{
    if (isShownModule(serialNumber))
        showValue(ui->lcdP5, p5);
}

void DialogSuppliesTempLimits::updateModuleSupplyP12(int serialNumber, float p12)
{
    if (isShownModule(serialNumber))
        showValue(ui->lcdP12, p12);
}

void DialogSuppliesTempLimits::updateModuleSupplyN12(int serialNumber, float n12)
{
    if (isShownModule(serialNumber) && supplyN12Available)
        showValue(ui->lcdN12, n12);
}

void DialogSuppliesTempLimits::updateModuleTemperature(int serialNumber, int index, float temperature)
{
    if (!isShownModule(serialNumber))
        return;
    switch (index) {
    case 1:
        showValue(ui->lcdTemp1, temperature);
        break;
    case 2:
        showValue(ui->lcdTemp2, temperature);
        break;
    case 3:
        showValue(ui->lcdTemp3, temperature);
        break;
    default:
        showValue(ui->lcdTemp0, temperature);
        break;
    }
}

void DialogSuppliesTempLimits::updateModuleVoltageHardwareLimit(int serialNumber, float vlimit)
{
    if (isShownModule(serialNumber))
        showValue(ui->lcdVmax, vlimit);
}

void DialogSuppliesTempLimits::updateModuleCurrentHardwareLimit(int serialNumber, float ilimit)
{
    if (isShownModule(serialNumber))
        showValue(ui->lcdImax, ilimit);
}

void DialogSuppliesTempLimits::showUnknown()
{
    for (QLCDNumber* display : {ui->lcdP5, ui->lcdP12, ui->lcdN12, ui->lcdVmax, ui->lcdImax, ui->lcdTemp0, ui->lcdTemp1,
             ui->lcdTemp2, ui->lcdTemp3})
        display->display(unknownText);
    sinceLastValue.invalidate();
}

void DialogSuppliesTempLimits::checkValuesLost()
{
    if (!sinceLastValue.isValid() || sinceLastValue.elapsed() > valuesLostAfterMs)
        showUnknown();
}

void DialogSuppliesTempLimits::showEvent(QShowEvent* event)
{
    ToolWindow::showEvent(event);
    // What was shown before the window was hidden is no reading now.
    showUnknown();
    lostTimer->start();
}

void DialogSuppliesTempLimits::hideEvent(QHideEvent* event)
{
    ToolWindow::hideEvent(event);
    lostTimer->stop();
}

void DialogSuppliesTempLimits::moduleChanged(BaseModule* module)
{
    // An MPOD module has no -12 V supply reading (its SNMP module answers a constant 0).
    supplyN12Available = module && module->reports(BaseModule::Quantity::SupplyN12);
    showUnknown();
}

void DialogSuppliesTempLimits::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    ToolWindow::changeEvent(event);
}
