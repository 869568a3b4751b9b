#include "ChannelTable.h"

#include "ChannelTableItemDelegate.h"
#include "dialogs/common/PaletteColours.h"

#include "device/StatusWordBits.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

#include <algorithm>

namespace {

constexpr int rowHeightPixels = 20;

QTableWidgetItem* makeHeaderItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

struct StatusRule
{
    quint32 statusBit;
    const char* text;
    Qt::GlobalColor colour;
};

// First match wins; ramping and the "on" cases need more than one bit and follow below.
constexpr StatusRule faultRules[] = {
    {ChannelStatusBit::voltageLimit, QT_TRANSLATE_NOOP("ChannelTable", "Voltage Limit"), Qt::red},
    {ChannelStatusBit::currentLimit, QT_TRANSLATE_NOOP("ChannelTable", "Current Limit"), Qt::red},
    {ChannelStatusBit::currentTrip, QT_TRANSLATE_NOOP("ChannelTable", "Current Trip"), Qt::red},
    {ChannelStatusBit::emergencyOff, QT_TRANSLATE_NOOP("ChannelTable", "Emergency"), Qt::red},
    {ChannelStatusBit::externalInhibit, QT_TRANSLATE_NOOP("ChannelTable", "Inhibit"), Qt::red},
    {ChannelStatusBit::voltageBounds, QT_TRANSLATE_NOOP("ChannelTable", "Voltage Bounds"), Qt::red},
    {ChannelStatusBit::currentBounds, QT_TRANSLATE_NOOP("ChannelTable", "Current Bounds"), Qt::red},
};

} // namespace

ChannelTable::ChannelTable(QWidget* parent)
    : QTableWidget(parent)
    , m_delegate(new ChannelTableItemDelegate(this))
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    // The operator may widen a column (the widths are kept with the window's settings); the
    // status column takes what is left.
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(true);
    setAlternatingRowColors(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Narrower than the default widths need: the window may be made smaller (800 pixels at least)
    // and then scrolls sideways.
    setMinimumWidth(600);
    setItemDelegate(m_delegate);
    connect(m_delegate, &ChannelTableItemDelegate::dataEntered, this, &ChannelTable::dataEntered);
    connect(m_delegate, &QAbstractItemDelegate::closeEditor, this, &ChannelTable::dataDiscarded);
}

ChannelTable::~ChannelTable()
{
    // The base class closes an open editor while it is destroyed; by then this object is no
    // longer a ChannelTable and must not receive the delegate's signals.
    m_delegate->disconnect(this);
}

namespace {
// Marks a change made by the program for the duration of a scope.
class ProgramChange
{
public:
    explicit ProgramChange(int& depth)
        : m_depth(depth)
    {
        ++m_depth;
    }
    ~ProgramChange() { --m_depth; }
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;

private:
    int& m_depth;
};
} // namespace

void ChannelTable::setChannelCount(int n)
{
    const ProgramChange change(m_programChanges);
    if (columnCount() != ColumnCount)
        setColumnCount(ColumnCount);
    setRowCount(qMax(0, n));
    for (int row = 0; row < rowCount(); ++row) {
        setVerticalHeaderItem(row, new QTableWidgetItem(tr("Channel %1").arg(row)));
        setRowHeight(row, rowHeightPixels);
    }
    setHorizontalHeaderItem(ColumnStatus, makeHeaderItem(headerText(ColumnStatus, QString())));
}

QString ChannelTable::headerText(int column, const QString& unit)
{
    switch (column) {
    case ColumnVoltageSet:
        return tr("Vset (%1)").arg(unit);
    case ColumnVoltageMeasure:
        return tr("Vmeas (%1)").arg(unit);
    case ColumnVoltageNominal:
        return tr("Vnominal (%1)").arg(unit);
    case ColumnCurrentSet:
        return tr("Iset (%1)").arg(unit);
    case ColumnCurrentMeasure:
        return tr("Imeas (%1)").arg(unit);
    case ColumnCurrentNominal:
        return tr("Inominal (%1)").arg(unit);
    default:
        return tr("Status");
    }
}

