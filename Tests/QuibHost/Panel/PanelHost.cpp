#include "Tests/QuibHost/Panel/PanelHost.hpp"

#include <gtest/gtest.h>

#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestControlCommands.hpp"
#include "Tests/Support/TestHost.hpp"

namespace quib::testing {
namespace {

class RecordingRevealer final : public FileRevealer {
public:
    explicit RecordingRevealer(std::vector<std::string>& calls) : calls_(calls) {}
    Result<void> reveal(const std::filesystem::path& file) override {
        calls_.push_back("reveal " + file.filename().string());
        return {};
    }

private:
    std::vector<std::string>& calls_;
};

// Keeps the last line a request was answered with.
class LastLine final : public ControlSocket::Reply {
public:
    void send(const Json& line) override { last = line; }
    void finish() override {}
    bool isOpen() const override { return true; }
    void setClosedHandler(std::function<void()>) override {}
    Json last;
};

}  // namespace

PanelHost::PanelHost(const std::function<void(HostServer::Config&)>& serverChange,
                     const std::filesystem::path& executable) {
    (void)settings->setString("quib.pairingCode.v1", "KX7P2M");
    revealer = std::make_shared<RecordingRevealer>(calls);
    log = std::make_shared<DeliveryLog>(
        DeliveryLog::Config{.dataHome = scratch.path, .clock = clock, .revealer = revealer});
    inbox = std::make_shared<AttachmentInbox>(
        AttachmentInbox::Config{.dataHome = scratch.path, .clock = clock, .revealer = revealer});
    push = PushSender::create({.settings = settings,
                               .secrets = SecretStore(scratch.path / "secrets"),
                               .poster = nullptr,
                               .clock = clock,
                               .main = main});
    registry = DeviceRegistry::create(main, settings, clock);
    auto config = TestHost{.main = main,
                           .settings = settings,
                           .clock = clock,
                           .registry = registry,
                           .permissions = std::make_shared<SettablePermissions>(),
                           .dataHome = scratch.path}
                      .serverConfig({.targets = store, .approvals = approvals, .reach = reach});
    if (serverChange) serverChange(config);
    server = HostServer::create(std::move(config));
    HostState::Links links;
    links.startServer = [this](const std::string&) { calls.push_back("start server"); };
    links.broadcastStatus = [this] { calls.push_back("broadcast status"); };
    links.setInjectorPaused = [this](bool paused) { calls.push_back(paused ? "injector paused" : "injector on"); };
    links.releaseAllButtons = [this] { calls.push_back("release buttons"); };
    onMain([&] {
        state = HostState::create({.main = main,
                                   .clock = clock,
                                   .settings = settings,
                                   .permissions = permissions,
                                   .loginItem = LoginItem(scratch.path / "autostart.desktop", executable),
                                   .links = links});
    });
    actions = std::make_shared<MenuActions>(MenuActions::Config{.state = state,
                                                                .registry = registry,
                                                                .server = server,
                                                                .store = store,
                                                                .log = log,
                                                                .inbox = inbox,
                                                                .push = push,
                                                                .screenAccess = screenAccess,
                                                                .quit = [this] { ++quits; }});
    commands = testControlCommands(main, state, registry, server, store, actions);
    main->runPending();
}

PanelHost::~PanelHost() {
    source_.reset();
    commands.reset();
    main->runPending();
}

void PanelHost::onMain(const std::function<void()>& work) {
    main->post(work);
    main->runPending();
}

Json PanelHost::command(const Json& request) {
    auto reply = std::make_shared<LastLine>();
    commands->handle(request, reply);
    main->runPending();
    return reply->last;
}

void PanelHost::perform(const MenuAction& action) {
    onMain([&] { actions->perform(action); });
}

MenuViewModelSource& PanelHost::source() {
    if (!source_) {
        source_ = MenuViewModelSource::create(
            {.main = main, .server = server, .store = store, .state = state, .registry = registry, .actions = actions});
    }
    return *source_;
}

std::vector<std::string> PanelHost::observed() const {
    std::vector<std::string> seen = calls;
    for (const auto& decision : approvals->decided()) {
        seen.push_back("decide " + decision.id + " " + std::string(enumName(decision.decision)) +
                       (decision.reason || decision.by ? " with a reason or device" : ""));
    }
    for (const auto& id : store->activations()) seen.push_back("active " + id.value_or("none"));
    for (const auto& device : registry->approved().value()) seen.push_back("approved " + device.id + " " + device.name);
    for (const auto& device : registry->revoked().value()) seen.push_back("revoked " + device.id);
    if (auto activity = server->lastActivity().value()) seen.push_back("activity " + *activity);
    seen.push_back(std::string("paused ") + (state->injectionPaused().value() ? "yes" : "no"));
    return seen;
}

}  // namespace quib::testing
