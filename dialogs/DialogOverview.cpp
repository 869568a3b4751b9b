#include "DialogOverview.h"

#include "ui_DialogOverview.h"

#include "OverviewItemDelegate.h"

#include <QDebug>
#include <QHeaderView>
#include <QTableWidgetItem>

namespace {
constexpr int runningStateRow = 0;
constexpr int unitsRow = 1;
constexpr int firstChannelRow = 2;
constexpr int initialColumnWidthPx = 100;
constexpr int minimumColumnWidthPx = 120;
constexpr int channelRowHeightPx = 20;
} // namespace

DialogOverview::DialogOverview(DeviceSession* session, QWidget* parent)
    : ToolWindow(session, parent)
    , ui(new Ui::DialogOverview)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::Window);
    QTableWidget* table = ui->table;
    table->setColumnCount(maximumColumns);
    table->setRowCount(firstChannelRow + channelRows);
    table->setItemDelegate(new OverviewItemDelegate(table));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int column = 0; column < maximumColumns; ++column)
        table->setColumnWidth(column, initialColumnWidthPx);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Wide enough for "4000.00 2.000" in "both" mode; more modules than fit scroll sideways.
    table->horizontalHeader()->setMinimumSectionSize(minimumColumnWidthPx);
    for (int row = firstChannelRow; row < table->rowCount(); ++row)
        table->setRowHeight(row, channelRowHeightPx);
    reset();
    setNeeds(Poller::AllModulesChannels);
}

DialogOverview::~DialogOverview()
{
    delete ui;
}

void DialogOverview::setRowHeaders()
{
    QStringList rows = {tr("Module Status"), tr("Units")};
    for (int channel = 0; channel < channelRows; ++channel)
        rows.append(tr("Channel %1").arg(channel));
    ui->table->setVerticalHeaderLabels(rows);
    QStringList columns;
    for (int column = 0; column < maximumColumns; ++column)
        columns.append(tr("Module %1").arg(column));
    ui->table->setHorizontalHeaderLabels(columns);
}

void DialogOverview::reset()
{
    m_columns.clear();
    m_turnColumn = -1;
    m_nextTurnColumn = 0;
    QTableWidget* table = ui->table;
    table->clearContents();
    setRowHeaders();
    for (int column = 0; column < maximumColumns; ++column) {
        auto* units = new QTableWidgetItem(QStringLiteral("V"));
        units->setData(currentTextRole, QStringLiteral("mA"));
        table->setItem(unitsRow, column, units);
        // A column shows once a module claims it: empty ones would only narrow the others.
        table->setColumnHidden(column, true);
    }
}

int DialogOverview::claimColumn(int serialNumber)
{
    if (m_columns.size() >= maximumColumns)
        return -1;
    Column column;
    column.serialNumber = serialNumber;
    m_columns.append(column);
    ui->table->setColumnHidden(int(m_columns.size()) - 1, false);
    qDebug() << "new Module with sn." << serialNumber;
    return int(m_columns.size()) - 1;
}

int DialogOverview::columnFor(int serialNumber)
{
    if (m_turnColumn >= 0 && m_columns.at(m_turnColumn).serialNumber == serialNumber)
        return m_turnColumn;
    int found = -1;
    for (int column = 0; column < m_columns.size(); ++column) {
        if (m_columns.at(column).serialNumber != serialNumber)
            continue;
        if (found >= 0)
            return -1; // shared by several modules: only their refresh turns tell them apart
        found = column;
    }
    return found >= 0 ? found : claimColumn(serialNumber);
}

void DialogOverview::setModuleHeader(
    int serialNumber, const QString& title, const QString& firmwareName, const QString& firmwareRelease)
{
    const int column = claimColumn(serialNumber);
    if (column < 0)
        return;
    auto* header = new QTableWidgetItem(title);
    header->setToolTip(
        tr("Serial number\t%1\nFirmware\t\t%2\nVersion\t\t%3").arg(serialNumber).arg(firmwareName, firmwareRelease));
    ui->table->setHorizontalHeaderItem(column, header);
}

