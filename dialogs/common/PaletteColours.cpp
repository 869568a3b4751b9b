#include "dialogs/common/PaletteColours.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

#include <algorithm>

namespace {
// Perceived brightness 0..255 (ITU-R BT.601 weights) rather than HSL lightness: pure green and
// yellow look bright, pure red and blue do not.
int brightness(const QColor& colour)
{
    return (299 * colour.red() + 587 * colour.green() + 114 * colour.blue()) / 1000;
}
} // namespace

namespace PaletteColours {

bool isDark(const QPalette& palette)
{
    return brightness(palette.color(QPalette::Window)) < 128;
}

QColor errorText(const QPalette& palette)
{
    // Pure red is too dark on a dark background, a light red too pale on a light one.
    return isDark(palette) ? QColor(255, 110, 110) : QColor(200, 0, 0);
}

QColor textOn(const QColor& background)
{
    return brightness(background) >= 140 ? QColor(Qt::black) : QColor(Qt::white);
}

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(45, 45, 48);
    const QColor base(30, 30, 32);
    const QColor text(230, 230, 230);
    const QColor disabledText(130, 130, 130);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(40, 40, 43));
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, QColor(255, 110, 110));
    palette.setColor(QPalette::Light, QColor(70, 70, 74));
    palette.setColor(QPalette::Midlight, QColor(60, 60, 64));
    palette.setColor(QPalette::Mid, QColor(38, 38, 40));
    palette.setColor(QPalette::Dark, QColor(20, 20, 22));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(100, 170, 255));
    palette.setColor(QPalette::LinkVisited, QColor(170, 140, 255));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    return palette;
}

void applyFromEnvironment()
{
    if (qEnvironmentVariable("TESMAR_PALETTE").compare(QLatin1String("dark"), Qt::CaseInsensitive) != 0)
        return;
    // The desktop's style may draw with its own light colours; Fusion draws with the palette.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
}

QColor readable(const QColor& colour, bool darkBackground)
{
    // Lightness is changed in small steps until the colour is bright enough (or dark enough):
    // hue and saturation stay, so the channels keep telling apart.
    QColor adjusted = colour.toHsl();
    const int step = darkBackground ? 8 : -8;
    for (int k = 0; k < 32; ++k) {
        const int b = brightness(adjusted);
        if (darkBackground ? b >= 130 : b <= 170)
            break;
        const int lightness = std::clamp(adjusted.lightness() + step, 0, 255);
        adjusted = QColor::fromHsl(adjusted.hslHue(), adjusted.hslSaturation(), lightness);
    }
    return adjusted.toRgb();
}

} // namespace PaletteColours
