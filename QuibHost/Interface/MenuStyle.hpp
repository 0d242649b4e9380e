#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include "QuibHost/Panel/MenuViewModel.hpp"

namespace quib {

// The panel's one style table: lengths (one point is one device-independent pixel), the text
// styles, scaled from the application font in the platform's proportions (body 13, headline 13
// bold, title-2 17, title-3 15, caption and caption-2 10), and the tones.
class MenuStyle {
public:
    static constexpr int width = 300;
    static constexpr int padding = 14;
    static constexpr int sectionSpacing = 12;
    static constexpr int dotSize = 8;
    static constexpr int fillRadius = 8;
    static constexpr int fillPadding = 8;  // inside a banner or a card
    static constexpr int fillSpacing = 6;  // between its lines
    // The width of the text inside a card.
    static constexpr int cardTextWidth = width - 2 * padding - 2 * fillPadding;

    // How a section spaces its lines, the items of one line, and the items stacked within a line.
    struct Spacing {
        int lines;
        int items;
        int stacked;
    };

    MenuStyle(QFont applicationFont, QPalette palette);
    // The application's own font and palette.
    static MenuStyle ofApplication();

    QFont font(TextStyle style) const;
    QColor colour(Tone tone) const;
    // The fills behind a banner and behind an approval card.
    QColor bannerFill() const;
    QColor cardFill() const;
    QColor fill(Fill fill) const;
    static Spacing spacing(MenuSection section);

private:
    QFont scaled(QFont font, double size) const;

    QFont base_;
    QPalette palette_;
};

}  // namespace quib
