#pragma once

#include <QCoreApplication>

#include <memory>
#include <vector>

#include "QuibHost/Interface/MenuStyle.hpp"
#include "QuibHost/Interface/QtMainExecutor.hpp"
#include "QuibHost/Interface/SettingsView.hpp"
#include "Tests/Support/SettingsHost.hpp"

namespace quib::testing {

// The real store on Qt's event loop, and a settings window on it, laid out but not shown.
struct SettingsWindow {
    explicit SettingsWindow(const std::vector<QuibTarget>& saved = {})
        : host(saved, executor, [] { QCoreApplication::sendPostedEvents(); }),
          view(std::make_unique<SettingsView>(host.actions, MenuStyle::ofApplication())) {
        view->ensurePolished();
    }
    ~SettingsWindow() { view.reset(); }

    std::shared_ptr<QtMainExecutor> executor = std::make_shared<QtMainExecutor>();
    SettingsHost host;
    std::unique_ptr<SettingsView> view;
};

}  // namespace quib::testing
