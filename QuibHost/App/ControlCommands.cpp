#include "QuibHost/App/ControlCommands.hpp"
#include "QuibHost/App/ControlCommand.hpp"
#include "QuibHost/App/TargetLookup.hpp"

#include <algorithm>
#include <set>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "QuibHost/Panel/MenuControls.hpp"
#include "QuibHost/Panel/MenuDump.hpp"
#include "QuibHost/Panel/SettingsDump.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/Required.hpp"
#include "Shared/ApprovalClock.hpp"

namespace quib {
namespace {

constexpr auto stringField = &ControlSocket::stringField;

std::string statusName(RemoteReachService::Status::Kind kind) {
    switch (kind) {
        case RemoteReachService::Status::Kind::blocked: return "blocked";
        case RemoteReachService::Status::Kind::off: return "off";
        case RemoteReachService::Status::Kind::working: return "working";
        case RemoteReachService::Status::Kind::reachable: return "reachable";
    }
    return "off";
}

void putIfSet(Json& object, const char* key, const std::optional<std::string>& value) {
    if (value) object[key] = *value;
}

// The port can be mapped before any phone has its key: the first phone to ask on this network
// then learns the public address with its key. Until then nothing listens on the away port.
std::optional<std::string> awayNote(RemoteReachService& reach) {
    if (!reach.isEnabled() || !reach.listenerKeys().empty()) return std::nullopt;
    return "No approved phone holds an away key yet, so nothing answers on the away port until a phone on this "
           "network asks for away access.";
}

Json deviceRow(const std::string& id, const std::string& name, const char* state, bool connected, bool hearing) {
    return Json{{"id", id}, {"name", name}, {"state", state}, {"connected", connected}, {"hearing", hearing}};
}

std::optional<std::string> nameIn(const DeviceRegistry::DeviceList& list, const std::string& id) {
    const auto found = std::find_if(list.begin(), list.end(), [&](const auto& device) { return device.id == id; });
    return found == list.end() ? std::nullopt : std::optional<std::string>(found->name);
}

std::string unknownDevice(const std::string& id) {
    return "No phone with the identifier " + id + " is connected, approved or revoked.";
}

// A change that holds for now but is not on disk: the tool reports it as a failure, with why.
std::string unsaved(const std::string& done, const Error& why) {
    return done + ", but it could not be saved (" + why.message +
           "); the host keeps trying, and a restart before it succeeds undoes it.";
}

// A command the host does not know, and those it does.
std::string unknownCommand(const std::string& command) {
    return "Unknown command \"" + command + "\"; the host knows " + ControlCommand::knownList() + ".";
}

// Whether each command's rows stand together and name one handler.
template <class Row, std::size_t N>
constexpr bool oneHandlerEach(const Row (&rows)[N]) {
    for (std::size_t i = 1; i < N; ++i) {
        if (rows[i].name == rows[i - 1].name) {
            if (rows[i].run != rows[i - 1].run) return false;
            continue;
        }
        for (std::size_t j = 0; j + 1 < i; ++j)
            if (rows[j].name == rows[i].name) return false;
    }
    return true;
}

}  // namespace

// A control command's handler: the member that carries its requests out.
struct ControlCommands::Handler {
    std::string_view name;
    void (ControlCommands::*run)(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);
};

std::shared_ptr<ControlCommands> ControlCommands::create(Config config) {
    return std::make_shared<ControlCommands>(Passkey{}, std::move(config));
}

ControlCommands::ControlCommands(Passkey, Config config)
    : config_(std::move(config)),
      actions_(required(config_.actions, "ControlCommands", "panel actions")),
      settings_(required(config_.settings, "ControlCommands", "settings actions")) {}

void ControlCommands::handle(const Json& request, std::shared_ptr<ControlSocket::Reply> reply) {
    config_.main->post([weak = weak_from_this(), request, reply = std::move(reply)] {
        if (auto self = weak.lock()) self->run(request, reply);
        else reply->fail("The host is shutting down.");
    });
}

void ControlCommands::run(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
#define QUIB_CONTROL_HANDLER(handler, name, form, does, request) Handler{name, &ControlCommands::handler},
    static constexpr Handler handlers[] = {QUIB_CONTROL_COMMANDS(QUIB_CONTROL_HANDLER)};
#undef QUIB_CONTROL_HANDLER
    static_assert(oneHandlerEach(handlers), "a command's forms stand together and name one handler");

    const std::string command = stringField(request, "command");
    for (const auto& handler : handlers)
        if (handler.name == command) return (this->*handler.run)(request, reply);
    reply->fail(unknownCommand(command));
}

void ControlCommands::status(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    reply->answer(Json{{"status", hostStatus()}});
}

void ControlCommands::devices(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    reply->answer(Json{{"devices", deviceRows()}});
}

void ControlCommands::approve(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    changeApproval(true, request, *reply);
}

void ControlCommands::revoke(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    changeApproval(false, request, *reply);
}

// A phone must be named; approving and revoking say the same when it is not.
void ControlCommands::changeApproval(bool approved, const Json& request, ControlSocket::Reply& reply) {
    const std::string device = stringField(request, "device");
    const std::string command = approved ? "approve" : "revoke";
    if (device.empty()) return reply.fail("Say which phone: " + command + " DEVICE-ID (quibctl devices lists them).");
    if (approved) return approveDevice(device, reply);
    revokeDevice(device, reply);
}

// The settings window's minus, plus and drag, or the list.
void ControlCommands::targets(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    if (request.contains("remove")) return removeTargets(request["remove"], *reply);
    if (request.value("add", Json(false)) == Json(true)) return addTarget(*reply);
    if (request.contains("move")) return moveTargets(request, *reply);
    reply->answer(Json{{"targets", targetRows()}});
}

// Without the editor the host knows no target command.
void ControlCommands::target(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    if (!config_.editor) return reply->fail(unknownCommand("target"));
    config_.editor->run(request, reply);
}

void ControlCommands::away(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    if (request.value("retry", Json(false)) == Json(true)) return retryAway(*reply);
    const auto enabled = request.find("enabled");
    if (enabled == request.end()) return reply->answer(Json{{"away", awayState()}});
    if (!enabled->is_boolean()) return reply->fail("Say whether to switch it on or off: away on|off.");
    switchAway(enabled->get<bool>(), *reply);
}

void ControlCommands::listen(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const auto enabled = request.find("enabled");
    if (enabled == request.end() || !enabled->is_boolean())
        return reply->fail("Say whether phones may listen: listen on|off.");
    allowListening(enabled->get<bool>(), *reply);
}

Json ControlCommands::hostStatus() const {
    auto& server = *config_.server;
    auto& state = *config_.state;
    Json status{{"hostName", server.hostDisplayName()}, {"listening", server.isListening().value()}};
    if (auto port = server.inspect().listenerPort) status["port"] = *port;
    putIfSet(status, "lastError", server.lastError().value());
    status["pairingCode"] = state.pairingCode().value();
    status["injectionPaused"] = state.injectionPaused().value();
    status["audioAllowed"] = state.audioAllowed().value();
    status["accessibilityGranted"] = state.accessibilityGranted().value();
    status["screenRecordingGranted"] = state.screenRecordingGranted().value();
    status["launchAtLogin"] = state.launchAtLogin().value();
    putIfSet(status, "loginItemError", state.loginItemError().value());
    status["connectedDevices"] = server.connectedDevices().value().size();
    putIfSet(status, "lastActivity", server.lastActivity().value());
    putIfSet(status, "session", config_.sessionCaveat);
    putIfSet(status, "awayNote", awayNote(*server.neighbours().reach));
    return status;
}

// As the panel lists them: connected phones in the server's order, then approved phones that
// are not connected and revoked phones, each in the registry's order.
Json ControlCommands::deviceRows() const {
    Json rows = Json::array();
    const auto connected = config_.server->connectedDevices().value();
    for (const auto& device : connected)
        rows.push_back(
            deviceRow(device.id, device.name, device.approved ? "approved" : "waiting", true, device.isHearing));
    for (const auto& device : config_.registry->approved().value()) {
        const bool online =
            std::any_of(connected.begin(), connected.end(), [&](const auto& c) { return c.id == device.id; });
        if (!online) rows.push_back(deviceRow(device.id, device.name, "approved", false, false));
    }
    for (const auto& device : config_.registry->revoked().value())
        rows.push_back(deviceRow(device.id, device.name, "revoked", false, false));
    return rows;
}

// The name as the panel's rows show it: a connected phone's, else a revoked phone's, else (when
// allowed) an approved phone's.
std::optional<std::string> ControlCommands::nameOf(const std::string& deviceID, bool connectedOrRevokedOnly) const {
    for (const auto& device : config_.server->connectedDevices().value())
        if (device.id == deviceID) return device.name;
    if (auto revoked = nameIn(config_.registry->revoked().value(), deviceID)) return revoked;
    if (connectedOrRevokedOnly) return std::nullopt;
    return nameIn(config_.registry->approved().value(), deviceID);
}

void ControlCommands::approveDevice(const std::string& deviceID, ControlSocket::Reply& reply) {
    if (config_.registry->isApproved(deviceID)) {
        const auto name = nameOf(deviceID, false);
        return reply.answer(Json{{"message", name.value_or(deviceID) + " is already approved"}});
    }
    const auto name = nameOf(deviceID, true);
    if (!name) return reply.fail(unknownDevice(deviceID));
    if (const auto saved = actions_->approveDevice(deviceID, *name); !saved)
        return reply.fail(unsaved("Approved " + *name, saved.error()));
    reply.answer(Json{{"message", "Approved " + *name}});
}

void ControlCommands::revokeDevice(const std::string& deviceID, ControlSocket::Reply& reply) {
    const auto name = nameOf(deviceID, false);
    if (!name) return reply.fail(unknownDevice(deviceID));
    if (config_.registry->isRevoked(deviceID)) return reply.fail(*name + " is already revoked.");
    if (!config_.registry->isApproved(deviceID))
        return reply.fail(*name + " is waiting for approval, not approved; there is nothing to revoke.");
    if (const auto saved = actions_->revokeDevice(deviceID); !saved)
        return reply.fail(unsaved("Revoked " + *name, saved.error()));
    reply.answer(Json{{"message", "Revoked " + *name}});
}

void ControlCommands::code(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    Json line;
    if (request.value("rotate", Json(false)) == Json(true)) {
        actions_->rotatePairingCode();
        line["message"] = "New pairing code: " + config_.state->pairingCode().value() +
                          " (every phone was disconnected and must use it; approvals stay)";
    }
    line["pairingCode"] = config_.state->pairingCode().value();
    reply->answer(std::move(line));
}

void ControlCommands::pause(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    setPaused(true, *reply);
}

void ControlCommands::resume(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    setPaused(false, *reply);
}

void ControlCommands::setPaused(bool paused, ControlSocket::Reply& reply) {
    actions_->setInjectionPaused(paused);
    reply.answer(Json{{"injectionPaused", paused},
                      {"message", paused ? "Input from phones is paused" : "Input from phones is on again"}});
}

// As the panel's "Let phones listen" switch.
void ControlCommands::allowListening(bool allowed, ControlSocket::Reply& reply) {
    actions_->setAudioAllowed(allowed);
    reply.answer(Json{{"audioAllowed", allowed}, {"message", allowed ? "Phones may listen" : "Phones may not listen"}});
}

// As the panel's switch (a phone on this network is then handed its key, which joins the
// listener).
void ControlCommands::switchAway(bool enabled, ControlSocket::Reply& reply) {
    actions_->setAwayEnabled(enabled);
    reply.answer(Json{{"awayEnabled", enabled},
                      {"message", enabled ? "Away access is on" : "Away access is off; away connections were closed"}});
}

// As the panel's away section shows it: how away access fares, the technical line, the reason a
// phone would be given, and the ways to reach the host in their order.
Json ControlCommands::awayState() const {
    auto& reach = *config_.server->neighbours().reach;
    const auto status = reach.status().value();
    Json state{{"status", statusName(status.kind)}};
    if (status.kind == RemoteReachService::Status::Kind::blocked) state["reason"] = status.reason;
    putIfSet(state, "note", awayNote(reach));
    putIfSet(state, "detail", reach.detail().value());
    putIfSet(state, "unavailable", reach.payload(std::nullopt, false).unavailable);
    Json candidates = Json::array();
    for (const auto& candidate : reach.candidates().value()) {
        candidates.push_back(Json{{"display", candidate.display()},
                                  {"reach", std::string(enumName(candidate.reach))},
                                  {"via", candidate.via}});
    }
    state["candidates"] = std::move(candidates);
    return state;
}

// As the panel's "Try again".
void ControlCommands::retryAway(ControlSocket::Reply& reply) {
    actions_->retryAway();
    reply.answer(Json{{"message", "Trying again"}});
}

// As the panel shows it: the sender works out the line on its own queue and hands it back here.
void ControlCommands::push(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const bool asked = actions_->pushSummary([reply](std::string summary) {
        reply->answer(Json{{"summary", std::move(summary)}});
    });
    if (!asked) reply->fail("This host has no push sender.");
}

void ControlCommands::watch(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    reply->send(Json{{"ok", true}, {"watching", true}});
    const std::uint64_t id = nextWatcher_++;
    const auto say = [reply](std::string text) { reply->send(Json{{"activity", std::move(text)}}); };
    constexpr SubscribeOptions later{.skipCurrent = true};
    auto& subscriptions = watchers_[id];
    subscriptions.push_back(config_.server->lastActivity().subscribe(
        [say](const std::optional<std::string>& text) {
            if (text) say(*text);
        },
        later));
    subscriptions.push_back(config_.state->injectionPaused().subscribe(
        [say](bool paused) { say(paused ? "Input from phones is paused" : "Input from phones is on again"); }, later));
    subscriptions.push_back(config_.state->pairingCode().subscribe(
        [say](const std::string& code) {
            say("New pairing code: " + code + " (every phone was disconnected and must use it; approvals stay)");
        },
        later));
    if (config_.server->neighbours().approvals) watchRequests(subscriptions, say);
    if (config_.server->neighbours().reach)
        subscriptions.push_back(config_.server->neighbours().reach->status().subscribe(
            [say](const RemoteReachService::Status& status) {
                std::string line = "Away access: " + statusName(status.kind);
                if (status.kind == RemoteReachService::Status::Kind::blocked) line += ": " + status.reason;
                say(std::move(line));
            },
            later));
    reply->setClosedHandler([weak = weak_from_this(), main = config_.main, id] {
        main->post([weak, id] {
            if (auto self = weak.lock()) self->watchers_.erase(id);
        });
    });
}

// A request once when it arrives and once when it ends, with how it ended.
void ControlCommands::watchRequests(std::vector<Subscription>& subscriptions,
                                    const std::function<void(std::string)>& say) {
    auto& approvals = *config_.server->neighbours().approvals;
    subscriptions.push_back(approvals.pendingRequests().subscribe(
        [say, seen = std::make_shared<std::set<std::string>>()](const std::vector<ApprovalRequest>& pending) {
            const std::int64_t now = ApprovalClock::now();
            std::set<std::string> waiting;
            for (const auto& request : pending) {
                waiting.insert(request.id);
                if (seen->contains(request.id)) continue;
                say("Agent request " + request.id + " from " + request.targetName + ": " + request.title + " (" +
                    std::to_string(request.secondsRemaining(now)) + " s left; quibctl answer " + request.id +
                    " approve|deny)");
            }
            *seen = std::move(waiting);
        },
        {.skipCurrent = false}));
    subscriptions.push_back(approvals.lastResolution().subscribe(
        [say](const std::optional<ApprovalResolution>& resolution) {
            if (!resolution) return;
            std::string line = "Agent request " + resolution->requestID + " " +
                               std::string(resolution->decision == ApprovalDecision::approve ? "approved" : "denied");
            if (resolution->byDeviceName) line += " by " + *resolution->byDeviceName;
            if (resolution->reason != ApprovalResolution::Reason::answered)
                line += " (" + std::string(enumName(resolution->reason)) + ")";
            say(std::move(line));
        },
        {.skipCurrent = true}));
}

// As the panel's target section lists them: the saved targets in the user's order, then the
// provisional ones, each with the shortcut profile it resolves to. The pane's program is not
// asked for, so a pane target without a stored profile shows the shell's.
Json ControlCommands::targetRows() const {
    const auto [saved, provisional] = config_.store->snapshot();
    const auto active = config_.store->activeSnapshot();
    const auto unresolved = config_.store->unresolvedSnapshot();
    Json rows = Json::array();
    for (const auto* list : {&saved, &provisional}) {
        for (const auto& target : *list) {
            rows.push_back(Json{{"id", target.id},
                                {"kind", std::string(enumName(target.kind))},
                                {"name", target.name},
                                {"profile", AppIdentity::resolvedProfile(target, std::nullopt).id},
                                {"active", list == &saved && target.id == active},
                                {"unresolved", unresolved.contains(target.id)},
                                {"provisional", list == &provisional}});
        }
    }
    return rows;
}

// As the settings window's minus: every identifier must name a saved target, or nothing is
// removed. The list's save is reported like an approval's.
void ControlCommands::removeTargets(const Json& ids, ControlSocket::Reply& reply) {
    std::set<std::string> chosen;
    std::vector<std::string> names;
    for (const auto& id : ids.is_array() ? ids : Json::array()) {
        if (!id.is_string()) continue;
        const auto target = config_.store->target(id.get<std::string>());
        if (!target) {
            return reply.fail("No saved target has the identifier " + id.get<std::string>() +
                              " (quibctl targets lists them).");
        }
        if (chosen.insert(target->id).second) names.push_back(target->name);
    }
    if (chosen.empty())
        return reply.fail("Say which targets: targets remove TARGET-ID... (quibctl targets lists them).");
    settings_->remove(chosen);
    std::string done = "Removed ";
    for (std::size_t i = 0; i < names.size(); ++i) done += (i ? ", " : "") + names[i];
    config_.server->note(done);
    if (auto why = config_.store->saveFailure()) return reply.fail(unsaved(done, Error{*why}));
    reply.answer(Json{{"message", done}});
}

// As the settings window's plus.
void ControlCommands::addTarget(ControlSocket::Reply& reply) {
    const auto id = settings_->add();
    if (!id) {
        return reply.fail("No target was added: the list holds its most targets (" +
                          std::to_string(TargetStore::mostTargets) + "), or the host's log says why.");
    }
    if (auto why = config_.store->saveFailure()) return reply.fail(unsaved("Added " + *id, Error{*why}));
    reply.answer(Json{{"id", *id}});
}

// As a drag in the settings window: the rows are the offsets of the saved list as `targets`
// prints it, and the destination may be the count (the end).
void ControlCommands::moveTargets(const Json& request, ControlSocket::Reply& reply) {
    const std::size_t count = config_.store->targets().value().size();
    const auto& offsets = request["move"];
    const auto to = request.find("to");
    std::set<std::size_t> sources;
    bool valid = offsets.is_array() && !offsets.empty() && to != request.end() && to->is_number_unsigned() &&
                 to->get<std::uint64_t>() <= count;
    for (const auto& offset : valid ? offsets : Json::array()) {
        valid = valid && offset.is_number_unsigned() && offset.get<std::uint64_t>() < count;
        if (valid) sources.insert(offset.get<std::size_t>());
    }
    if (!valid) {
        return reply.fail("Say which rows and where, as offsets of the " + std::to_string(count) +
                          " saved targets: targets move OFFSET... --to N (N may be the count).");
    }
    settings_->move(sources, to->get<std::size_t>());
    if (auto why = config_.store->saveFailure()) return reply.fail(unsaved("Moved", Error{*why}));
    reply.answer(Json{{"message", "Moved"}});
}

// The settings window as it would show with these rows selected.
void ControlCommands::settings(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    std::set<std::string> selection;
    if (const auto select = request.find("select"); select != request.end() && select->is_array())
        for (const auto& id : *select)
            if (id.is_string()) selection.insert(id.get<std::string>());
    reply->answer(Json{{"lines", SettingsDump::lines(settings_->model(selection))}});
}

// As the settings window's refresh: the panes are listed in the background, so the answer
// comes before the targets change.
void ControlCommands::refresh(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    config_.store->refreshTmux();
    reply->answer(Json{{"message", "Reading the tmux panes again; quibctl targets shows the result."}});
}

// The panel's picker offers saved targets only, so an id that names none is refused.
void ControlCommands::use(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const std::string targetID = stringField(request, "target");
    if (targetID.empty()) return reply->fail("Say which target: use TARGET-ID (quibctl targets lists them).");
    const auto target = TargetLookup::find(*config_.store, targetID);
    if (!target) return reply->fail(target.error().message);
    actions_->useTarget(target->id);
    reply->answer(Json{{"message", "Active target: " + target->name}});
}

void ControlCommands::reveal(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const std::string item = stringField(request, "item");
    if (item != "log" && item != "inbox") return reply->fail("Say what to reveal: reveal log, or reveal inbox.");
    const auto path = item == "log" ? actions_->revealDeliveryLog() : actions_->revealImageInbox();
    if (!path) return reply->fail(path.error().message);
    reply->answer(Json{{"path", path->string()}});
}

// As the panel's "Launch at login" switch, which only the installed host shows.
void ControlCommands::loginItem(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const std::string change = stringField(request, "change");
    if (change != "on" && change != "off" && change != "status")
        return reply->fail("Say what to do: login-item on|off|status.");
    if (change != "status") {
        if (auto done = actions_->setLaunchAtLogin(change == "on"); !done) return reply->fail(done.error().message);
    } else if (!actions_->loginItemOffered()) {
        // The question is answered: this host cannot start at login.
        return reply->answer(Json{{"launchAtLogin", false},
                                  {"message",
                                   "Launch at login: off (only an installed host starts at login: make "
                                   "install-host)"}});
    }
    auto& state = *config_.state;
    Json line{{"launchAtLogin", state.launchAtLogin().value()}};
    putIfSet(line, "loginItemError", state.loginItemError().value());
    if (change != "status" && state.loginItemError().value()) return reply->fail(*state.loginItemError().value());
    line["message"] = state.launchAtLogin().value() ? "Launch at login: on" : "Launch at login: off";
    reply->answer(std::move(line));
}

// As the panel's Quit: answered first, so that the tool hears it before the host ends.
void ControlCommands::quit(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    reply->answer(Json{{"message", "The host is ending"}});
    config_.main->post([actions = actions_] { actions->quit(); });
}

// As the panel's permission banners: the host asks for the permission and says in its log what
// is missing; the flags change only when the permissions are next read.
void ControlCommands::open(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const std::string item = stringField(request, "item");
    if (item == "accessibility") {
        actions_->openAccessibilitySettings();
        if (config_.state->accessibilityGranted().value())
            return reply->answer(Json{{"message", "Typing and clicking work already"}});
        return reply->answer(Json{{"message", "Checked typing and clicking; the host's log says what is missing"}});
    }
    if (item == "screen-recording") {
        actions_->openScreenRecordingSettings();
        if (config_.state->screenRecordingGranted().value())
            return reply->answer(Json{{"message", "Window capture works already"}});
        return reply->answer(Json{{"message", "Checked window capture; the host's log says what is missing"}});
    }
    reply->fail("Say which permission: open accessibility, or open screen-recording.");
}

void ControlCommands::requests(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    reply->answer(Json{{"requests", requestRows()}});
}

// As the panel lists them: in arrival order, each with what it asks and the time left.
Json ControlCommands::requestRows() const {
    const std::int64_t now = ApprovalClock::now();
    Json rows = Json::array();
    for (const auto& request : config_.server->neighbours().approvals->pending()) {
        rows.push_back(Json{{"id", request.id},
                            {"targetName", request.targetName},
                            {"title", request.title},
                            {"secondsLeft", request.secondsRemaining(now)}});
    }
    return rows;
}

// As the panel's Approve and Deny buttons: no reason, and no device, since this computer answers.
void ControlCommands::answer(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const std::string id = stringField(request, "request");
    const std::string decision = stringField(request, "decision");
    const auto choice = decision == "approve" ? std::optional(ApprovalDecision::approve)
                        : decision == "deny"  ? std::optional(ApprovalDecision::deny)
                                              : std::nullopt;
    if (id.empty() || !choice) return reply->fail("Say which request and how: answer REQUEST-ID approve|deny.");
    auto& approvals = *config_.server->neighbours().approvals;
    const auto pending = approvals.pending();
    const auto found =
        std::find_if(pending.begin(), pending.end(), [&](const auto& waiting) { return waiting.id == id; });
    if (found == pending.end())
        return reply->fail("No request with the identifier " + id + " is waiting (quibctl requests lists them).");
    const std::string what = found->targetName + ": " + found->title;
    actions_->answerRequest(id, *choice);
    reply->answer(Json{{"message", (*choice == ApprovalDecision::approve ? "Approved " : "Denied ") + what}});
}

// As the panel appears: what it asks for on appearing is waited for (briefly), then the model,
// with that answer in it, is printed.
void ControlCommands::panel(const Json&, const std::shared_ptr<ControlSocket::Reply>& reply) {
    if (!config_.panel) return reply->fail("This host has no panel.");
    config_.panel->appeared([panel = std::weak_ptr<MenuViewModelSource>(config_.panel), reply] {
        auto source = panel.lock();
        if (!source) return reply->fail("The host is shutting down.");
        reply->answer(Json{{"lines", MenuDump::lines(source->current())}});
    });
}

void ControlCommands::show(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const std::string item = stringField(request, "item");
    if (item == "settings") {
        const std::string select = stringField(request, "select");
        if (!settings_->open(select.empty() ? std::nullopt : std::optional<std::string>(select)))
            return reply->fail("There is no display: the settings window is not shown. `quibctl settings` prints it.");
        return reply->answer(Json::object());
    }
    if (item != "panel") return reply->fail("Say what to show: show panel, or show settings.");
    if (!showPanel_) return reply->fail("There is no display: the panel is not shown. `quibctl panel` prints it.");
    showPanel_();
    reply->answer(Json::object());
}

}  // namespace quib
