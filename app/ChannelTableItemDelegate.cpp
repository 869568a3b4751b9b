#include "ChannelTableItemDelegate.h"

#include <QKeyEvent>

ChannelTableItemDelegate::ChannelTableItemDelegate(QObject* parent)
    : QItemDelegate(parent)
{
}

void ChannelTableItemDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    QItemDelegate::setModelData(editor, model, index);
    emit dataEntered(index.row(), index.column(), model->data(index, Qt::EditRole).toString());
}

bool ChannelTableItemDelegate::eventFilter(QObject* object, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        emit dataDiscarded();
    return QItemDelegate::eventFilter(object, event);
}
