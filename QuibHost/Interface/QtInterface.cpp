#include "QuibHost/Interface/QtInterface.hpp"

#include <QApplication>
#include <QPointer>

#include <vector>

#include "QuibHost/Interface/MenuBarItem.hpp"
#include "QuibHost/Interface/QtMainExecutor.hpp"
#include "QuibHost/Interface/SettingsView.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

struct QtInterface::Parts {
    // The application keeps pointers into its arguments for its whole life.
    std::vector<std::string> arguments;
    std::vector<char*> argv;
    int argc = 0;
    std::unique_ptr<QApplication> application;
    std::shared_ptr<QtMainExecutor> executor;
    std::shared_ptr<MenuViewModelSource> source;
    Subscription shown;  // the item shows the model for as long as it lives
    std::unique_ptr<MenuBarItem> item;
    // Deletes itself when closed.
    QPointer<SettingsView> settings;
};

QtInterface::QtInterface(Passkey) : parts_(std::make_unique<Parts>()) {}

std::unique_ptr<QtInterface> QtInterface::start(const std::string& programName) {
    auto shell = std::make_unique<QtInterface>(Passkey{});
    auto& parts = *shell->parts_;
    // The display the backends drive is the one in $DISPLAY, which the xcb platform opens.
    const std::string name(windowClass);
    parts.arguments = {programName, "-platform", "xcb", "-name", name};
    for (auto& argument : parts.arguments) parts.argv.push_back(argument.data());
    parts.argv.push_back(nullptr);
    parts.argc = static_cast<int>(parts.arguments.size());
    QCoreApplication::setApplicationName(QString::fromStdString(name));
    QGuiApplication::setDesktopFileName(QString::fromStdString(name));
    parts.application = std::make_unique<QApplication>(parts.argc, parts.argv.data());
    // The panel's window hides when closed; the host ends only on a signal.
    QApplication::setQuitOnLastWindowClosed(false);
    parts.executor = std::make_shared<QtMainExecutor>();
    return shell;
}

QtInterface::~QtInterface() { close(); }

std::shared_ptr<Executor> QtInterface::executor() const { return parts_->executor; }

void QtInterface::showPanel(std::shared_ptr<MenuViewModelSource> source, std::shared_ptr<MenuActions> actions) {
    auto& parts = *parts_;
    parts.source = std::move(source);
    parts.shown = parts.source->show();
    parts.item = std::make_unique<MenuBarItem>(MenuBarItem::Config{
        .model = &parts.source->model(),
        .perform = [actions = std::move(actions)](const MenuAction& action) { actions->perform(action); },
        .appeared =
            [weak = std::weak_ptr<MenuViewModelSource>(parts.source)] {
                if (auto source = weak.lock()) source->appeared();
            }});
    quibLog().info(parts.item->inTray() ? "interface: panel in the tray" : "interface: panel in a window (no tray)");
}

void QtInterface::bringUpPanel() {
    if (parts_->item) parts_->item->show();
}

void QtInterface::showSettings(std::shared_ptr<SettingsActions> actions, const std::optional<std::string>& select) {
    auto& parts = *parts_;
    if (!parts.settings) parts.settings = new SettingsView(std::move(actions), MenuStyle::ofApplication());
    if (select) parts.settings->select({*select});
    parts.settings->show();
    parts.settings->raise();
    parts.settings->activateWindow();
}

void QtInterface::exec() { QApplication::exec(); }

void QtInterface::quit() {
    parts_->executor->post([] { QCoreApplication::quit(); });
}

void QtInterface::close() {
    auto& parts = *parts_;
    if (parts.executor) parts.executor->close();
    parts.item.reset();
    parts.shown.reset();
    delete parts.settings.data();
    parts.source.reset();
    parts.application.reset();
}

}  // namespace quib
