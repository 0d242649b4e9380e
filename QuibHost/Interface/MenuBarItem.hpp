#pragma once

#include <functional>
#include <memory>
#include <string>

#include "QuibHost/Interface/MenuView.hpp"
#include "QuibHost/Panel/MenuAction.hpp"
#include "QuibHost/Panel/MenuViewModel.hpp"
#include "Runtime/Published.hpp"

class QSystemTrayIcon;
class QObject;

namespace quib {

// The host's item on the desktop: a tray icon that opens the panel as a popup beside it when
// the desktop has a tray (looked for once, when the item is made), else the panel as a plain
// window, shown at once at the top right of the primary screen without taking the keyboard
// focus from whatever has it; closing that window only hides it. Either stays inside its
// screen's available area as the panel grows. The panel draws the model it
// is given, says each time it appears, and hands its controls' actions on. Both windows carry
// the application's window class, which names the host itself, so the host never offers its
// panel as an app.
class MenuBarItem {
public:
    struct Config {
        // The panel's model, published on the main thread; it outlives the item.
        Published<MenuViewModel>* model = nullptr;
        // What a control of the panel does, and what the panel's appearing asks for.
        std::function<void(const MenuAction&)> perform = nullptr;
        std::function<void()> appeared = nullptr;
    };

    // Main thread, with the application made.
    explicit MenuBarItem(Config config);
    ~MenuBarItem();
    MenuBarItem(const MenuBarItem&) = delete;
    MenuBarItem& operator=(const MenuBarItem&) = delete;

    bool inTray() const { return tray_ != nullptr; }
    // The popup beside the icon, or the window again.
    void show();
    // A click on the icon: the popup opens, or closes when open.
    void toggle();

    MenuView& view() { return *view_; }
    QSystemTrayIcon* trayIcon() { return tray_.get(); }

    // Where a panel of `size` goes beside `anchor` inside `area`: above it when the anchor lies
    // in the lower half of the area, below it otherwise, moved inside the area.
    static QPoint besideAnchor(const QRect& anchor, const QSize& size, const QRect& area);

private:
    void present(const MenuViewModel& model);
    QRect anchor() const;
    QRect availableArea() const;
    void placePopup();
    void placeWindow();
    void fit();

    Config config_;
    std::unique_ptr<MenuView> view_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::string traySymbol_;
    std::unique_ptr<QObject> watch_;
    bool fitting_ = false;
    Subscription model_;
};

}  // namespace quib
