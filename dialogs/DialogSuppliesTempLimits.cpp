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

void DialogSuppliesTempLimits::display(QLCDNumber* display, float value)
{
    display->display(double(value));
}

void DialogSuppliesTempLimits::showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs)
{
    BaseModule* shown = module();
    if (!shown || shown->connectionState() == BaseModule::ModuleStateNotConnected || !moduleValuesCurrent(snapshot, nowMs))
        return;
    const ModuleReading& values = snapshot.values;
    if (values.temperaturesValid) {
        const QList<QLCDNumber*> temperatures = temperatureDisplays();
        for (int index = 0; index < temperatures.size(); ++index)
            display(temperatures.at(index), values.temperature[index]);
    }
    if (values.suppliesValid) {
        display(ui->lcdP5, values.supplyP5);
        display(ui->lcdP12, values.supplyP12);
        if (supplyN12Available)
            display(ui->lcdN12, values.supplyN12);
        display(ui->lcdVmax, values.voltageLimit);
        display(ui->lcdImax, values.currentLimit);
    }
    showFreshness(nowMs);
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
