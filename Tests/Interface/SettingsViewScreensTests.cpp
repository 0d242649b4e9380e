#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>
#include <QToolButton>

#include "Tests/Interface/PanelPictures.hpp"
#include "Tests/Interface/SettingsWindow.hpp"

namespace quib {
namespace {

using testing::compareWithReference;
using testing::saveArtifact;
using testing::SettingsWindow;

QImage pictureOf(QWidget& view) { return view.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

// How many pixels of the area are of the warning's orange, give or take antialiasing.
int orangePixels(const QImage& picture, QRect area) {
    const qreal scale = picture.devicePixelRatio();
    int found = 0;
    for (int y = static_cast<int>(area.top() * scale); y <= static_cast<int>(area.bottom() * scale); ++y) {
        for (int x = static_cast<int>(area.left() * scale); x <= static_cast<int>(area.right() * scale); ++x) {
            const QColor seen = picture.pixelColor(x, y);
            found += seen.red() > 220 && seen.green() > 110 && seen.green() < 180 && seen.blue() < 60;
        }
    }
    return found;
}

TEST(SettingsViewScreens, WithoutTargetsShowsThePlaceholder) {
    SettingsWindow window;
    auto& view = *window.view;
    const QImage picture = pictureOf(view);
    EXPECT_EQ(picture.size() / picture.devicePixelRatio(), QSize(640, 460));
    EXPECT_FALSE(view.removeButton().isEnabled());
    EXPECT_EQ(view.countLabel().text(), "0 targets");
    EXPECT_EQ(view.detail(), view.placeholder());
    EXPECT_EQ(compareWithReference(picture, "settings-empty"), "");
}

// Three targets, the second one's pane gone, the first selected: the orange warning is drawn in
// the second row only.
TEST(SettingsViewScreens, AGonePaneIsWarnedOfInItsRowOnly) {
    std::vector<QuibTarget> three(3);
    for (auto& [t, id, name] : std::vector<std::tuple<QuibTarget*, std::string, std::string>>{
             {&three[0], "A", "Editor"}, {&three[1], "B", "Agent (work)"}, {&three[2], "C", "Browser"}}) {
        t->id = id;
        t->name = name;
        t->kind = QuibTarget::Kind::app;
        t->symbol = "app.dashed";
    }
    three[1].kind = QuibTarget::Kind::tmux;
    three[1].tmuxTarget = "%9";
    SettingsWindow window(three);
    auto& view = *window.view;
    window.host.onMain([&] { window.host.actions->appear(); });
    window.host.settle();
    view.select({"A"});
    ASSERT_TRUE(view.model().rows[1].unresolved);
    EXPECT_EQ(static_cast<QLabel*>(view.detail())->text(), "Editor");

    const QImage picture = pictureOf(view);
    EXPECT_EQ(compareWithReference(picture, "settings-list"), "");
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const QRect area = view.list().visualItemRect(view.list().item(row));
        const QRect inView(view.list().viewport()->mapTo(&view, area.topLeft()), area.size());
        if (row == 1) EXPECT_GT(orangePixels(picture, inView), 20);
        else EXPECT_EQ(orangePixels(picture, inView), 0);
    }
}

// A name wider than the list is cut with an ellipsis, the list does not scroll sideways, and a
// gone pane's warning stays at the list's visible right edge.
TEST(SettingsViewScreens, ALongNameIsCutAndTheWarningStaysInView) {
    std::vector<QuibTarget> two(2);
    two[0].id = "A";
    two[0].name = "A pane whose name is far wider than the list of targets could ever show";
    two[0].kind = QuibTarget::Kind::tmux;
    two[0].tmuxTarget = "%9";
    two[0].symbol = "terminal";
    two[1].id = "B";
    two[1].name = "Editor";
    two[1].symbol = "chevron.left.forwardslash.chevron.right";
    SettingsWindow window(two);
    auto& view = *window.view;
    window.host.onMain([&] { window.host.actions->appear(); });
    window.host.settle();
    view.select({"B"});
    ASSERT_TRUE(view.model().rows[0].unresolved);

    const QImage picture = pictureOf(view);
    saveArtifact(picture, "settings-long-name");
    auto& list = view.list();
    EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0) << "the list scrolls sideways";
    QWidget* viewport = list.viewport();
    const QRect row = list.visualItemRect(list.item(0));
    EXPECT_LE(row.right(), viewport->width() - 1) << "the row is wider than the list";
    const QRect rightEdge(viewport->mapTo(&view, QPoint(viewport->width() - 30, row.top())), QSize(30, row.height()));
    EXPECT_GT(orangePixels(picture, rightEdge), 20) << "the warning is not at the list's right edge";
}

}  // namespace
}  // namespace quib
