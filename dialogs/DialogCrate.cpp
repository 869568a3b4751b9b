#include "DialogCrate.h"
#include "ui_DialogCrate.h"

#include "controller/ApplicationIdentity.h"
#include "device/CrateSnapshot.h"
#include "device/DeviceSession.h"
#include "dialogs/common/UserDialogs.h"

#include <QEvent>
#include <QLineEdit>
#include <QListWidget>

namespace {
const QString unknownText = QStringLiteral("---");
// A supply reading above these while the crate reports its power off is a fault to see at once.
constexpr float supply5VUpAboveV = 0.5f;
constexpr float supply24VUpAboveV = 2.0f;
} // namespace

DialogCrate::DialogCrate(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogCrate)
{
    ui->setupUi(this);
    ui->btnClear->hide();
    setNeeds(Poller::CrateValues);
    // Values of the previously selected crate are not this one's.
    connect(ui->crateList, &QListWidget::currentItemChanged, this, &DialogCrate::showUnknown);
    showUnknown();
}

DialogCrate::~DialogCrate()
{
    delete ui;
}

void DialogCrate::clearCrates()
{
    ui->crateList->clear();
}

void DialogCrate::setFanSpeedEnabled(bool enabled)
{
    fanSpeedOffered = enabled;
    ui->setFanSpeed->setEnabled(fanSpeedOffered && fanSpeedKnown);
}

void DialogCrate::setUserDialogs(UserDialogs* dialogs)
{
    userDialogs = dialogs;
}

UserDialogs* DialogCrate::dialogs()
{
    static UserDialogs realDialogs;
    return userDialogs ? userDialogs : &realDialogs;
}

bool DialogCrate::acceptCrate(int serialNumber)
{
    // A crate whose description lacks the serial number reads 0: it is listed all the same, it
    // is the only way to reach its power switch.
    QListWidget* list = ui->crateList;
    int row = 0;
    for (; row < list->count(); ++row) {
        const int listed = list->item(row)->text().toInt();
        if (listed == serialNumber)
            break;
        if (listed > serialNumber) {
            list->insertItem(row, QString::number(serialNumber));
            break;
        }
    }
    if (row == list->count())
        list->addItem(QString::number(serialNumber));
    if (list->count() == 1)
        list->setCurrentRow(0);
    return row == list->currentRow();
}

bool DialogCrate::selectedCrate(int* serialNumber) const
{
    const QListWidgetItem* item = ui->crateList->currentItem();
    if (!item)
        return false;
    *serialNumber = item->text().toInt();
    return true;
}

bool DialogCrate::reported(BaseCrate::Quantity quantity) const
{
    DeviceSession* shownSession = session();
    const QList<BaseCrate*> crates = shownSession ? shownSession->crates() : QList<BaseCrate*>();
    return crates.isEmpty() || crates.first()->reports(quantity);
}

void DialogCrate::showNumber(QLineEdit* field, BaseCrate::Quantity quantity, double value)
{
    field->setText(reported(quantity) ? QString::number(value, 'g', 6) : unknownText);
}

void DialogCrate::showSupply(QLineEdit* field, BaseCrate::Quantity quantity, float value, float upAboveV)
{
    showNumber(field, quantity, double(value));
    const bool alarm = reported(quantity) && !powerOn && value > upAboveV;
    // The window's own colours unless in alarm, so the field reads on a dark palette as well.
    QPalette colours = palette();
    if (alarm) {
        colours.setColor(QPalette::Base, QColor(Qt::red));
        colours.setColor(QPalette::Text, QColor(Qt::white));
    }
    field->setPalette(colours);
    field->setProperty("ageing", false); // the grey goes on again if it still applies (showFreshness)
}

void DialogCrate::showCrateSnapshot(const CrateSnapshot& snapshot, qint64 nowMs)
{
    const CrateReading& values = snapshot.crate;
    const Freshness freshness = FreshnessRules::of(snapshot.crateReadAtMs, nowMs);
    if (!values.valid || freshness == Freshness::Stale || !acceptCrate(values.serialNumber))
        return;
    ui->txtFirmware->setText(values.firmwareRelease);
    // The power state first: a supply that is up is an alarm only while the crate is off.
    powerKnown = true;
    powerOn = values.powerOn;
    updatePowerButton();
    showSupply(ui->txtSupply5, BaseCrate::Quantity::Supply5V, values.supply5V, supply5VUpAboveV);
    showSupply(ui->txtSupply24, BaseCrate::Quantity::Supply24V, values.supply24V, supply24VUpAboveV);
    showNumber(ui->txtBattery24, BaseCrate::Quantity::Battery24V, double(values.battery24V));
    showNumber(ui->txtTempBackPlane, BaseCrate::Quantity::TemperatureBackPlane, double(values.temperatureBackPlane));
    showNumber(ui->txtTempPowerSupply, BaseCrate::Quantity::TemperaturePowerSupply, double(values.temperaturePowerSupply));
    showNumber(ui->txtFan1, BaseCrate::Quantity::FanSpeed, values.fanSpeed);
    fanSpeedKnown = reported(BaseCrate::Quantity::FanSpeed);
    fanSpeed = values.fanSpeed;
    ui->setFanSpeed->setEnabled(fanSpeedOffered && fanSpeedKnown);
    showNumber(ui->txtStatus, BaseCrate::Quantity::Status, values.status);
    showAge(freshness);
}

