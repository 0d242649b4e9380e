#include "QuibHost/Interface/MenuBarItem.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>

#include <functional>

#include "QuibHost/Interface/QtMainExecutor.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "Tests/Interface/PanelPictures.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib {
namespace {

using namespace quib::testing;

// Runs the event loop until `done`, for at most `ms` milliseconds.
bool pumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done()) return true;
    }
    return done();
}

void pump(int ms) {
    (void)pumpUntil([] { return false; }, ms);
}

QImage screenPicture() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

// The panel model, and the panel item that shows it.
struct Panel {
    explicit Panel(int requests)
        : model(executor, buildMenuView(withRequests(requests))),
          item({.model = &model, .perform = [](const MenuAction&) {}, .appeared = [] {}}) {}

    std::shared_ptr<QtMainExecutor> executor = std::make_shared<QtMainExecutor>();
    Published<MenuViewModel> model;
    MenuBarItem item;
};

std::size_t quitIndex(const MenuView& view) {
    const auto& items = view.model().section(MenuSection::controls)->items;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].text == "Quit") return i;
    return items.size();
}

// Without a tray, requests that arrive while the window is open never make it taller than the
// screen's available height, frame and all, and "Quit" is still reached by scrolling.
TEST(MenuBarItemOnX11, ThePanelWindowKeepsInsideTheScreenAndScrolls) {
    QUIB_REQUIRE_TEST_DISPLAY();
    Panel panel(1);
    ASSERT_FALSE(panel.item.inTray()) << "the test display has a tray";
    MenuView& view = panel.item.view();
    ASSERT_TRUE(pumpUntil([&] { return view.isVisible(); }, 3000));
    pump(300);
    panel.model.set(buildMenuView(withRequests(8)));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    pumpUntil([&] { return view.frameGeometry() != view.geometry() && area.contains(view.frameGeometry()); }, 3000);
    pump(300);
    EXPECT_GT(view.contentHeight(), area.height()) << "too few requests to fill the screen";
    EXPECT_LE(view.frameGeometry().height(), area.height());
    EXPECT_TRUE(area.contains(view.frameGeometry()))
        << view.frameGeometry().y() << "+" << view.frameGeometry().height() << " in " << area.height();
    saveArtifact(screenPicture(), "x11-panel-window-many-requests");

    QWidget* quit = view.itemWidget(MenuSection::controls, quitIndex(view));
    ASSERT_NE(quit, nullptr);
    view.scrollTo(*quit);
    pump(100);
    const QWidget* viewport = view.scrollArea().viewport();
    EXPECT_TRUE(viewport->rect().contains(QRect(quit->mapTo(viewport, QPoint(0, 0)), quit->size())));
    saveArtifact(screenPicture(), "x11-panel-window-scrolled-to-quit");
    view.hide();
}

}  // namespace
}  // namespace quib
