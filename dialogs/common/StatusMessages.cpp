#include "dialogs/common/StatusMessages.h"

#include "dialogs/common/PaletteColours.h"

#include <QStatusBar>
#include <QVariant>

namespace {
// Dynamic property on the status bar holding the kind of the message shown.
constexpr const char* kindProperty = "tesmarMessageKind";
} // namespace

namespace StatusMessages {

void show(QStatusBar* bar, Kind kind, const QString& text, int timeoutMs)
{
    if (!bar)
        return;
    bar->setProperty(kindProperty, int(kind));
    // QStatusBar draws its temporary message in its own text colour. A style sheet with a type
    // selector colours only the bar itself: the permanent labels in it keep their colours (a
    // palette set on the bar would reach them as well).
    const QString style = kind == Kind::Error
        ? QStringLiteral("QStatusBar { color: %1; }").arg(PaletteColours::errorText(bar->window()->palette()).name())
        : QString();
    if (bar->styleSheet() != style)
        bar->setStyleSheet(style);
    bar->showMessage(text, timeoutMs);
}

Kind shownKind(const QStatusBar* bar)
{
    if (!bar || bar->currentMessage().isEmpty())
        return Kind::Note;
    return Kind(bar->property(kindProperty).toInt());
}

} // namespace StatusMessages
