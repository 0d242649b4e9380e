#include "QuibHost/Interface/MenuBarItem.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>

#include <QEvent>

#include <algorithm>

#include "QuibHost/Interface/SymbolTable.hpp"

namespace quib {
namespace {

// Calls `changed` after each resize or move of the widget it watches.
class GeometryWatch final : public QObject {
public:
    GeometryWatch(QWidget& watched, std::function<void()> changed) : changed_(std::move(changed)) {
        watched.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move) changed_();
        return false;
    }

private:
    std::function<void()> changed_;
};

}  // namespace

MenuBarItem::MenuBarItem(Config config)
    : config_(std::move(config)), view_(std::make_unique<MenuView>(MenuStyle::ofApplication())) {
    view_->setActionHandler(config_.perform);
    view_->setAppearedHandler(config_.appeared);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        view_->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
        // Other trays may replay the press that closed the popup as a new click on the icon.
        view_->setAttribute(Qt::WA_NoMouseReplay);
        QObject::connect(tray_.get(), &QSystemTrayIcon::activated, view_.get(),
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) toggle();
                         });
    } else {
        view_->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    watch_ = std::make_unique<GeometryWatch>(*view_, [this] { fit(); });
    model_ = config_.model->subscribe([this](const MenuViewModel& model) { present(model); });
    if (tray_) tray_->show();
    else placeWindow();
}

MenuBarItem::~MenuBarItem() {
    model_.reset();
    watch_.reset();
    tray_.reset();
    view_.reset();
}

void MenuBarItem::present(const MenuViewModel& model) {
    view_->present(model);
    if (tray_ && model.menuBarSymbol != traySymbol_) {
        traySymbol_ = model.menuBarSymbol;
        tray_->setIcon(SymbolTable::icon(traySymbol_, *view_->style()));
    }
}

void MenuBarItem::show() {
    if (!tray_) {
        view_->show();
        view_->raise();
        return;
    }
    placePopup();
    view_->show();
}

void MenuBarItem::toggle() {
    if (tray_ && view_->isVisible()) view_->hide();
    else show();
}

QPoint MenuBarItem::besideAnchor(const QRect& anchor, const QSize& size, const QRect& area) {
    const bool lower = anchor.center().y() > area.center().y();
    QPoint at(anchor.left(), lower ? anchor.top() - size.height() : anchor.bottom() + 1);
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - size.width() + 1)));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - size.height() + 1)));
    return at;
}

QRect MenuBarItem::anchor() const {
    const QRect icon = tray_ ? tray_->geometry() : QRect();
    return icon.isEmpty() ? QRect(QCursor::pos(), QSize(1, 1)) : icon;
}

// The popup's screen is the icon's, the window's the primary one.
QRect MenuBarItem::availableArea() const {
    QScreen* screen = tray_ ? QGuiApplication::screenAt(anchor().center()) : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(QPoint(0, 0), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

// Beside the icon, or at the pointer when the tray does not say where the icon is.
void MenuBarItem::placePopup() {
    const QRect area = availableArea();
    view_->setHeightLimit(area.height());
    view_->move(besideAnchor(anchor(), view_->size(), area));
}

void MenuBarItem::placeWindow() {
    const QRect area = availableArea();
    view_->setHeightLimit(area.height());
    view_->move(area.right() - view_->width() + 1, area.top());
    view_->show();
}

// Whenever the panel's size changes (a new request, a longer text) or the window manager frames
// it, it is fitted into its screen again: a popup is placed beside its icon once more, and a
// window, frame and all, is kept from running off the screen's bottom.
void MenuBarItem::fit() {
    if (fitting_ || !view_->isVisible()) return;
    fitting_ = true;
    const QRect area = availableArea();
    if (tray_) {
        placePopup();
    } else {
        const int frame = std::max(0, view_->frameGeometry().height() - view_->height());
        view_->setHeightLimit(area.height() - frame);
        const QRect framed = view_->frameGeometry();
        QPoint shift(std::min(0, area.right() - framed.right()), std::min(0, area.bottom() - framed.bottom()));
        shift.setX(std::max(shift.x(), area.left() - framed.left()));
        shift.setY(std::max(shift.y(), area.top() - framed.top()));
        if (!shift.isNull()) view_->move(view_->pos() + shift);
    }
    fitting_ = false;
}

}  // namespace quib
