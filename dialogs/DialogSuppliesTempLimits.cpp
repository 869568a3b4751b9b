#include "DialogSuppliesTempLimits.h"
#include "ui_DialogSuppliesTempLimits.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"

#include <QEvent>
#include <QLCDNumber>

namespace {
const QString unknownText = QStringLiteral("---");
} // namespace

DialogSuppliesTempLimits::DialogSuppliesTempLimits(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogSuppliesTempLimits)
{
    ui->setupUi(this);
    setNeeds(Poller::ModuleSupplies | Poller::ModuleTemperatures);
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

void DialogSuppliesTempLimits::display(QLCDNumber* display, float value)
{
    display->display(double(value));
}

void DialogSuppliesTempLimits::updateModuleSupplyP5(int serialNumber, float p5)
{
    if (isShownModule(serialNumber))
        display(ui->lcdP5, p5);
}

void DialogSuppliesTempLimits::updateModuleSupplyP12(int serialNumber, float p12)
{
    if (isShownModule(serialNumber))
        display(ui->lcdP12, p12);
}

void DialogSuppliesTempLimits::updateModuleSupplyN12(int serialNumber, float n12)
{
    if (isShownModule(serialNumber) && supplyN12Available)
        display(ui->lcdN12, n12);
}

void DialogSuppliesTempLimits::updateModuleTemperature(int serialNumber, int index, float temperature)
{
    if (!isShownModule(serialNumber))
        return;
    switch (index) {
    case 1:
        display(ui->lcdTemp1, temperature);
        break;
    case 2:
        display(ui->lcdTemp2, temperature);
        break;
    case 3:
        display(ui->lcdTemp3, temperature);
        break;
    default:
        display(ui->lcdTemp0, temperature);
        break;
    }
}

void DialogSuppliesTempLimits::updateModuleVoltageHardwareLimit(int serialNumber, float vlimit)
{
    if (isShownModule(serialNumber))
        display(ui->lcdVmax, vlimit);
}

void DialogSuppliesTempLimits::updateModuleCurrentHardwareLimit(int serialNumber, float ilimit)
{
    if (isShownModule(serialNumber))
        display(ui->lcdImax, ilimit);
}

QList<QLCDNumber*> DialogSuppliesTempLimits::supplyDisplays() const
{
    return {ui->lcdP5, ui->lcdP12, ui->lcdN12, ui->lcdVmax, ui->lcdImax};
}

QList<QLCDNumber*> DialogSuppliesTempLimits::temperatureDisplays() const
{
    return {ui->lcdTemp0, ui->lcdTemp1, ui->lcdTemp2, ui->lcdTemp3};
}

void DialogSuppliesTempLimits::showFreshness(const QList<QLCDNumber*>& displays, Freshness freshness)
{
    for (QLCDNumber* display : displays) {
        if (freshness == Freshness::Stale)
            display->display(unknownText);
        showAgeing(display, freshness == Freshness::Ageing);
    }
}

void DialogSuppliesTempLimits::showFreshness(qint64 nowMs)
{
    const std::shared_ptr<const ModuleSnapshot> snapshot = moduleSnapshot();
    const auto freshness = [&](bool valid, qint64 readAtMs) {
        return snapshot && valid ? FreshnessRules::of(readAtMs, nowMs) : Freshness::Stale;
    };
    showFreshness(
        supplyDisplays(), freshness(snapshot && snapshot->values.suppliesValid, snapshot ? snapshot->suppliesReadAtMs : -1));
    showFreshness(temperatureDisplays(),
        freshness(snapshot && snapshot->values.temperaturesValid, snapshot ? snapshot->temperaturesReadAtMs : -1));
    if (!supplyN12Available)
        ui->lcdN12->display(unknownText);
}

void DialogSuppliesTempLimits::moduleChanged(BaseModule* module)
{
    // An MPOD module has no -12 V supply reading (its SNMP module answers a constant 0).
    supplyN12Available = module && module->reports(BaseModule::Quantity::SupplyN12);
    setWindowTitle(module ? tr("Supplies, Temperature and Limits") : tr("Supplies, Temperature and Limits (not available)"));
    showFreshness(supplyDisplays() + temperatureDisplays(), Freshness::Stale);
}

void DialogSuppliesTempLimits::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    ToolWindow::changeEvent(event);
}
