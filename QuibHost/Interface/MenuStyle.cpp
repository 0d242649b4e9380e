#include "QuibHost/Interface/MenuStyle.hpp"

#include <QApplication>
#include <QFontDatabase>

namespace quib {
namespace {

// The sizes of the platform's text styles, against a body of 13.
constexpr double bodySize = 13;

const QColor orange(255, 149, 0);
const QColor green(52, 199, 89);
const QColor red(255, 59, 48);
const QColor yellow(255, 204, 0);

QColor withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(static_cast<float>(opacity));
    return colour;
}

}  // namespace

MenuStyle::MenuStyle(QFont applicationFont, QPalette palette)
    : base_(std::move(applicationFont)), palette_(std::move(palette)) {}

MenuStyle MenuStyle::ofApplication() { return MenuStyle(QApplication::font(), QApplication::palette()); }

QFont MenuStyle::scaled(QFont font, double size) const {
    const double factor = size / bodySize;
    if (base_.pixelSize() > 0) font.setPixelSize(std::max(1, static_cast<int>(base_.pixelSize() * factor + 0.5)));
    else font.setPointSizeF(base_.pointSizeF() * factor);
    return font;
}

QFont MenuStyle::font(TextStyle style) const {
    QFont monospaced = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QFont bold = base_;
    bold.setBold(true);
    switch (style) {
        case TextStyle::body: return base_;
        case TextStyle::headline: return bold;
        case TextStyle::title2: return scaled(base_, 17);
        case TextStyle::title2Monospaced: {
            QFont code = scaled(monospaced, 17);
            code.setLetterSpacing(QFont::AbsoluteSpacing, 4);
            return code;
        }
        case TextStyle::title3: return scaled(base_, 15);
        case TextStyle::caption: return scaled(base_, 10);
        case TextStyle::captionBold: return scaled(bold, 10);
        case TextStyle::caption2: return scaled(base_, 10);
        case TextStyle::caption2Bold: return scaled(bold, 10);
        case TextStyle::caption2Monospaced: return scaled(monospaced, 10);
        case TextStyle::monospaced11: return scaled(monospaced, 11);
        case TextStyle::monospaced10: return scaled(monospaced, 10);
    }
    return base_;
}

QColor MenuStyle::colour(Tone tone) const {
    switch (tone) {
        case Tone::primary: return palette_.color(QPalette::WindowText);
        case Tone::secondary: return palette_.color(QPalette::PlaceholderText);
        case Tone::orange: return orange;
        case Tone::green: return green;
        case Tone::red: return red;
    }
    return palette_.color(QPalette::WindowText);
}

QColor MenuStyle::bannerFill() const { return withOpacity(orange, 0.12); }

QColor MenuStyle::cardFill() const { return withOpacity(yellow, 0.12); }

QColor MenuStyle::fill(Fill fill) const {
    switch (fill) {
        case Fill::none: return Qt::transparent;
        case Fill::banner: return bannerFill();
        case Fill::card: return cardFill();
    }
    return Qt::transparent;
}

MenuStyle::Spacing MenuStyle::spacing(MenuSection section) {
    switch (section) {
        case MenuSection::header: return {8, 8, 1};
        case MenuSection::accessibilityBanner:
        case MenuSection::screenRecordingBanner: return {6, 8, 0};
        case MenuSection::approvals: return {8, 8, 0};
        case MenuSection::pairing: return {4, 6, 0};
        case MenuSection::away: return {6, 5, 2};
        case MenuSection::devices: return {6, 6, 0};
        case MenuSection::target: return {6, 6, 0};
        case MenuSection::controls: return {8, 6, 0};
    }
    return {8, 8, 0};
}

}  // namespace quib
