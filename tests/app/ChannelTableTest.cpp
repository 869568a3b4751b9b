#include "app/ChannelTable.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>

// The channel grid on its own: status colouring, which cells open an editor, what the editor
// opens on, and that the refresh cannot overwrite a cell under an open editor.
class ChannelTableTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statusCell_data();
    void statusCell();
    void measurementModeCell_data();
    void measurementModeCell();
    void headersAndRows();
    void defaultWidthsShowEveryText();

    void doubleClickOutsideSetColumnsIsIgnored();
    void editKeyOutsideSetColumnsIsSwallowed();
    void editorOpensWithoutGroupSeparator();
    void refreshLeavesEditedCellAlone();
    void commitEmitsCellDataChanged();
    void escapeDiscardsEdit();
    void selectedRowsOncePerRow();
    void programChangesAreNotTheOperators();

private:
    QLineEdit* openEditor(int row, int column);
    static bool readable(const QTableWidgetItem* item);

    ChannelTable* m_table = nullptr;
};

void ChannelTableTest::init()
{
    m_table = new ChannelTable;
    m_table->setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    m_table->setChannelCount(4);
    m_table->setVoltageHeaders(QStringLiteral("V"));
    m_table->setCurrentHeaders(QStringLiteral("mA"));
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < ChannelTable::ColumnStatus; ++column)
            m_table->setCellText(row, column, QStringLiteral("%1.5").arg(row * 10 + column));
    m_table->resize(900, 300);
    m_table->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_table));
}

void ChannelTableTest::cleanup()
{
    delete m_table;
    m_table = nullptr;
}

QLineEdit* ChannelTableTest::openEditor(int row, int column)
{
    m_table->setCurrentCell(row, column);
    m_table->setFocus();
    QTest::keyClick(m_table, Qt::Key_F2);
    return m_table->findChild<QLineEdit*>();
}

void ChannelTableTest::statusCell_data()
{
    QTest::addColumn<quint32>("control");
    QTest::addColumn<quint32>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");

    const QColor none; // no background brush
    QTest::newRow("voltage limit wins over all") << 0x8u << 0xFFFFu << "Voltage Limit" << QColor(Qt::red);
    QTest::newRow("current limit") << 0u << 0x4000u << "Current Limit" << QColor(Qt::red);
    QTest::newRow("trip over emergency") << 0u << 0x2020u << "Current Trip" << QColor(Qt::red);
    QTest::newRow("emergency over inhibit") << 0u << 0x1020u << "Emergency" << QColor(Qt::red);
    QTest::newRow("inhibit") << 0u << 0x1000u << "Inhibit" << QColor(Qt::red);
    QTest::newRow("voltage bounds") << 0u << 0x0800u << "Voltage Bounds" << QColor(Qt::red);
    QTest::newRow("current bounds") << 0u << 0x0400u << "Current Bounds" << QColor(Qt::red);
    QTest::newRow("fault over ramping") << 0u << 0x0418u << "Current Bounds" << QColor(Qt::red);
    QTest::newRow("ramping in constant voltage") << 0u << 0x0090u << "Ramping" << QColor(Qt::green);
    QTest::newRow("ramping in constant current") << 0u << 0x0050u << "Ramping" << QColor(Qt::green);
    QTest::newRow("ramping alone") << 0u << 0x0010u << "Ramping" << QColor(Qt::yellow);
    QTest::newRow("constant current over voltage") << 0u << 0x00C8u << "Constant Current" << QColor(Qt::green);
    QTest::newRow("constant voltage") << 0u << 0x0088u << "Constant Voltage" << QColor(Qt::green);
    QTest::newRow("on") << 0u << 0x0008u << "On" << QColor(Qt::green);
    QTest::newRow("switched on, not yet on") << 0x0008u << 0x0000u << "On" << QColor(Qt::yellow);
    QTest::newRow("off") << 0u << 0x0001u << "Off" << QColor(Qt::lightGray);
    QTest::newRow("upper bits ignored") << 0u << 0x10000u << "Off" << QColor(Qt::lightGray);
}

void ChannelTableTest::statusCell()
{
    QFETCH(quint32, control);
    QFETCH(quint32, status);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    m_table->setChannelStatusCell(2, control, status);
    QTableWidgetItem* item = m_table->item(2, ChannelTable::ColumnStatus);
    QVERIFY(item);
    QCOMPARE(item->text(), text);
    QCOMPARE(item->background().color(), colour);
    QCOMPARE(item->background().style(), Qt::SolidPattern);
    QCOMPARE(int(item->textAlignment()), int(Qt::AlignRight | Qt::AlignVCenter));
    // The text colour follows the fixed background, not the palette: a dark desktop's white text
    // on light grey or green cannot be read. The same for the orange of a current alarm.
    QVERIFY2(readable(item), qPrintable(item->foreground().color().name()));
    m_table->markStatusCellAlarm(2, QStringLiteral("alarm"));
    QVERIFY2(readable(item), qPrintable(item->foreground().color().name()));
}

