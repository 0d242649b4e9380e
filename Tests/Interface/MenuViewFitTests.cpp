#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "QuibHost/Interface/MenuBarItem.hpp"
#include "QuibHost/Interface/SymbolDrawing.hpp"
#include "QuibHost/Interface/SymbolTable.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "Tests/Interface/PanelPictures.hpp"

namespace quib {
namespace {

using namespace quib::testing;

std::size_t indexOf(const MenuView& view, MenuSection section, MenuItemKind kind, std::string_view text = {}) {
    const auto& items = view.model().section(section)->items;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].kind == kind && (text.empty() || items[i].text == text)) return i;
    return items.size();
}

// Lays the panel out as drawing it does, so that its widgets have their sizes.
void layOut(MenuView& view) { (void)view.grab(); }

// Whether the widget lies wholly inside the scroll area's visible part.
bool inView(const MenuView& view, const QWidget& widget) {
    const QWidget* viewport = view.scrollArea().viewport();
    const QRect where(widget.mapTo(viewport, QPoint(0, 0)), widget.size());
    return viewport->rect().contains(where);
}

// Taller than its limit, the panel scrolls instead: its window keeps to the limit, and the last
// item and the first come into view by scrolling.
TEST(MenuView, NeverTallerThanItsLimitAndEveryItemReachableByScrolling) {
    auto view = panelFor(withRequests(5));
    const int whole = view->contentHeight();
    const int available = view->screen()->availableGeometry().height();
    ASSERT_GT(whole, available);
    view->setHeightLimit(std::nullopt);  // the screen's own
    EXPECT_EQ(view->height(), available);
    view->setHeightLimit(500);
    layOut(*view);
    EXPECT_EQ(view->height(), 500);
    EXPECT_TRUE(view->scrollArea().verticalScrollBar()->isVisibleTo(view.get()));
    EXPECT_GE(view->scrollArea().viewport()->width(), 300) << "the column lost width to the scroll bar";
    saveArtifact(pictureOf(*view), "panel-scrolled-top");

    const auto quit = indexOf(*view, MenuSection::controls, MenuItemKind::button, "Quit");
    QWidget* last = view->itemWidget(MenuSection::controls, quit);
    ASSERT_NE(last, nullptr);
    view->scrollTo(*last);
    EXPECT_TRUE(inView(*view, *last));
    saveArtifact(pictureOf(*view), "panel-scrolled-bottom");
    QWidget* header = view->itemWidget(MenuSection::header, 0);
    view->scrollTo(*header);
    EXPECT_TRUE(inView(*view, *header));

    // With room enough it is as tall as its column and has no scroll bar.
    view->setHeightLimit(whole + 100);
    layOut(*view);
    EXPECT_EQ(view->height(), whole);
    EXPECT_EQ(view->width(), 300);
    EXPECT_FALSE(view->scrollArea().verticalScrollBar()->isVisibleTo(view.get()));
}

// A card's heading that wraps to its two lines gets the height of both.
TEST(MenuView, ATwoLineHeadingIsDrawnWhole) {
    MenuViewState state = withRequests(1);
    state.lastActivity = "Sent 42 characters to Terminal — Request 0 arriving while the panel is open";
    auto view = panelFor(state);
    layOut(*view);
    for (const auto& [section, index] :
         {std::pair{MenuSection::approvals, std::size_t{1}},
          std::pair{MenuSection::target,
                    indexOf(*view, MenuSection::target, MenuItemKind::text, *state.lastActivity)}}) {
        SCOPED_TRACE(std::string(nameOf(section)));
        auto* heading = qobject_cast<QLabel*>(view->itemWidget(section, index));
        ASSERT_NE(heading, nullptr);
        const int twoLines = heading->heightForWidth(heading->width());
        EXPECT_GT(twoLines, QFontMetrics(heading->font()).lineSpacing() * 3 / 2) << "the text does not wrap here";
        EXPECT_GE(heading->height(), twoLines) << "clipped";
    }
    saveArtifact(pictureOf(*view), "panel-two-line-heading");
}

