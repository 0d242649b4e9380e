#include "QuibHost/Interface/MenuView.hpp"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include <set>

#include "QuibHost/App/ViewModels/MenuFrame.hpp"
#include "Tests/Interface/PanelPictures.hpp"

namespace quib {
namespace {

using testing::headerDotColour;
using testing::panelFor;

std::set<std::string> labelTexts(const QWidget& view) {
    std::set<std::string> texts;
    for (const QLabel* label : view.findChildren<QLabel*>())
        if (!label->text().isEmpty()) texts.insert(label->text().toStdString());
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
    for (const QLabel* label : view->findChildren<QLabel*>()) EXPECT_EQ(label->textFormat(), Qt::PlainText);

    // A control's "&" stays an ampersand rather than marking a shortcut.
    MenuViewModel model = view->model();
    MenuItem button;
    button.kind = MenuItemKind::button;
    button.text = "Open Privacy & Security…";
    button.action = MenuControl::RotatePairingCode{};
    model.sections.push_back({MenuSection::controls, {button}, false});
    view->present(model);
    const auto buttons = view->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), "Open Privacy && Security…");
    EXPECT_EQ(view->width(), 300);
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

}  // namespace
}  // namespace quib