bool ChannelTableTest::readable(const QTableWidgetItem* item)
{
    // Brightness difference of text and background of at least 125 (of 255), the usual rule
    // for legible text.
    const auto brightness = [](const QColor& c) { return (299 * c.red() + 587 * c.green() + 114 * c.blue()) / 1000; };
    return item->foreground().style() != Qt::NoBrush
        && qAbs(brightness(item->foreground().color()) - brightness(item->background().color())) >= 125;
}

void ChannelTableTest::defaultWidthsShowEveryText()
{
    // At the main window's default size the table is about 780 pixels wide: every column at its
    // default width fits, and the status column shows its longest usual text whole.
    ChannelTable table;
    table.setChannelCount(16);
    table.setVoltageHeaders(QStringLiteral("kV"));
    table.setCurrentHeaders(QStringLiteral("mA"));
    table.applyDefaultColumnWidths();
    table.resize(780, 300);
    table.show();
    QVERIFY(QTest::qWaitForWindowExposed(&table));
    QVERIFY2(table.horizontalHeader()->length() <= table.viewport()->width(),
        qPrintable(QStringLiteral("%1 > %2").arg(table.horizontalHeader()->length()).arg(table.viewport()->width())));
    const QFontMetrics metrics(table.font());
    QVERIFY(table.columnWidth(ChannelTable::ColumnStatus) > metrics.horizontalAdvance(QStringLiteral("Constant Voltage")));
    // Measured bold: a header is drawn bold while a whole row is selected.
    QFont headerFont = table.horizontalHeader()->font();
    headerFont.setBold(true);
    const QFontMetrics headerMetrics(headerFont);
    for (int column = 0; column < ChannelTable::ColumnStatus; ++column) {
        const QString header = table.horizontalHeaderItem(column)->text();
        QVERIFY2(table.columnWidth(column) > headerMetrics.horizontalAdvance(header), qPrintable(header));
    }
}

void ChannelTableTest::measurementModeCell_data()
{
    QTest::addColumn<quint32>("control");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("both") << 0x0006u << "Both Measurements" << QColor(Qt::green);
    QTest::newRow("external") << 0x000Au << "External Measurement" << QColor(Qt::green);
    QTest::newRow("ripple") << 0x0004u << "Ripple Measurement" << QColor(Qt::green);
    QTest::newRow("off") << 0x0008u << "Off" << QColor(Qt::yellow);
}

void ChannelTableTest::measurementModeCell()
{
    QFETCH(quint32, control);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    m_table->setMeasurementModeCell(1, control);
    QTableWidgetItem* item = m_table->item(1, ChannelTable::ColumnStatus);
    QVERIFY(item);
    QCOMPARE(item->text(), text);
    QCOMPARE(item->background().color(), colour);
}

void ChannelTableTest::headersAndRows()
{
    m_table->setChannelCount(3);
    m_table->setVoltageHeaders(QStringLiteral("kV"));
    m_table->setCurrentHeaders(QStringLiteral("µA"));
    QCOMPARE(m_table->rowCount(), 3);
    QCOMPARE(m_table->columnCount(), 7);
    QCOMPARE(m_table->verticalHeaderItem(2)->text(), QStringLiteral("Channel 2"));
    QCOMPARE(m_table->rowHeight(2), 20);
    const QStringList expected{
        "Vset (kV)", "Vmeas (kV)", "Vnominal (kV)", "Iset (µA)", "Imeas (µA)", "Inominal (µA)", "Status"};
    for (int column = 0; column < 7; ++column) {
        QCOMPARE(m_table->horizontalHeaderItem(column)->text(), expected.at(column));
        QCOMPARE(int(m_table->horizontalHeaderItem(column)->textAlignment()) & Qt::AlignRight, int(Qt::AlignRight));
    }
    // A white colour means no background at all.
    m_table->setCellText(0, 0, QStringLiteral("1.0"), Qt::white);
    QCOMPARE(m_table->item(0, 0)->background().style(), Qt::NoBrush);
}

void ChannelTableTest::doubleClickOutsideSetColumnsIsIgnored()
{
    m_table->setCurrentCell(0, 0);
    const QRect cell = m_table->visualItemRect(m_table->item(2, ChannelTable::ColumnVoltageMeasure));
    const QPointF position = cell.center();
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, position, m_table->viewport()->mapToGlobal(position),
        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_table->viewport(), &doubleClick);
    QVERIFY(!m_table->isEditing());
    QVERIFY(!m_table->findChild<QLineEdit*>());
    QCOMPARE(m_table->currentRow(), 0);
    QCOMPARE(m_table->currentColumn(), 0);
    QCOMPARE(m_table->editRow(), -1);

    // The same double click on a set-current cell opens its editor.
    const QPointF setCurrent = m_table->visualItemRect(m_table->item(2, ChannelTable::ColumnCurrentSet)).center();
    QTest::mouseClick(m_table->viewport(), Qt::LeftButton, Qt::NoModifier, setCurrent.toPoint());
    QTest::mouseDClick(m_table->viewport(), Qt::LeftButton, Qt::NoModifier, setCurrent.toPoint());
    QTRY_VERIFY(m_table->findChild<QLineEdit*>());
    QCOMPARE(m_table->editRow(), 2);
    QCOMPARE(m_table->editColumn(), int(ChannelTable::ColumnCurrentSet));
}

