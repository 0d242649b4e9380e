#include "QuibHost/Interface/MenuBarItem.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>

#include <algorithm>

#include "QuibHost/Interface/SymbolTable.hpp"

namespace quib {
namespace {

// The point that puts a panel of `size` beside `anchor` inside `area`: above it when the
// anchor lies in the lower half of the area, below it otherwise.
QPoint besideAnchor(const QRect& anchor, const QSize& size, const QRect& area) {
    const bool lower = anchor.center().y() > area.center().y();
    QPoint at(anchor.left(), lower ? anchor.top() - size.height() : anchor.bottom() + 1);
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - size.width() + 1)));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - size.height() + 1)));
    return at;
}

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
    model_ = config_.model->subscribe([this](const MenuViewModel& model) { present(model); });
    if (tray_) tray_->show();
    else placeWindow();
}

MenuBarItem::~MenuBarItem() {
    model_.reset();
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

// Beside the icon, or at the pointer when the tray does not say where the icon is.
void MenuBarItem::placePopup() {
    view_->adjustSize();
    const QRect anchor = tray_->geometry();
    const QPoint pointer = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(anchor.isEmpty() ? pointer : anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(pointer, view_->size());
    view_->move(besideAnchor(anchor.isEmpty() ? QRect(pointer, QSize(1, 1)) : anchor, view_->size(), area));
}

void MenuBarItem::placeWindow() {
    view_->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        view_->move(area.right() - view_->width() + 1, area.top());
    }
    view_->show();
}

}  // namespace quib
