#pragma once

#include <memory>

#include "QuibHost/App/ControlCommands.hpp"
#include "QuibHost/Panel/SettingsActions.hpp"

namespace quib::testing {

// Control commands over the panel's `actions` and the settings window's actions on `store`, as
// the host makes them, without a panel to print or a target editor.
inline std::shared_ptr<ControlCommands> testControlCommands(std::shared_ptr<Executor> main,
                                                            std::shared_ptr<HostState> state,
                                                            std::shared_ptr<DeviceRegistry> registry,
                                                            std::shared_ptr<HostServer> server,
                                                            std::shared_ptr<TargetStoreService> store,
                                                            std::shared_ptr<MenuActions> actions) {
    auto settings = std::make_shared<SettingsActions>(SettingsActions::Config{.store = store});
    return ControlCommands::create({.main = std::move(main),
                                    .state = std::move(state),
                                    .registry = std::move(registry),
                                    .server = std::move(server),
                                    .store = std::move(store),
                                    .actions = std::move(actions),
                                    .settings = std::move(settings)});
}

}  // namespace quib::testing
