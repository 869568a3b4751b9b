#pragma once

#include <QTableWidget>

// The channel grid of the main window: one row per channel of the current module.
class ChannelTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit ChannelTable(QWidget* parent = nullptr);

signals:
    // The user committed an edit of a cell; the main window turns the text into a module write.
    void cellDataChanged(int row, int column, QString data);
};
