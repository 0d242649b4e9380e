#pragma once

#include <QRect>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>

#include "QuibHost/Panel/MenuAction.hpp"
#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Interface/MenuStyle.hpp"

class QVBoxLayout;

namespace quib {

// The panel's widgets, drawn from the panel's model and from nothing else: every text, symbol,
// tone and control comes from the model, and the widget makes no text of its own. A new model
// updates the widgets in place: items are matched by their kind and key, so a section whose
// rows stay the same keeps every widget (an open picker stays open, a selection stays), and one
// whose rows change keeps the widgets of the rows that remain.
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

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class SectionView;

    void arrange();
    void act(const MenuAction& action);
    void pressDefault();

    MenuStyle style_;
    QVBoxLayout* column_;  // this widget's layout
    std::map<MenuSection, std::unique_ptr<SectionView>> sections_;
    MenuViewModel model_;
    std::function<void(const MenuAction&)> onAction_;
    std::function<void()> onAppeared_;
};

}  // namespace quib
