#include "scripting/ScriptOutputModel.h"

ScriptOutputModel::ScriptOutputModel(int maxLines, QObject* parent)
    : QAbstractListModel(parent)
    , m_maxLines(maxLines)
{
}

void ScriptOutputModel::append(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const qsizetype take = qMin<qsizetype>(lines.size(), m_maxLines);
    const qsizetype excess = qsizetype(m_lines.size()) + take - m_maxLines;
    if (excess > 0) {
        // Rows leave at the top: one reset, which a view with uniform rows takes at no cost.
        beginResetModel();
        for (qsizetype i = 0; i < excess; ++i)
            m_lines.pop_front();
        for (qsizetype i = lines.size() - take; i < lines.size(); ++i)
            m_lines.push_back(lines.at(i));
        endResetModel();
        return;
    }
    const int first = int(m_lines.size());
    beginInsertRows(QModelIndex(), first, first + int(take) - 1);
    for (qsizetype i = lines.size() - take; i < lines.size(); ++i)
        m_lines.push_back(lines.at(i));
    endInsertRows();
}

void ScriptOutputModel::clear()
{
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

QString ScriptOutputModel::text() const
{
    QStringList lines;
    lines.reserve(qsizetype(m_lines.size()));
    for (const QString& line : m_lines)
        lines.append(line);
    return lines.join(QLatin1Char('\n'));
}

int ScriptOutputModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant ScriptOutputModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_lines.size()))
        return QVariant();
    return m_lines.at(size_t(index.row()));
}
