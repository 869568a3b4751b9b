#include "OverviewItemDelegate.h"

#include "DialogOverview.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

namespace {
constexpr int rightMarginPx = 3;
constexpr int middleGapPx = 4;
} // namespace

void OverviewItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    const QRect cell = option.rect;
    if (option.state & QStyle::State_Selected) {
        QLinearGradient gradient(cell.topLeft(), cell.bottomLeft());
        gradient.setColorAt(0, QColor(119, 213, 247));
        gradient.setColorAt(0.9, QColor(27, 134, 183));
        gradient.setColorAt(1, QColor(0, 120, 174));
        painter->fillRect(cell, gradient);
    } else {
        painter->fillRect(cell, option.palette.color(index.row() % 2 == 0 ? QPalette::Base : QPalette::AlternateBase));
    }

    const QVariant foreground = index.data(Qt::ForegroundRole);
    painter->setPen(
        foreground.canConvert<QBrush>() ? foreground.value<QBrush>().color() : option.palette.color(QPalette::Text));
    painter->setFont(option.font);
    const QString text = index.data(Qt::DisplayRole).toString();
    const QString second = index.data(DialogOverview::currentTextRole).toString();
    const int flags = Qt::AlignRight | Qt::AlignVCenter;
    if (second.isEmpty()) {
        painter->drawText(cell.adjusted(0, 0, -rightMarginPx, 0), flags, text);
    } else {
        // The voltage ends before the middle; in a narrow column where it would not fit there,
        // it ends just before the current instead of being cut off.
        const QFontMetrics metrics(option.font);
        QRect left = cell;
        left.setRight(cell.left() + cell.width() / 2 - middleGapPx);
        if (metrics.horizontalAdvance(text) > left.width())
            left.setRight(cell.right() - rightMarginPx - metrics.horizontalAdvance(second) - middleGapPx);
        painter->drawText(left, flags, text);
        painter->drawText(cell.adjusted(0, 0, -rightMarginPx, 0), flags, second);
    }
    painter->restore();
}