void DialogOverview::drawPair(int row, int column, const QString& voltage, const QString& current)
{
    QTableWidgetItem* item = ui->table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        ui->table->setItem(row, column, item);
    }
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
}

void DialogOverview::updateChannelVoltageMeasure(int serialNumber, int channel, QString value)
{
    const int column = columnFor(serialNumber);
    if (column < 0 || channel < 0 || channel >= channelRows)
        return;
    Column& c = m_columns[column];
    c.voltageTexts[channel] = value;
    c.channelsUpdated.setBit(channel);
    drawPair(firstChannelRow + channel, column, c.voltageTexts.at(channel), c.currentTexts.at(channel));
}

void DialogOverview::updateChannelCurrentMeasure(int serialNumber, int channel, QString value)
{
    const int column = columnFor(serialNumber);
    if (column < 0 || channel < 0 || channel >= channelRows)
        return;
    Column& c = m_columns[column];
    c.currentTexts[channel] = value;
    c.channelsUpdated.setBit(channel);
    drawPair(firstChannelRow + channel, column, c.voltageTexts.at(channel), c.currentTexts.at(channel));
}

void DialogOverview::updateChannelVoltage(int serialNumber, int, float, QString)
{
    columnFor(serialNumber);
}

void DialogOverview::updateChannelVoltageUnit(int serialNumber, int, QString unit)
{
    const int column = columnFor(serialNumber);
    if (column < 0)
        return;
    m_columns[column].voltageUnit = unit;
    drawPair(unitsRow, column, unit, m_columns.at(column).currentUnit);
}

void DialogOverview::updateChannelCurrentUnit(int serialNumber, int, QString unit)
{
    const int column = columnFor(serialNumber);
    if (column < 0)
        return;
    m_columns[column].currentUnit = unit;
    drawPair(unitsRow, column, m_columns.at(column).voltageUnit, unit);
}

void DialogOverview::updateModuleRunningState(int serialNumber, QString runningState, QColor color)
{
    const int column = columnFor(serialNumber);
    if (column < 0)
        return;
    m_columns[column].runningStateUpdated = true;
    auto* item = new QTableWidgetItem(runningState);
    item->setForeground(color);
    ui->table->setItem(runningStateRow, column, item);
}

void DialogOverview::updateAllModulesStarted()
{
    m_nextTurnColumn = 0;
    m_turnColumn = -1;
}

void DialogOverview::updateModuleStarted(int serialNumber)
{
    // The refresh names the modules in list order, as the columns were claimed.
    const int column = m_nextTurnColumn++;
    if (column < m_columns.size() && m_columns.at(column).serialNumber == serialNumber)
        m_turnColumn = column;
    else
        m_turnColumn = columnFor(serialNumber);
    if (m_turnColumn < 0)
        return;
    Column& c = m_columns[m_turnColumn];
    c.channelsUpdated.fill(false);
    c.runningStateUpdated = false;
}

void DialogOverview::updateModuleCompleted(int serialNumber)
{
    const int column = m_turnColumn;
    m_turnColumn = -1;
    if (column < 0 || m_columns.at(column).serialNumber != serialNumber)
        return;
    // What the module did not give in its turn is no reading now.
    Column& c = m_columns[column];
    const QString unknown = QStringLiteral("---");
    for (int channel = 0; channel < channelRows; ++channel) {
        if (c.channelsUpdated.testBit(channel)
            || (c.voltageTexts.at(channel).isEmpty() && c.currentTexts.at(channel).isEmpty()))
            continue;
        c.voltageTexts[channel] = unknown;
        c.currentTexts[channel] = unknown;
        drawPair(firstChannelRow + channel, column, unknown, unknown);
    }
    if (!c.runningStateUpdated) {
        auto* item = new QTableWidgetItem(tr("Not connected"));
        item->setForeground(QColor(Qt::gray));
        ui->table->setItem(runningStateRow, column, item);
    }
}

void DialogOverview::on_showVoltages_clicked()
{
    m_mode = ShowVoltages;
}

void DialogOverview::on_showCurrents_clicked()
{
    m_mode = ShowCurrents;
}

void DialogOverview::on_showBoth_clicked()
{
    m_mode = ShowBoth;
}
