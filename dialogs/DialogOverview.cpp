#include "DialogOverview.h"

#include "ui_DialogOverview.h"

#include "OverviewItemDelegate.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/StatusWordBits.h"

#include <QHeaderView>
#include <QTableWidgetItem>
#include <QTimer>

namespace {
constexpr int initialColumnWidthPx = 100;
constexpr int minimumColumnWidthPx = 120;
constexpr int channelRowHeightPx = 20;

const QString unknownText = QStringLiteral("---");

// Rating of one channel: 3 error, 2 ramping, 1 on, 0 off.
int runningRating(quint32 status)
{
    if (status & (ChannelStatusBit::currentTrip | ChannelStatusBit::externalInhibit | ChannelStatusBit::emergencyOff))
        return 3;
    if (status & ChannelStatusBit::ramping)
        return 2;
    if (status & ChannelStatusBit::on)
        return 1;
    return 0;
}
} // namespace

DialogOverview::DialogOverview(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogOverview)
    , m_renderTimer(new QTimer(this))
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::Window);
    QTableWidget* table = ui->table;
    table->setItemDelegate(new OverviewItemDelegate(table));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Wide enough for "4000.00 2.000" in "both" mode; more modules than fit scroll sideways.
    table->horizontalHeader()->setMinimumSectionSize(minimumColumnWidthPx);
    m_renderTimer->setInterval(renderIntervalMs);
    connect(m_renderTimer, &QTimer::timeout, this, &DialogOverview::render);
    if (session) {
        connect(session, &DeviceSession::modulesDiscovered, this, [this] {
            m_layoutDue = true;
            if (isVisible())
                render();
        });
        // The module objects go: the columns stay, with nothing in them shown as live.
        connect(session, &DeviceSession::modulesAboutToBeReleased, this, &DialogOverview::showAllLost);
    }
    setNeeds(Poller::AllModulesChannels);
}

DialogOverview::~DialogOverview()
{
    delete ui;
}

QString DialogOverview::runningState(const QVector<quint32>& statusWords)
{
    static const char* const texts[] = {
        QT_TR_NOOP("HV Off"), QT_TR_NOOP("HV On"), QT_TR_NOOP("Ramping"), QT_TR_NOOP("Error")};
    int rating = 0;
    for (quint32 status : statusWords)
        rating = qMax(rating, runningRating(status));
    return tr(texts[rating]);
}

void DialogOverview::layOut()
{
    m_layoutDue = false;
    const QList<BaseModule*> modules = session() ? session()->modules() : QList<BaseModule*>();
    int rows = 0;
    for (BaseModule* module : modules)
        rows = qMax(rows, module->channelNumber());
    QTableWidget* table = ui->table;
    table->clearContents();
    m_columns = int(modules.size());
    m_channelRows = rows;
    table->setColumnCount(m_columns);
    table->setRowCount(firstChannelRow + rows);
    QStringList rowTitles = {tr("Module Status"), tr("Units")};
    for (int channel = 0; channel < rows; ++channel) {
        rowTitles.append(tr("Channel %1").arg(channel));
        table->setRowHeight(firstChannelRow + channel, channelRowHeightPx);
    }
    table->setVerticalHeaderLabels(rowTitles);
    for (int column = 0; column < m_columns; ++column) {
        BaseModule* module = modules.at(column);
        auto* header = new QTableWidgetItem(module->address());
        header->setToolTip(tr("Serial number\t%1\nFirmware\t\t%2\nVersion\t\t%3")
                               .arg(module->serialNumber())
                               .arg(module->firmwareName(), module->firmwareRelease()));
        table->setHorizontalHeaderItem(column, header);
        table->setColumnWidth(column, initialColumnWidthPx);
    }
}

QTableWidgetItem* DialogOverview::cell(int row, int column)
{
    QTableWidgetItem* item = ui->table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        ui->table->setItem(row, column, item);
    }
    return item;
}