int ChannelTable::defaultColumnWidth(int column) const
{
    // Wide enough for a number with the most decimals, the header with its widest unit and, in
    // the status column, the longest usual status text, so nothing is cut at the window's
    // default size.
    const QFontMetrics metrics(font());
    const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this) + 8;
    if (column == ColumnStatus)
        return std::max(metrics.horizontalAdvance(tr("Constant Voltage")), metrics.horizontalAdvance(tr("Constant Current")))
            + padding;
    const bool voltage = column <= ColumnVoltageNominal;
    // A header is drawn bold while its whole column or a whole row is selected: measured bold, it
    // is not cut then either.
    QFont headerFont = horizontalHeader()->font();
    headerFont.setBold(true);
    const QFontMetrics headerMetrics(headerFont);
    int width = metrics.horizontalAdvance(QStringLiteral("-4,000.000"));
    const QStringList units = voltage
        ? QStringList{QStringLiteral("V"), QStringLiteral("kV")}
        : QStringList{QStringLiteral("nA"), QStringLiteral("µA"), QStringLiteral("mA"), QStringLiteral("A")};
    for (const QString& unit : units)
        width = std::max(width, headerMetrics.horizontalAdvance(headerText(column, unit)));
    return width + padding;
}

void ChannelTable::applyDefaultColumnWidths()
{
    for (int column = 0; column < columnCount(); ++column)
        setColumnWidth(column, defaultColumnWidth(column));
}

void ChannelTable::setVoltageHeaders(const QString& unit)
{
    if (columnCount() != ColumnCount)
        setColumnCount(ColumnCount);
    for (int column : {ColumnVoltageSet, ColumnVoltageMeasure, ColumnVoltageNominal})
        setHorizontalHeaderItem(column, makeHeaderItem(headerText(column, unit)));
}

void ChannelTable::setCurrentHeaders(const QString& unit)
{
    if (columnCount() != ColumnCount)
        setColumnCount(ColumnCount);
    for (int column : {ColumnCurrentSet, ColumnCurrentMeasure, ColumnCurrentNominal})
        setHorizontalHeaderItem(column, makeHeaderItem(headerText(column, unit)));
}

void ChannelTable::setCellText(int row, int column, const QString& text, const QColor& colour)
{
    if (row == m_editRow && column == m_editColumn)
        return;
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (colour != QColor(Qt::white)) {
        // The background is fixed whatever the palette: the text colour follows the background,
        // not the palette (white palette text on light grey or green cannot be read).
        item->setBackground(colour);
        item->setForeground(PaletteColours::textOn(colour));
    }
    // Only the set cells take typed values; the others are read-only whatever opens an editor.
    if (!isSetColumn(column))
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    if (m_pendingRows.contains(row))
        showPending(item, true);
    setItem(row, column, item);
}

void ChannelTable::showPending(QTableWidgetItem* cell, bool pending)
{
    QFont font = cell->font();
    font.setItalic(pending);
    cell->setFont(font);
    if (pending) {
        cell->setForeground(QColor(Qt::gray));
        cell->setBackground(QBrush());
    }
}

void ChannelTable::setPendingRows(const QSet<int>& rows)
{
    const QSet<int> changed = (rows - m_pendingRows) + (m_pendingRows - rows);
    m_pendingRows = rows;
    for (int row : changed) {
        if (row < 0 || row >= rowCount())
            continue;
        for (int column = 0; column < columnCount(); ++column) {
            if (row == m_editRow && column == m_editColumn)
                continue;
            if (QTableWidgetItem* cell = item(row, column))
                showPending(cell, rows.contains(row));
        }
    }
}

void ChannelTable::setChannelStatusCell(int row, quint32 control, quint32 status)
{
    for (const StatusRule& rule : faultRules) {
        if (status & rule.statusBit) {
            setCellText(row, ColumnStatus, tr(rule.text), rule.colour);
            return;
        }
    }
    if (status & ChannelStatusBit::ramping) {
        const bool regulating = status & (ChannelStatusBit::constantCurrent | ChannelStatusBit::constantVoltage);
        setCellText(row, ColumnStatus, tr("Ramping"), regulating ? Qt::green : Qt::yellow);
    } else if (status & ChannelStatusBit::constantCurrent) {
        setCellText(row, ColumnStatus, tr("Constant Current"), Qt::green);
    } else if (status & ChannelStatusBit::constantVoltage) {
        setCellText(row, ColumnStatus, tr("Constant Voltage"), Qt::green);
    } else if (status & ChannelStatusBit::on) {
        setCellText(row, ColumnStatus, tr("On"), Qt::green);
    } else if (control & ChannelControlBit::on) {
        setCellText(row, ColumnStatus, tr("On"), Qt::yellow);
    } else {
        setCellText(row, ColumnStatus, tr("Off"), Qt::lightGray);
    }
}

