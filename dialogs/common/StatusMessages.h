#pragma once

#include <QString>

class QStatusBar;

// Temporary status-bar messages in two kinds: an error (a refused or failed command, something the
// operator has to act on) in red, and a note (a success, "nothing was changed") in the window's
// normal text colour. Every temporary message of the program goes through here, so only errors
// are red. Colours come from the palette, so both read on a light and on a dark palette.
namespace StatusMessages {
enum class Kind { Note, Error };

inline constexpr int defaultShownMs = 8000;

void show(QStatusBar* bar, Kind kind, const QString& text, int timeoutMs = defaultShownMs);
inline void showError(QStatusBar* bar, const QString& text, int timeoutMs = defaultShownMs)
{
    show(bar, Kind::Error, text, timeoutMs);
}
inline void showNote(QStatusBar* bar, const QString& text, int timeoutMs = defaultShownMs)
{
    show(bar, Kind::Note, text, timeoutMs);
}
// The kind of the message shown now (Note when none is shown).
Kind shownKind(const QStatusBar* bar);

} // namespace StatusMessages
