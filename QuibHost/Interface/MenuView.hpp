#pragma once

#include <QRect>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "QuibHost/Interface/MenuStyle.hpp"
#include "QuibHost/Panel/MenuAction.hpp"
#include "QuibHost/Panel/MenuViewModel.hpp"

class QScrollArea;
class QVBoxLayout;

namespace quib {

// The panel's widgets, drawn from the panel's model and from nothing else: every text, symbol,
// tone and control comes from the model, and the widget makes no text of its own. A new model
// updates the widgets in place: items are matched by their kind and key, so a section whose
// rows stay the same keeps every widget (an open picker stays open, a selection stays), and one
// whose rows change keeps the widgets of the rows that remain. The panel is as tall as its
// column, but never taller than its height limit (by default the available height of its
// screen): past it, the column scrolls.
class MenuView final : public QWidget {
public:
    explicit MenuView(MenuStyle style, QWidget* parent = nullptr);
    ~MenuView() override;

    void present(const MenuViewModel& model);
    const MenuViewModel& model() const { return model_; }

    // Called with the action of each control the user works.
    void setActionHandler(std::function<void(const MenuAction&)> handler) { onAction_ = std::move(handler); }
    // Called each time the panel is shown.
    void setAppearedHandler(std::function<void()> handler) { onAppeared_ = std::move(handler); }

    // The widget of the item at `index` of the section, and where it is drawn in this widget's
    // coordinates; none (an empty rectangle) when the section or item is not shown.
    QWidget* itemWidget(MenuSection section, std::size_t index) const;
    QRect itemGeometry(MenuSection section, std::size_t index) const;

    // The most the panel may take of its screen's height; none: the screen's available height.
    void setHeightLimit(std::optional<int> limit);
    // The column's whole height, as it would be drawn unscrolled.
    int contentHeight() const;
    QScrollArea& scrollArea() const { return *scroll_; }
    // Scrolls the column until the widget is in view.
    void scrollTo(QWidget& widget);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class SectionView;

    void arrange();
    void fit();
    void act(const MenuAction& action);
    void pressDefault();

    MenuStyle style_;
    QScrollArea* scroll_ = nullptr;  // a child of this widget
    QWidget* content_ = nullptr;     // the scroll area's widget
    QVBoxLayout* column_ = nullptr;  // the content's layout
    std::optional<int> heightLimit_;
    std::map<MenuSection, std::unique_ptr<SectionView>> sections_;
    MenuViewModel model_;
    std::function<void(const MenuAction&)> onAction_;
    std::function<void()> onAppeared_;
};

}  // namespace quib