void ChannelTable::setMeasurementModeCell(int row, quint32 control)
{
    const bool external = control & ChannelControlBit::externalMeasurement;
    const bool ripple = control & ChannelControlBit::rippleMeasurement;
    if (external && ripple)
        setCellText(row, ColumnStatus, tr("Both Measurements"), Qt::green);
    else if (external)
        setCellText(row, ColumnStatus, tr("External Measurement"), Qt::green);
    else if (ripple)
        setCellText(row, ColumnStatus, tr("Ripple Measurement"), Qt::green);
    else
        setCellText(row, ColumnStatus, tr("Off"), Qt::yellow);
}

const quint32 ChannelTable::faultBits = [] {
    quint32 bits = 0;
    for (const StatusRule& rule : faultRules)
        bits |= rule.statusBit;
    return bits;
}();

void ChannelTable::setStatusCellToolTip(int row, const QString& toolTip)
{
    QTableWidgetItem* cell = item(row, ColumnStatus);
    if (cell && !toolTip.isEmpty())
        cell->setToolTip(toolTip);
}

void ChannelTable::markStatusCellAlarm(int row, const QString& toolTip)
{
    if (QTableWidgetItem* cell = item(row, ColumnStatus)) {
        cell->setBackground(alarmColour());
        cell->setForeground(PaletteColours::textOn(alarmColour()));
        cell->setToolTip(toolTip);
    }
}

void ChannelTable::blankCells()
{
    const ProgramChange change(m_programChanges);
    clearContents();
}

void ChannelTable::removeAllRows()
{
    const ProgramChange change(m_programChanges);
    clearContents();
    setRowCount(0);
}

void ChannelTable::showSelection(const QList<int>& rows, int current)
{
    const ProgramChange change(m_programChanges);
    QItemSelectionModel* model = selectionModel();
    if (!model)
        return;
    QItemSelection selection;
    for (int row : rows) {
        if (row >= 0 && row < rowCount())
            selection.select(this->model()->index(row, 0), this->model()->index(row, columnCount() - 1));
    }
    model->select(selection, QItemSelectionModel::ClearAndSelect);
    if (current >= 0 && current < rowCount())
        model->setCurrentIndex(this->model()->index(current, 0), QItemSelectionModel::NoUpdate);
    else
        model->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void ChannelTable::setRowAgeing(int row, bool ageing)
{
    if (!ageing)
        return;
    for (int column : {ColumnVoltageSet, ColumnVoltageMeasure, ColumnCurrentSet, ColumnCurrentMeasure, ColumnStatus}) {
        if (row == m_editRow && column == m_editColumn)
            continue;
        if (QTableWidgetItem* cell = item(row, column)) {
            cell->setForeground(QColor(Qt::gray));
            cell->setBackground(QBrush());
        }
    }
}

void ChannelTable::setRowUnknown(int row)
{
    const QString unknown = QStringLiteral("---");
    for (int column : {ColumnVoltageSet, ColumnCurrentSet, ColumnVoltageMeasure, ColumnCurrentMeasure, ColumnStatus})
        setCellText(row, column, unknown);
}

bool ChannelTable::hasMultipleSelection() const
{
    return selectedRows().size() >= 2;
}

QList<int> ChannelTable::selectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    const QModelIndexList indexes = selectionModel()->selectedIndexes();
    for (const QModelIndex& index : indexes) {
        if (!rows.contains(index.row()))
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void ChannelTable::dataEntered(int row, int column, QString text)
{
    emit cellDataChanged(row, column, text);
}

void ChannelTable::dataDiscarded()
{
    m_editRow = -1;
    m_editColumn = -1;
}

void ChannelTable::beginEdit(int row, int column)
{
    m_editRow = row;
    m_editColumn = column;
    QTableWidgetItem* cell = item(row, column);
    if (!cell)
        return;
    // The editor must open on a plain number that toFloat understands.
    QString text = cell->text();
    text.remove(locale().groupSeparator());
    cell->setText(text);
}

void ChannelTable::dropEditCellUnlessEditing()
{
    if (state() != QAbstractItemView::EditingState)
        dataDiscarded();
}

void ChannelTable::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid() || !isSetColumn(index.column()))
        return;
    beginEdit(index.row(), index.column());
    QTableWidget::mouseDoubleClickEvent(event);
    dropEditCellUnlessEditing();
}

void ChannelTable::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_F2:
        if (!isSetColumn(currentColumn()) || currentRow() < 0)
            return;
        beginEdit(currentRow(), currentColumn());
        QTableWidget::keyPressEvent(event);
        dropEditCellUnlessEditing();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        dataDiscarded();
        break;
    default:
        break;
    }
    QTableWidget::keyPressEvent(event);
}
