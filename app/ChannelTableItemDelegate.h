#pragma once

#include <QItemDelegate>

// Editor delegate of the channel table. It reports a committed edit with the cell's position
// and text, so the main window can write the typed value into the module, and reports an edit
// cancelled with Escape.
class ChannelTableItemDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    explicit ChannelTableItemDelegate(QObject* parent = nullptr);

    // Stores the editor's text into the model first, then emits dataEntered with the cell's
    // edit-role text.
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

signals:
    void dataEntered(int row, int column, QString data) const;
    void dataDiscarded() const;

protected:
    bool eventFilter(QObject* object, QEvent* event) override;
};