// "Try again" is as wide as its text, as Deny and Approve are, not a bar across the panel.
TEST(MenuView, EveryButtonIsAsWideAsItsText) {
    MenuViewState state = withRequests(1);
    state.awayEnabled = true;
    state.reachStatus = {RemoteReachService::Status::Kind::blocked, "Your router refused to forward a port"};
    auto view = panelFor(state);
    layOut(*view);
    for (const auto& [section, text] :
         {std::pair{MenuSection::away, "Try again"}, std::pair{MenuSection::approvals, "Deny"},
          std::pair{MenuSection::approvals, "Approve"}}) {
        SCOPED_TRACE(text);
        QWidget* button = view->itemWidget(section, indexOf(*view, section, MenuItemKind::button, text));
        ASSERT_NE(button, nullptr);
        EXPECT_LE(button->width(), button->sizeHint().width());
    }
    saveArtifact(pictureOf(*view), "panel-try-again");
}

// Every symbol a panel item, the settings window or a saved target names is drawn; any other
// name gets the neutral picture rather than nothing.
TEST(SymbolTable, DrawsEveryNamedSymbolAndANeutralPictureForAnyOther) {
    const std::vector<std::string> named{"cursorarrow.click",
                                         "cursorarrow.click.badge.clock",
                                         "exclamationmark.triangle.fill",
                                         "rectangle.on.rectangle",
                                         "arrow.triangle.2.circlepath",
                                         "checkmark.circle.fill",
                                         "moon.zzz",
                                         "bell.badge",
                                         "iphone",
                                         "iphone.slash",
                                         "headphones",
                                         "plus",
                                         "minus",
                                         "square.dashed",
                                         "app.dashed",
                                         "app",
                                         "macwindow",
                                         "cursorarrow.rays",
                                         "sparkle",
                                         "terminal",
                                         "chevron.left.forwardslash.chevron.right",
                                         "bubble.left.and.text.bubble.right",
                                         "hammer",
                                         "globe",
                                         "brain"};
    QWidget widget;
    auto drawnPixels = [&](const std::string& symbol) {
        const QImage picture = SymbolTable::icon(symbol, *widget.style()).pixmap(16, 16).toImage();
        int inked = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) inked += picture.pixelColor(x, y).alpha() > 128;
        return inked;
    };
    for (const auto& symbol : named) {
        SCOPED_TRACE(symbol);
        EXPECT_GT(drawnPixels(symbol), 6);
        if (!symbol.starts_with("cursorarrow.click")) {
            EXPECT_TRUE(SymbolDrawing::knows(symbol));
        }
    }
    for (const std::string other : {"star.fill", "", "keyboard"}) {
        SCOPED_TRACE(other);
        EXPECT_FALSE(SymbolDrawing::knows(other));
        EXPECT_GT(drawnPixels(other), 6);
    }
}

// A popup goes beside its anchor and inside the area, however tall it has grown.
TEST(MenuBarItem, PlacesThePopupInsideTheScreenBesideItsAnchor) {
    const QRect area(0, 0, 1920, 1040);
    struct Case {
        QRect anchor;
        QSize size;
        QPoint at;
    };
    const std::vector<Case> cases{
        {{1800, 0, 24, 24}, {300, 600}, {1620, 24}},      // below an icon at the top
        {{1800, 1016, 24, 24}, {300, 600}, {1620, 416}},  // above an icon at the bottom
        {{1800, 0, 24, 24}, {300, 1040}, {1620, 0}},      // grown to the whole height: moved up
        {{1800, 1016, 24, 24}, {300, 1040}, {1620, 0}},  {{10, 500, 24, 24}, {300, 200}, {10, 524}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.anchor.y());
        const QPoint at = MenuBarItem::besideAnchor(c.anchor, c.size, area);
        EXPECT_EQ(at, c.at);
        EXPECT_TRUE(area.contains(QRect(at, c.size)));
    }
}

}  // namespace
}  // namespace quib
