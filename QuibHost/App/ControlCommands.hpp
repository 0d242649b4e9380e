#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "QuibHost/App/ControlSocket.hpp"
#include "QuibHost/App/TargetEditorCommands.hpp"
#include "QuibHost/Approvals/PushSender.hpp"
#include "QuibHost/Panel/HostState.hpp"
#include "QuibHost/Panel/MenuActions.hpp"
#include "QuibHost/Panel/MenuViewModelSource.hpp"
#include "QuibHost/Panel/SettingsActions.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Targets/AttachmentInbox.hpp"
#include "QuibHost/Targets/DeliveryLog.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Published.hpp"

namespace quib {

// The panel's actions as control-socket requests (`QUIB_CONTROL_COMMANDS` lists the commands and
// names each one's handler here). Each request is carried out on the main executor through the
// panel's own actions, as a button of the panel would be, and answered with JSON lines; the last
// line holds "ok": true, or "error" with a sentence for the user.
//
//   {"command":"status"}                 the host's state
//   {"command":"devices"}                connected phones (waiting or approved), approved phones
//                                        not connected, revoked phones
//   {"command":"approve","device":ID}    approve a waiting or revoked phone
//   {"command":"revoke","device":ID}     revoke an approved phone
//   {"command":"code"}                   the pairing code; with "rotate": true a new one
//   {"command":"pause"} / {"command":"resume"}   the injection pause
//   {"command":"away","enabled":BOOL}    switch away access on or off
//   {"command":"away"}                   away access as "away": status, the blocked reason,
//                                        detail and the reason phones are given when there are
//                                        any, and the candidates (display, reach, via) in order
//   {"command":"away","retry":true}      try mapping and discovery again
//   {"command":"listen","enabled":BOOL}  let phones listen to this computer, or stop them
//   {"command":"watch"}                  then one {"activity": text} line per activity, until
//                                        the client leaves
//   {"command":"targets"}                the saved targets in order, then the provisional ones,
//                                        with the shortcut profiles they resolve to, the
//                                        active, unresolved and provisional ones marked
//   {"command":"targets","remove":[ID, ...]}
//                                        remove these saved targets (all of them, or none when
//                                        one is not saved), as the settings window's minus
//   {"command":"targets","add":true}     the settings window's plus: a new target, as "id"
//   {"command":"targets","move":[OFFSET, ...],"to":N}
//                                        drag these rows of the list to before row N
//   {"command":"refresh"}                list the tmux panes again and point the tmux targets
//                                        at them
//   {"command":"use","target":ID}        make a saved target the active one
//   {"command":"reveal","item":"log"}    make the delivery log when missing, show it, and
//                                        answer its path (or why the desktop showed nothing)
//   {"command":"reveal","item":"inbox"}  likewise the folder of uploaded images
//   {"command":"requests"}               the agents' requests waiting for an answer, oldest
//                                        first, with the whole seconds each has left
//   {"command":"answer","request":ID,"decision":"approve"|"deny"}
//                                        answer a waiting request as this computer
//   {"command":"push"}                   the push relay's status line as "summary": "Not set
//                                        up", "No phones registered", the last failure, or
//                                        how many phones are registered
//   {"command":"panel"}                  the panel as it appears, as "lines" (MenuDump)
//   {"command":"show","item":"panel"}    show the panel on the display
//   {"command":"settings","select":[ID, ...]}
//                                        the settings window for that selection, as "lines"
//                                        (SettingsDump)
//   {"command":"show","item":"settings","select":ID}
//                                        show the settings window, that row selected
//   {"command":"target","target":ID,...} the target editor (TargetEditorCommands)
//   {"command":"login-item","change":"on"|"off"|"status"}
//                                        start the installed host at login, or stop it; the
//                                        host run from elsewhere is refused with how to install it
//   {"command":"quit"}                   end the host, as the panel's Quit
class ControlCommands : public std::enable_shared_from_this<ControlCommands> {
public:
    struct Config {
        std::shared_ptr<Executor> main;
        std::shared_ptr<HostState> state;
        std::shared_ptr<DeviceRegistry> registry;
        std::shared_ptr<HostServer> server;
        std::shared_ptr<TargetStoreService> store;
        // The panel's actions (required).
        std::shared_ptr<MenuActions> actions = nullptr;
        // The panel's model; none: the panel cannot be printed.
        std::shared_ptr<MenuViewModelSource> panel = nullptr;
        // The settings window's actions (required).
        std::shared_ptr<SettingsActions> settings = nullptr;
        // The target editor's commands; none: targets cannot be edited here.
        std::shared_ptr<TargetEditorCommands> editor = nullptr;
        // What the status says of the desktop session; none: nothing.
        std::optional<std::string> sessionCaveat = std::nullopt;
    };

    static std::shared_ptr<ControlCommands> create(Config config);

    // Socket thread: hands the request to the main executor.
    void handle(const Json& request, std::shared_ptr<ControlSocket::Reply> reply);
    // Main executor: carries the request out.
    void run(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);

    // How many clients are watching the activity now (main executor).
    std::size_t watcherCount() const { return watchers_.size(); }

    // Main executor: how the panel is brought up on the display; none: there is no display.
    void setPanelShower(std::function<void()> show) { showPanel_ = std::move(show); }

private:
    struct Passkey {};

public:
    ControlCommands(Passkey, Config config);

private:
    struct Handler;

    // The handlers that QUIB_CONTROL_COMMANDS names, one a command.
    void status(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void devices(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void approve(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void revoke(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void code(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void pause(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void resume(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void watch(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void targets(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void target(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void refresh(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void use(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void reveal(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void away(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void listen(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void loginItem(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void requests(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void answer(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void push(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void panel(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void settings(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void show(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void open(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
    void quit(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);

    Json hostStatus() const;
    Json deviceRows() const;
    void changeApproval(bool approved, const Json& request, ControlSocket::Reply& reply);
    void approveDevice(const std::string& deviceID, ControlSocket::Reply& reply);
    void revokeDevice(const std::string& deviceID, ControlSocket::Reply& reply);
    std::optional<std::string> nameOf(const std::string& deviceID, bool connectedOrRevokedOnly) const;
    void setPaused(bool paused, ControlSocket::Reply& reply);
    void watchRequests(std::vector<Subscription>& subscriptions, const std::function<void(std::string)>& say);
    Json targetRows() const;
    void removeTargets(const Json& ids, ControlSocket::Reply& reply);
    void addTarget(ControlSocket::Reply& reply);
    void moveTargets(const Json& request, ControlSocket::Reply& reply);
    void switchAway(bool enabled, ControlSocket::Reply& reply);
    Json awayState() const;
    void retryAway(ControlSocket::Reply& reply);
    void allowListening(bool allowed, ControlSocket::Reply& reply);
    Json requestRows() const;

    Config config_;
    std::shared_ptr<MenuActions> actions_;
    std::shared_ptr<SettingsActions> settings_;
    std::function<void()> showPanel_;
    std::map<std::uint64_t, std::vector<Subscription>> watchers_;
    std::uint64_t nextWatcher_ = 0;
};

}  // namespace quib
