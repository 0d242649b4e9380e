#include "QuibHost/Interface/SettingsView.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QPointer>
#include <QSplitter>
#include <QToolButton>
#include <QToolTip>

#include "Tests/Interface/SettingsWindow.hpp"

namespace quib {
namespace {

using testing::SettingsWindow;

QuibTarget target(const std::string& id, QuibTarget::Kind kind = QuibTarget::Kind::app) {
    QuibTarget t;
    t.id = id;
    t.name = "Target " + id;
    t.kind = kind;
    if (kind == QuibTarget::Kind::tmux) t.tmuxTarget = "%9";
    return t;
}

const std::vector<QuibTarget> four{target("A"), target("B"), target("C"), target("D")};

std::vector<std::string> rows(SettingsView& view) {
    std::vector<std::string> names;
    for (int row = 0; row < view.list().count(); ++row) names.push_back(view.list().item(row)->text().toStdString());
    return names;
}

// A fixed window of 640 × 460 whose panes never get narrower than 210 and 340, destroyed when
// closed.
TEST(SettingsView, IsAFixedWindowWhosePanesKeepTheirMinimumWidths) {
    SettingsWindow window(four);
    auto& view = *window.view;
    EXPECT_EQ(view.size(), QSize(640, 460));
    EXPECT_EQ(view.minimumSize(), view.maximumSize());
    EXPECT_EQ(view.windowTitle(), "Quib Settings");
    EXPECT_TRUE(view.testAttribute(Qt::WA_DeleteOnClose));
    auto* splitter = view.findChild<QSplitter*>();
    ASSERT_TRUE(splitter);
    view.show();
    for (const QList<int>& asked : {QList<int>{0, 640}, QList<int>{640, 0}}) {
        splitter->setSizes(asked);
        EXPECT_GE(splitter->widget(0)->width(), 210);
        EXPECT_GE(splitter->widget(1)->width(), 340);
    }
    view.hide();
}

// A new window selects nothing; picking rows enables "minus" and shows the current row's
// target; "minus" removes the whole selection and the placeholder comes back; "plus" adds and
// selects "New target".
TEST(SettingsView, SelectsNothingAtFirstAndItsButtonsActOnTheSelection) {
    SettingsWindow window(four);
    auto& view = *window.view;
    EXPECT_TRUE(view.selection().empty());
    EXPECT_FALSE(view.removeButton().isEnabled());
    EXPECT_EQ(view.detail(), view.placeholder());
    EXPECT_EQ(view.countLabel().text(), "4 targets");

    view.list().item(1)->setSelected(true);
    view.list().item(3)->setSelected(true);
    view.list().setCurrentItem(view.list().item(3), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(view.selection(), (std::set<std::string>{"B", "D"}));
    EXPECT_TRUE(view.removeButton().isEnabled());
    EXPECT_EQ(static_cast<QLabel*>(view.detail())->text(), "Target D");

    view.removeButton().click();
    EXPECT_EQ(rows(view), (std::vector<std::string>{"Target A", "Target C"}));
    EXPECT_TRUE(view.selection().empty());
    EXPECT_FALSE(view.removeButton().isEnabled());
    EXPECT_EQ(view.detail(), view.placeholder());

    view.addButton().click();
    ASSERT_EQ(window.host.store->targets().value().size(), 3u);
    const std::string added = window.host.store->targets().value().back().id;
    EXPECT_EQ(view.selection(), std::set<std::string>{added});
    EXPECT_TRUE(view.list().item(2)->isSelected());
    EXPECT_EQ(static_cast<QLabel*>(view.detail())->text(), "New target");
    EXPECT_EQ(view.countLabel().text(), "3 targets");

    // Closed, it is gone; the next one starts without a selection.
    QPointer<SettingsView> closing = window.view.release();
    closing->show();
    closing->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull());
    window.view = std::make_unique<SettingsView>(window.host.actions, MenuStyle::ofApplication());
    EXPECT_TRUE(window.view->selection().empty());
}

// A drop, as the list's model carries it out, is stored, and the list redraws from the store.
TEST(SettingsView, AMoveOfTheListsRowsReordersTheStore) {
    SettingsWindow window(four);
    auto& view = *window.view;
    ASSERT_TRUE(view.list().model()->moveRows(QModelIndex(), 0, 1, QModelIndex(), 3));
    EXPECT_EQ(window.host.ids(), (std::vector<std::string>{"B", "C", "A", "D"}));
    window.host.pump();
    EXPECT_EQ(rows(view), (std::vector<std::string>{"Target B", "Target C", "Target A", "Target D"}));
    const Json stored = window.host.stored();
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_EQ(stored[0]["id"], "B");
}

// Each showing lists the panes again; the gone pane's row then carries the warning, whose
// hover help is its own.
TEST(SettingsView, EachShowingListsThePanesAndAGonePaneIsWarnedOf) {
    SettingsWindow window({target("A"), target("P", QuibTarget::Kind::tmux)});
    auto& view = *window.view;
    view.show();
    window.host.settle();
    view.hide();
    view.show();
    window.host.settle();
    EXPECT_EQ(*window.host.listings, 2);
    ASSERT_TRUE(view.model().rows[1].unresolved);

    const QRect row = view.list().visualItemRect(view.list().item(1));
    const QPoint warning(row.right() - 12, row.center().y());
    QHelpEvent help(QEvent::ToolTip, warning, view.list().viewport()->mapToGlobal(warning));
    QApplication::sendEvent(view.list().viewport(), &help);
    EXPECT_EQ(QToolTip::text(), "This pane is no longer running. Pick another one.");
    QToolTip::hideText();
    view.hide();
}

}  // namespace
}  // namespace quib
