#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringList>

#include <deque>

// The script console's output: the latest maxLines lines, one row each, shown by a list view
// that lays out only the rows in sight. Appending a batch costs in proportion to the batch, never
// to what is kept, so a script that prints without pause cannot stall the window.
class ScriptOutputModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit ScriptOutputModel(int maxLines, QObject* parent = nullptr);

    // Appends `lines`; the oldest lines beyond the maximum are dropped.
    void append(const QStringList& lines);
    void clear();
    // Every kept line, joined with line feeds.
    QString text() const;
    int lineCount() const { return int(m_lines.size()); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const int m_maxLines;
    std::deque<QString> m_lines;
};
