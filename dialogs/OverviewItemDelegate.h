#pragma once

#include <QItemDelegate>

// Paints the overview's cells: plain or alternating background, and either one right-aligned
// text or, with a second text in role DialogOverview::currentTextRole, the voltage in the left
// half (further right when it does not fit there) and the current at the right edge.
class OverviewItemDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    using QItemDelegate::QItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
