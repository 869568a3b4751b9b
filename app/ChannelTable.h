#pragma once

#include <QColor>
#include <QList>
#include <QSet>
#include <QTableWidget>

class ChannelTableItemDelegate;

// The channel grid of the main window: one row per channel of the current module, the set,
// measured and nominal voltages and currents, and a coloured status text. The set voltage and
// set current cells can be edited; a committed edit leaves as cellDataChanged. While an editor
// is open on a cell, the periodic refresh leaves that one cell alone.
class ChannelTable : public QTableWidget
{
    Q_OBJECT

public:
    enum Column {
        ColumnVoltageSet = 0,
        ColumnVoltageMeasure = 1,
        ColumnVoltageNominal = 2,
        ColumnCurrentSet = 3,
        ColumnCurrentMeasure = 4,
        ColumnCurrentNominal = 5,
        ColumnStatus = 6,
        ColumnCount = 7
    };

    explicit ChannelTable(QWidget* parent = nullptr);
    ~ChannelTable() override;

    void setChannelCount(int n);
    void setVoltageHeaders(const QString& unit);
    void setCurrentHeaders(const QString& unit);
    // Column widths that show every number, header and status text whole; used until the
    // operator's own widths are restored from the settings.
    void applyDefaultColumnWidths();
    int defaultColumnWidth(int column) const;
    // "Vset (kV)", "Inominal (mA)", "Status".
    static QString headerText(int column, const QString& unit);

    // Replaces the cell's item; white means no background. Does nothing for the cell whose
    // editor may be open.
    void setCellText(int row, int column, const QString& text, const QColor& colour = Qt::white);
    void setChannelStatusCell(int row, quint32 control, quint32 status);
    // Status bits shown as a fault (red) in the status cell.
    static const quint32 faultBits;
    // Explains the status cell (until the next refresh replaces it); nothing for an empty text.
    void setStatusCellToolTip(int row, const QString& toolTip);
    void setMeasurementModeCell(int row, quint32 control);
    // The status cell of a channel in current alarm: alarmColour() behind the status text, and
    // `toolTip` saying why (until the next refresh replaces the cell).
    void markStatusCellAlarm(int row, const QString& toolTip);
    static QColor alarmColour() { return QColor(255, 140, 0); }
    // Empties every cell but keeps the rows: a module that stopped answering must not leave
    // its last numbers on screen as if they were live.
    void blankCells();
    // Grey text in the row's read cells: the values are the latest reading but no longer
    // current (each cell gets a new item on every refresh, so a fresh row is black again). The
    // status cell loses its colour then: grey on green cannot be read.
    void setRowAgeing(int row, bool ageing);
    // "---" in the row's read cells and its status cell, without colour: the latest read did not
    // reach the channel, or it is too old to be the channel's state now.
    void setRowUnknown(int row);

    // Rows of channels a command is being sent to: their cells show grey italic text (without
    // colour behind it), also after the refresh replaced them, until the rows leave the set;
    // the next refresh then shows them as usual.
    void setPendingRows(const QSet<int>& rows);
    bool isRowPending(int row) const { return m_pendingRows.contains(row); }

    // Empties the table (no rows); the operator's selection is the window's, not lost with it.
    void removeAllRows();

    bool hasMultipleSelection() const;
    // The rows with a selected cell, each once, in ascending order.
    QList<int> selectedRows() const;
    // Shows `rows` as selected and `current` as the cursor row (-1: none) without it counting as
    // the operator's choice (changingByProgram() is true meanwhile).
    void showSelection(const QList<int>& rows, int current);
    // True while the table itself or the window changes rows, contents or selection: a
    // selection change then is not the operator's.
    bool changingByProgram() const { return m_programChanges > 0; }

    bool isEditing() const { return state() == QAbstractItemView::EditingState; }
    int editRow() const { return m_editRow; }
    int editColumn() const { return m_editColumn; }

    static bool isSetColumn(int column) { return column == ColumnVoltageSet || column == ColumnCurrentSet; }

signals:
    // The user committed an edit of a cell; the main window turns the text into a module write.
    void cellDataChanged(int row, int column, QString data);

public slots:
    void dataEntered(int row, int column, QString text);
    void dataDiscarded();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void beginEdit(int row, int column);
    // An edit cell is only meaningful while an editor is open; if the base handling did not
    // open one, the cell must go on refreshing.
    void dropEditCellUnlessEditing();

    // Styles a cell of a pending row (or undoes the font of one that is no longer pending).
    static void showPending(QTableWidgetItem* cell, bool pending);

    ChannelTableItemDelegate* m_delegate;
    QSet<int> m_pendingRows;
    int m_programChanges = 0;
    int m_editRow = -1;
    int m_editColumn = -1;
};