void ChannelTableTest::editKeyOutsideSetColumnsIsSwallowed()
{
    for (int column : {1, 2, 4, 5, 6}) {
        QVERIFY(!openEditor(1, column));
        QVERIFY(!m_table->isEditing());
        QCOMPARE(m_table->editRow(), -1);
    }
}

void ChannelTableTest::editorOpensWithoutGroupSeparator()
{
    m_table->setCellText(1, 0, QStringLiteral("1,234.5"));
    QLineEdit* editor = openEditor(1, 0);
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("1234.5"));
    QCOMPARE(m_table->editRow(), 1);
    QCOMPARE(m_table->editColumn(), 0);
}

void ChannelTableTest::refreshLeavesEditedCellAlone()
{
    QLineEdit* editor = openEditor(1, 0);
    QVERIFY(editor);
    editor->setText(QStringLiteral("77"));
    for (int column = 0; column < 6; ++column)
        m_table->setCellText(1, column, QStringLiteral("refreshed"));
    m_table->setCellText(2, 0, QStringLiteral("refreshed"));
    QCOMPARE(m_table->item(1, 0)->text(), QStringLiteral("10.5"));
    QCOMPARE(editor->text(), QStringLiteral("77"));
    for (int column = 1; column < 6; ++column)
        QCOMPARE(m_table->item(1, column)->text(), QStringLiteral("refreshed"));
    QCOMPARE(m_table->item(2, 0)->text(), QStringLiteral("refreshed"));
}

void ChannelTableTest::commitEmitsCellDataChanged()
{
    QSignalSpy spy(m_table, &ChannelTable::cellDataChanged);
    QLineEdit* editor = openEditor(3, ChannelTable::ColumnCurrentSet);
    QVERIFY(editor);
    editor->setText(QStringLiteral("0.25"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 3);
    QCOMPARE(spy.at(0).at(1).toInt(), int(ChannelTable::ColumnCurrentSet));
    QCOMPARE(spy.at(0).at(2).toString(), QStringLiteral("0.25"));
    // After the editor closed the cell refreshes again.
    QCOMPARE(m_table->editRow(), -1);
    m_table->setCellText(3, ChannelTable::ColumnCurrentSet, QStringLiteral("0.200"));
    QCOMPARE(m_table->item(3, ChannelTable::ColumnCurrentSet)->text(), QStringLiteral("0.200"));
}

void ChannelTableTest::escapeDiscardsEdit()
{
    QSignalSpy spy(m_table, &ChannelTable::cellDataChanged);
    QLineEdit* editor = openEditor(0, 0);
    QVERIFY(editor);
    editor->setText(QStringLiteral("999"));
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!m_table->isEditing());
    QCOMPARE(spy.count(), 0);
    QCOMPARE(m_table->editRow(), -1);
    m_table->setCellText(0, 0, QStringLiteral("5.0"));
    QCOMPARE(m_table->item(0, 0)->text(), QStringLiteral("5.0"));
}

void ChannelTableTest::selectedRowsOncePerRow()
{
    // A whole row selected is one channel: a command on it must run once, not once per cell.
    m_table->clearSelection();
    QVERIFY(!m_table->hasMultipleSelection());
    m_table->setCurrentCell(2, 0, QItemSelectionModel::Select);
    m_table->setCurrentCell(2, 4, QItemSelectionModel::Select);
    QVERIFY(!m_table->hasMultipleSelection());
    QCOMPARE(m_table->selectedRows(), (QList<int>{2}));
    m_table->setCurrentCell(0, 1, QItemSelectionModel::Select);
    QVERIFY(m_table->hasMultipleSelection());
    QCOMPARE(m_table->selectedRows(), (QList<int>{0, 2}));
}

void ChannelTableTest::programChangesAreNotTheOperators()
{
    m_table->clearSelection();
    m_table->setCurrentCell(5, 0);
    QSignalSpy changes(m_table, &QTableWidget::itemSelectionChanged);
    bool sawProgram = true;
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
        [&] { sawProgram = sawProgram && m_table->changingByProgram(); });
    m_table->blankCells();
    m_table->showSelection({1, 3}, 3);
    QVERIFY(changes.count() > 0);
    QVERIFY(sawProgram);
    QCOMPARE(m_table->selectedRows(), (QList<int>{1, 3}));
    QCOMPARE(m_table->currentRow(), 3);
    QVERIFY(!m_table->changingByProgram());
    // The operator's own change is not flagged.
    m_table->setCurrentCell(3, 0);
    QVERIFY(!m_table->changingByProgram());
    QCOMPARE(m_table->selectedRows(), (QList<int>{3}));
}

QTEST_MAIN(ChannelTableTest)
#include "ChannelTableTest.moc"
