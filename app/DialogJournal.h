#pragma once

#include "device/WriteJournal.h"

#include <QDateTime>
#include <QDialog>
#include <QVector>

class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;

// "Journal": the latest lines of the write journal, newest first, filtered by channel and by
// result (every result, "ok", or refused). Refused writes are shown in red. While visible it
// reads the journal again whenever the file changed (also lines of other programs, such as the
// script runner), so a write appears within a second.
class DialogJournal : public QDialog
{
    Q_OBJECT
public:
    // Lines read from the journal at most.
    static constexpr int shownLines = 2000;
    static constexpr int reloadIntervalMs = 500;

    explicit DialogJournal(const WriteJournal& journal, QWidget* parent = nullptr);

    // Reads the journal again and shows it through the filters.
    void reload();
    // Rows of the table (after the filters).
    int shownRowCount() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void reloadWhenChanged();
    void applyFilters();
    // Channel filter entries from the lines read, keeping the current choice.
    void updateChannelChoices();

    const WriteJournal& m_journal;
    QVector<JournalLine> m_lines; // newest first
    QDateTime m_readModified;
    qint64 m_readSize = -1;
    QComboBox* m_channelFilter;
    QComboBox* m_resultFilter;
    QTableWidget* m_table;
    QLabel* m_fileLabel;
    QTimer* m_reloadTimer;
};
