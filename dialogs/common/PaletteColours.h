#pragma once

#include <QColor>

class QPalette;

// Colours that read on the palette the window has: the desktop's light palette as well as a
// dark one. Fixed colours (status cells, channel colours) are adjusted here rather than chosen
// per window.
namespace PaletteColours {
// True for a dark window background.
bool isDark(const QPalette& palette);
// A red for error texts that reads on the palette's window background.
QColor errorText(const QPalette& palette);
// Black or white, whichever reads better on `background`.
QColor textOn(const QColor& background);
// The program's own dark palette, for TESMAR_PALETTE=dark on a desktop without a dark theme.
QPalette darkPalette();
// Applies TESMAR_PALETTE from the environment to the application: "dark" gives the Fusion style
// with darkPalette(); anything else (or nothing) keeps the desktop's palette.
void applyFromEnvironment();
// `colour` as a text or line colour on a background of the given darkness: dark colours (navy,
// dark red, black) are lightened on a dark background, light ones darkened on a light one.
QColor readable(const QColor& colour, bool darkBackground);
} // namespace PaletteColours
