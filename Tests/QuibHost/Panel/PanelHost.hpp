#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FileRevealer.hpp"
#include "QuibHost/App/ControlCommands.hpp"
#include "QuibHost/Approvals/PushSender.hpp"
#include "QuibHost/Panel/HostState.hpp"
#include "QuibHost/Panel/MenuActions.hpp"
#include "QuibHost/Panel/MenuViewModelSource.hpp"
#include "QuibHost/Reach/RemoteReachService.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/FakeApprovalBroker.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib::testing {

// Remote reach that writes down how the away switch was set.
class SwitchRecordingReach final : public RemoteReachService {
public:
    SwitchRecordingReach(std::shared_ptr<Executor> main, std::vector<std::string>& calls)
        : candidates_(main, {}), status_(main, {}), detail_(main, std::nullopt), calls_(calls) {}
    Published<std::vector<QuibCandidate>>& candidates() override { return candidates_; }
    Published<Status>& status() override { return status_; }
    Published<std::optional<std::string>>& detail() override { return detail_; }
    bool isEnabled() const override { return enabled_; }
    void setEnabled(bool enabled) override {
        enabled_ = enabled;
        calls_.push_back(enabled ? "reach on" : "reach off");
    }
    std::vector<QuibTransport::Key> listenerKeys() override { return {}; }
    bool isOnSameNetwork(const std::string&) override { return false; }
    RemoteAccessPayload payload(const std::optional<std::string>&, bool) override { return {}; }
    void forget(const std::string&) override {}
    void refreshLocal() override {}
    void refresh() override { ++refreshes; }
    void watchPath() override {}
    void start() override {}

    int refreshes = 0;

private:
    Published<std::vector<QuibCandidate>> candidates_;
    Published<Status> status_;
    Published<std::optional<std::string>> detail_;
    std::vector<std::string>& calls_;
    bool enabled_ = false;
};

// The objects the panel reads and acts on, on a main loop of the test's own and a fake clock,
// the store, the approval broker, remote reach, the file viewer and the host state's links
// writing down what is asked of them.
class PanelHost {
public:
    // With `serverChange`, the server's configuration is changed before it is made. The login
    // item starts `executable`.
    explicit PanelHost(const std::function<void(HostServer::Config&)>& serverChange = nullptr,
                       const std::filesystem::path& executable = "/bin/true");
    ~PanelHost();
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    // Runs `work` as a task of the main loop, and everything it queues.
    void onMain(const std::function<void()>& work);
    // A control-tool request, carried out; its last answer line.
    Json command(const Json& request);
    // A panel's control, worked.
    void perform(const MenuAction& action);
    // The panel's source, made on first use.
    MenuViewModelSource& source();

    // Everything asked of the fakes so far and what the registry and server now publish.
    std::vector<std::string> observed() const;

    ScratchFolder scratch{"panel"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::vector<std::string> calls;
    std::shared_ptr<FakeTargetStore> store = std::make_shared<FakeTargetStore>(main);
    std::shared_ptr<FakeApprovalBroker> approvals = std::make_shared<FakeApprovalBroker>(main);
    std::shared_ptr<SwitchRecordingReach> reach = std::make_shared<SwitchRecordingReach>(main, calls);
    // What the host state and the right to capture read.
    std::shared_ptr<SettablePermissions> permissions = std::make_shared<SettablePermissions>();
    std::shared_ptr<ScreenAccess> screenAccess = std::make_shared<ScreenAccess>(permissions);
    std::shared_ptr<FileRevealer> revealer;
    std::shared_ptr<DeliveryLog> log;
    std::shared_ptr<AttachmentInbox> inbox;
    std::shared_ptr<PushSender> push;
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<HostServer> server;
    std::shared_ptr<HostState> state;
    std::shared_ptr<MenuActions> actions;
    std::shared_ptr<ControlCommands> commands;
    int quits = 0;  // how often the actions asked the application to end

private:
    std::shared_ptr<MenuViewModelSource> source_;
};

}  // namespace quib::testing