void DialogCrate::updatePowerButton()
{
    // The label says what a click does, from the fresh state only.
    ui->btnPowerOn->setEnabled(powerKnown);
    ui->btnPowerOn->setText(!powerKnown ? unknownText : powerOn ? tr("O&ff") : tr("&On"));
}

void DialogCrate::on_btnPowerOn_clicked()
{
    int serialNumber = 0;
    if (!powerKnown || !selectedCrate(&serialNumber))
        return;
    const bool switchOn = !powerOn;
    if (!switchOn
        && dialogs()->question(this, QString::fromLatin1(ApplicationIdentity::applicationName),
               tr("Switch crate %1 off? Every channel loses its high voltage at once, without ramp.").arg(serialNumber),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes)
        return;
    // A confirmed switch-off goes out even when the state went stale while the question was open:
    // taking the high voltage away is what was asked, and the main window reports its result. A
    // switch-on needs the state still known and still off.
    if (switchOn && (!powerKnown || powerOn)) {
        dialogs()->information(this, QString::fromLatin1(ApplicationIdentity::applicationName),
            tr("The crate's main switch is not known any more; nothing was sent."));
        return;
    }
    emit setPowerOn(switchOn);
}

void DialogCrate::on_setFanSpeed_clicked()
{
    int serialNumber = 0;
    if (!fanSpeedKnown || !selectedCrate(&serialNumber))
        return;
    const QString title = QString::fromLatin1(ApplicationIdentity::applicationName);
    bool ok = false;
    // Starts from the crate's fresh fan speed, never from a "---".
    const int speed = dialogs()->getInt(this, title,
        tr("Input a new fan rotation speed (0...3200 RPM):\n\nNote: the values 1...1199 are not allowed."),
        qBound(0, fanSpeed, highestFanSpeedRpm), 0, highestFanSpeedRpm, 100, &ok);
    if (!ok)
        return;
    if (speed > 0 && speed < lowestFanSpeedRpm) {
        dialogs()->information(this, title, tr("Note: the values 1...1199 are not allowed."));
        return;
    }
    emit setFanSpeed(speed);
}

QList<QLineEdit*> DialogCrate::fields() const
{
    return {ui->txtSupply5, ui->txtSupply24, ui->txtBattery24, ui->txtTempBackPlane, ui->txtTempPowerSupply, ui->txtFan1,
        ui->txtFan2, ui->txtStatus, ui->txtFirmware};
}

void DialogCrate::showUnknown()
{
    for (QLineEdit* field : fields()) {
        field->setText(unknownText);
        field->setPalette(QPalette());
        field->setProperty("ageing", false);
    }
    powerKnown = false;
    fanSpeedKnown = false;
    updatePowerButton();
    ui->setFanSpeed->setEnabled(false);
}

void DialogCrate::showFreshness(qint64 nowMs)
{
    const std::shared_ptr<const CrateSnapshot> crate = crateSnapshot();
    const Freshness freshness =
        crate && crate->crate.valid ? FreshnessRules::of(crate->crateReadAtMs, nowMs) : Freshness::Stale;
    showAge(freshness);
}

void DialogCrate::showAge(Freshness freshness)
{
    if (freshness == Freshness::Stale) {
        if (powerKnown || fanSpeedKnown || ui->txtFirmware->text() != unknownText)
            showUnknown();
        return;
    }
    for (QLineEdit* field : fields())
        showAgeing(field, freshness == Freshness::Ageing);
}

void DialogCrate::showEvent(QShowEvent* event)
{
    showUnknown();
    ToolWindow::showEvent(event);
    ui->crateList->setFocus();
}

void DialogCrate::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        updatePowerButton();
    }
    ToolWindow::changeEvent(event);
}