void DialogOverview::setCell(int row, int column, const QString& voltage, const QString& current, bool grey)
{
    QTableWidgetItem* item = cell(row, column);
    switch (m_mode) {
    case ShowVoltages:
        item->setText(voltage);
        item->setData(currentTextRole, QVariant());
        break;
    case ShowCurrents:
        item->setText(current);
        item->setData(currentTextRole, QVariant());
        break;
    case ShowBoth:
        item->setText(voltage);
        item->setData(currentTextRole, current);
        break;
    }
    item->setForeground(grey ? QColor(Qt::gray) : ui->table->palette().color(QPalette::Text));
}

void DialogOverview::showAllLost()
{
    for (int column = 0; column < m_columns; ++column) {
        QTableWidgetItem* state = cell(runningStateRow, column);
        state->setText(tr("Not connected"));
        state->setForeground(QColor(Qt::gray));
        for (int channel = 0; channel < m_channelRows; ++channel) {
            if (ui->table->item(firstChannelRow + channel, column))
                setCell(firstChannelRow + channel, column, unknownText, unknownText, false);
        }
    }
    m_layoutDue = true;
}

void DialogOverview::render()
{
    DeviceSession* shown = session();
    if (!shown)
        return;
    const QList<BaseModule*> modules = shown->modules();
    if (modules.isEmpty()) {
        if (m_columns > 0)
            showAllLost();
        return;
    }
    if (m_layoutDue || modules.size() != m_columns)
        layOut();

    const qint64 now = ModuleSnapshot::nowMs();
    for (int column = 0; column < m_columns; ++column) {
        BaseModule* module = modules.at(column);
        const QString voltageUnit = module->voltageUnit(0);
        const QString currentUnit = module->currentUnit(0);
        setCell(unitsRow, column, voltageUnit, currentUnit, false);

        const std::shared_ptr<const ModuleSnapshot> snapshot =
            shown->poller() ? shown->poller()->moduleSnapshot(column) : nullptr;
        const bool connected = snapshot && snapshot->connected(now);
        // Values read in other display units than the ones shown are no readings in these.
        const bool sameUnits = snapshot && snapshot->voltageUnit == voltageUnit && snapshot->currentUnit == currentUnit;
        const int channels = module->channelNumber();

        QVector<quint32> statusWords;
        bool everyChannel = true;
        Freshness oldest = Freshness::Fresh;
        for (int channel = 0; channel < channels; ++channel) {
            const Freshness freshness = connected && sameUnits ? snapshot->channelFreshness(channel, now) : Freshness::Stale;
            const int row = firstChannelRow + channel;
            if (freshness == Freshness::Stale) {
                everyChannel = false;
                setCell(row, column, unknownText, unknownText, false);
                continue;
            }
            const ChannelReading& reading = snapshot->channels.at(channel);
            statusWords.append(reading.status);
            oldest = FreshnessRules::older(oldest, freshness);
            setCell(row, column, module->formatVoltage(reading.voltageMeasure),
                module->formatCurrent(reading.currentMeasure), freshness == Freshness::Ageing);
        }

        QTableWidgetItem* state = cell(runningStateRow, column);
        if (!connected) {
            state->setText(tr("Not connected"));
            state->setForeground(QColor(Qt::gray));
        } else if (!everyChannel || channels == 0) {
            // A channel missing from the read may be the tripped one: no rating from the others.
            state->setText(unknownText);
            state->setForeground(ui->table->palette().color(QPalette::Text));
        } else {
            state->setText(runningState(statusWords));
            state->setForeground(
                oldest == Freshness::Ageing ? QColor(Qt::gray) : ui->table->palette().color(QPalette::Text));
        }
    }
}

void DialogOverview::showEvent(QShowEvent* event)
{
    ToolWindow::showEvent(event);
    m_layoutDue = true;
    render();
    m_renderTimer->start();
}

void DialogOverview::hideEvent(QHideEvent* event)
{
    ToolWindow::hideEvent(event);
    m_renderTimer->stop();
}

void DialogOverview::on_showVoltages_clicked()
{
    m_mode = ShowVoltages;
    render();
}

void DialogOverview::on_showCurrents_clicked()
{
    m_mode = ShowCurrents;
    render();
}

void DialogOverview::on_showBoth_clicked()
{
    m_mode = ShowBoth;
    render();
}
