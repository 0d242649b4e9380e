#include "QuibHost/Interface/MenuView.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <set>

#include "QuibHost/Panel/MenuBanners.hpp"
#include "QuibHost/Panel/MenuControls.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "Tests/Interface/PanelPictures.hpp"

namespace quib {
namespace {

using testing::headerDotColour;
using testing::panelFor;

// The texts of the labels and of the buttons, as they read on the screen.
std::set<std::string> labelTexts(const QWidget& view) {
    std::set<std::string> texts;
    for (const QLabel* label : view.findChildren<QLabel*>())
        if (!label->text().isEmpty()) texts.insert(label->text().toStdString());
    for (const QAbstractButton* button : view.findChildren<QAbstractButton*>())
        if (!button->text().isEmpty()) texts.insert(button->text().replace("&&", "&").toStdString());
    return texts;
}

std::set<std::string> modelTexts(const MenuViewModel& model) {
    std::set<std::string> texts;
    for (const auto& section : model.sections)
        for (const auto& item : section.items)
            if (!item.text.empty() && item.kind != MenuItemKind::symbol) texts.insert(item.text);
    return texts;
}

// The widget shows the model's texts and nothing else, as the characters they are, 300 wide.
TEST(MenuView, ShowsExactlyTheModelsTextsAsTheyAre) {
    MenuViewState state;
    state.isListening = true;
    state.hostDisplayName = "<b>Ann</b> & Co";
    auto view = panelFor(state);
    EXPECT_EQ(view->width(), 300);
    EXPECT_EQ(labelTexts(*view), modelTexts(view->model()));
    EXPECT_TRUE(labelTexts(*view).contains("Listening as <b>Ann</b> & Co"));
    // The install hint alone is Markdown, so that its command shows as code.
    for (const QLabel* label : view->findChildren<QLabel*>()) {
        const bool hint = label->text().toStdString() == MenuControls::installHint();
        EXPECT_EQ(label->textFormat(), hint ? Qt::MarkdownText : Qt::PlainText) << label->text().toStdString();
    }

    // Each banner's button reads whole, as the model words it.
    int banners = 0;
    for (const QPushButton* button : view->findChildren<QPushButton*>())
        banners += button->text().toStdString() == MenuBanners::openSettings ? 1 : 0;
    EXPECT_EQ(banners, 2);
}

// A new model updates the widgets in place: the header's label stays the same widget, and the
// dot turns red.
TEST(MenuView, ANewModelUpdatesTheSameWidgets) {
    MenuViewState state;
    state.isListening = true;
    state.hostDisplayName = "Studio";
    auto view = panelFor(state);
    QWidget* caption = view->itemWidget(MenuSection::header, 2);
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(qobject_cast<QLabel*>(caption)->text(), "Listening as Studio");
    EXPECT_EQ(headerDotColour(*view), MenuStyle::ofApplication().colour(Tone::green));

    state.isListening = false;
    view->present(buildMenuView(state));
    EXPECT_EQ(view->itemWidget(MenuSection::header, 2), caption);
    EXPECT_EQ(qobject_cast<QLabel*>(caption)->text(), "Not listening");
    EXPECT_EQ(headerDotColour(*view), MenuStyle::ofApplication().colour(Tone::red));
}

// The controls' actions, as the panel hands them out.
struct Worked {
    explicit Worked(MenuView& view) {
        view.setActionHandler([this](const MenuAction& action) { actions.push_back(action); });
    }
    std::vector<MenuAction> actions;
};

// Clicking each button of the devices performs the button's own action; the code can be
// selected and the rotate button says what it does.
TEST(MenuView, EachButtonPerformsItsAction) {
    MenuViewState state;
    state.pairingCode = "KX7P2M";
    state.connectedDevices = {{"W-1", "Ada's phone", false, false}, {"A-1", "Pad", true, true}};
    state.approvedDevices = {{"A-1", "Pad", {}}, {"A-2", "Tab", {}}};
    state.revokedDevices = {{"X-1", "Old", {}}};
    auto view = panelFor(state);
    Worked worked(*view);
    std::vector<MenuAction> expected;
    for (const auto id : {MenuSection::devices, MenuSection::pairing}) {
        const auto& items = view->model().section(id)->items;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].kind != MenuItemKind::button) continue;
            auto* button = qobject_cast<QPushButton*>(view->itemWidget(id, i));
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->isFlat(), items[i].borderless);
            button->click();
            expected.push_back(*items[i].action);
        }
    }
    EXPECT_EQ(expected.size(), 5u);
    EXPECT_EQ(worked.actions, expected);
    EXPECT_EQ(worked.actions.back(), MenuAction(MenuControl::RotatePairingCode{}));

    auto* code = qobject_cast<QLabel*>(view->itemWidget(MenuSection::pairing, 1));
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->text(), "KX7P2M");
    EXPECT_TRUE(code->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(view->itemWidget(MenuSection::pairing, 2)->toolTip(),
              "Rotate the code and disconnect every paired phone");
}

ApprovalRequest asking(std::string id, std::string detail) {
    ApprovalRequest request;
    request.id = std::move(id);
    request.targetName = "Claude";
    request.title = "Run a command";
    request.detail = std::move(detail);
    return request;
}

// Return approves the first card; a detail cut to its four lines is copied whole.
TEST(MenuView, ReturnApprovesTheFirstCardAndCopyingADetailTakesItWhole) {
    std::string detail;
    for (int line = 1; line <= 10; ++line) detail += "line " + std::to_string(line) + " of a long command\n";
    detail += "the end";
    MenuViewState state;
    state.pendingApprovals = {asking("R-1", "ls"), asking("R-2", detail), asking("R-3", "pwd")};
    auto view = panelFor(state);
    Worked worked(*view);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &enter);
    EXPECT_EQ(worked.actions, (std::vector<MenuAction>{MenuControl::AnswerRequest{"R-1", ApprovalDecision::approve}}));

    // The second card's detail: the title, then five items a card.
    auto* shown = qobject_cast<QLabel*>(view->itemWidget(MenuSection::approvals, 1 + 5 + 1));
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->text().startsWith("line 1 "));
    EXPECT_TRUE(shown->text().endsWith("the end"));
    EXPECT_TRUE(shown->text().contains("…"));
    EXPECT_LE(shown->text().count('\n'), 3);
    EXPECT_TRUE(shown->textInteractionFlags() & Qt::TextSelectableByMouse);
    QApplication::clipboard()->clear();
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(shown, &copy);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), detail);

    // The middle request answered: its card goes, and the last one's widgets move up.
    QWidget* lastDetail = view->itemWidget(MenuSection::approvals, 1 + 10 + 1);
    state.pendingApprovals.erase(state.pendingApprovals.begin() + 1);
    view->present(buildMenuView(state));
    EXPECT_EQ(view->itemWidget(MenuSection::approvals, 1 + 5 + 1), lastDetail);
    EXPECT_EQ(qobject_cast<QLabel*>(lastDetail)->text(), "pwd");
    EXPECT_EQ(view->itemWidget(MenuSection::approvals, 1 + 10 + 1), nullptr);
    QApplication::sendEvent(view.get(), &enter);
    EXPECT_EQ(worked.actions.back(), MenuAction(MenuControl::AnswerRequest{"R-1", ApprovalDecision::approve}));
}

}  // namespace
}  // namespace quib
