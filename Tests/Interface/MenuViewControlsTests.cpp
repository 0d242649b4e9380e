#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include "QuibHost/Panel/MenuActions.hpp"
#include "QuibHost/Panel/MenuControls.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "Tests/Interface/PanelPictures.hpp"

namespace quib {
namespace {

using testing::panelFor;

QuibTarget target(std::string id, std::string name) {
    QuibTarget made;
    made.id = std::move(id);
    made.name = std::move(name);
    return made;
}

// The index of the first item of `kind` in the section, whose text is `text` when given.
std::size_t indexOf(const MenuView& view, MenuSection section, MenuItemKind kind, std::string_view text = {}) {
    const auto& items = view.model().section(section)->items;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].kind == kind && (text.empty() || items[i].text == text)) return i;
    return items.size();
}

// The picker shows the saved targets, no selection for an active target that is no row, and
// only the user's choosing acts, with that row's id.
TEST(MenuView, ThePickerChoosesATargetByItsRow) {
    MenuViewState state;
    state.targets = {target("T1", "Editor"), target("T2", "build")};
    state.unresolvedTargetIDs = {"T2"};
    state.activeTargetID = "gone";
    auto view = panelFor(state);
    std::vector<MenuAction> acted;
    view->setActionHandler([&](const MenuAction& action) { acted.push_back(action); });
    auto* picker = qobject_cast<QComboBox*>(
        view->itemWidget(MenuSection::target, indexOf(*view, MenuSection::target, MenuItemKind::picker)));
    ASSERT_NE(picker, nullptr);
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(1), "build (pane missing)");
    EXPECT_EQ(picker->currentIndex(), -1);
    EXPECT_EQ(picker->currentText(), "");

    state.activeTargetID = "T1";
    view->present(buildMenuView(state));
    EXPECT_EQ(picker->currentIndex(), 0);
    EXPECT_TRUE(acted.empty());  // the model's selection is shown, never acted on
    picker->activated(1);
    EXPECT_EQ(acted, (std::vector<MenuAction>{MenuControl::UseTarget{"T2"}}));
}

// The switches show the host state; the busy indicator turns while remote reach works; the
// install hint draws its command as code.
TEST(MenuView, TheSwitchesTheBusyIndicatorAndTheHintFollowTheModel) {
    MenuViewState state;
    state.injectionPaused = true;
    state.audioAllowed = false;
    state.awayEnabled = true;
    state.reachStatus = {RemoteReachService::Status::Kind::working, ""};
    auto view = panelFor(state);
    auto toggle = [&](MenuSection section, std::string_view text) {
        return qobject_cast<QCheckBox*>(view->itemWidget(section, indexOf(*view, section, MenuItemKind::toggle, text)));
    };
    EXPECT_TRUE(toggle(MenuSection::controls, "Pause injection")->isChecked());
    EXPECT_FALSE(toggle(MenuSection::controls, "Let phones listen")->isChecked());
    EXPECT_TRUE(toggle(MenuSection::away, "Reachable on cellular")->isChecked());
    QWidget* busy = view->itemWidget(MenuSection::away, indexOf(*view, MenuSection::away, MenuItemKind::progress));
    ASSERT_NE(busy, nullptr);
    EXPECT_TRUE(busy->isVisibleTo(view.get()));
    // It moves while the panel is shown.
    view->show();
    const QImage before = busy->grab().toImage();
    QElapsedTimer waited;
    waited.start();
    bool moved = false;
    while (!moved && waited.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        moved = busy->grab().toImage() != before;
    }
    EXPECT_TRUE(moved) << "the busy indicator stood still";
    view->hide();

    auto* hint = qobject_cast<QLabel*>(
        view->itemWidget(MenuSection::controls, indexOf(*view, MenuSection::controls, MenuItemKind::markdown)));
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->textFormat(), Qt::MarkdownText);
    EXPECT_EQ(hint->text().toStdString(), MenuControls::installHint());

    state.injectionPaused = false;
    state.reachStatus = {RemoteReachService::Status::Kind::reachable, ""};
    view->present(buildMenuView(state));
    EXPECT_FALSE(toggle(MenuSection::controls, "Pause injection")->isChecked());
    EXPECT_EQ(indexOf(*view, MenuSection::away, MenuItemKind::progress),
              view->model().section(MenuSection::away)->items.size());
    EXPECT_FALSE(busy->isVisibleTo(view.get()));

    // Clicking a switch acts from the position it showed.
    std::vector<MenuAction> acted;
    view->setActionHandler([&](const MenuAction& action) { acted.push_back(action); });
    toggle(MenuSection::controls, "Pause injection")->click();
    EXPECT_EQ(acted, (std::vector<MenuAction>{MenuControl::SetInjectionPaused{true}}));
}

// Quit asks the application to end through the action given to the panel's actions, once; the
// test's application goes on.
TEST(MenuView, QuitCallsTheGivenQuitActionOnce) {
    int quits = 0;
    auto actions = std::make_shared<MenuActions>(MenuActions::Config{.quit = [&] { ++quits; }});
    auto view = panelFor(MenuViewState{});
    view->setActionHandler([&](const MenuAction& action) { actions->perform(action); });
    auto* quit = qobject_cast<QPushButton*>(
        view->itemWidget(MenuSection::controls, indexOf(*view, MenuSection::controls, MenuItemKind::button, "Quit")));
    ASSERT_NE(quit, nullptr);
    quit->click();
    EXPECT_EQ(quits, 1);
}

}  // namespace
}  // namespace quib
