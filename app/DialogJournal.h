#pragma once

#include "device/WriteJournal.h"

#include <QDateTime>
#include <QDialog>
#include <QVector>

class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;

// "Journal": the latest writes of the write journal, newest first, filtered by channel and by
// result (every result, "ok", or not ok). A write's "sent" line and its result line are one
// row (the time it was sent, its result); a "sent" line without a result (the program ended
// while the write was in flight) reads "sent (no result recorded)". Refused writes and gap lines
// are shown in red. While visible it reads the journal again whenever the file changed (also
// lines of other programs, such as the script runner), so a write appears within a second. A
// red banner above the table stays while this program's journal cannot be written.
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
    // The result shown for a "sent" line whose result line is not in the journal.
    static QString noResultText() { return tr("sent (no result recorded)"); }

    // The lines read as the rows show them: each result line folded into its "sent" line (which
    // takes the result), oldest first.
    static QVector<JournalLine> pairedLines(const QVector<JournalLine>& lines);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void reloadWhenChanged();
    void showFailure();
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
    QLabel* m_failureBanner;
    QTimer* m_reloadTimer;
};
