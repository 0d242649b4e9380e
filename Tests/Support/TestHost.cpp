#include "Tests/Support/TestHost.hpp"
#include "Platform/Headless/HeadlessWorkspace.hpp"

#include "Platform/AbsentVideoSessionFactory.hpp"
#include "Platform/Headless/EmptyWindowRoster.hpp"
#include "Platform/Headless/HeadlessDesktop.hpp"
#include "QuibHost/Approvals/ApprovalBroker.hpp"
#include "QuibHost/Approvals/PushSender.hpp"
#include "QuibHost/Apps/AppCatalog.hpp"
#include "QuibHost/Apps/MenuCatalog.hpp"
#include "QuibHost/Apps/Vocabulary.hpp"
#include "QuibHost/Reach/AbsentPortMapperService.hpp"
#include "QuibHost/Reach/AbsentPublicAddressDiscovery.hpp"
#include "QuibHost/Reach/RemoteReach.hpp"
#include "QuibHost/Server/ServerSettings.hpp"
#include "QuibHost/Streaming/AbsentAudioStreamerService.hpp"
#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Streaming/StillCapture.hpp"
#include "QuibHost/Streaming/WindowListing.hpp"
#include "QuibHost/Targets/AttachmentReceiver.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "QuibHost/Targets/TargetRouter.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/OnMain.hpp"
#include "Tests/Support/RecordingServiceAdvertiser.hpp"
#include "Tests/Support/SettablePermissions.hpp"

namespace quib::testing {

struct TestHost::Shared {
    DesktopServices desktop;
    // The desktop's standard application folders, by which the store and the catalogs judge apps.
    std::shared_ptr<DesktopEntries> apps = std::make_shared<DesktopEntries>();
    std::shared_ptr<DeliveryLog> log = nullptr;
    SecretStore secrets;
};

quib::HostServer::Config TestHost::serverConfig(HostServerNeighbours given) const {
    DesktopServices desktop = HeadlessDesktop::services();
    desktop.roster = std::make_shared<EmptyWindowRoster>(permissions);
    Shared shared{.desktop = std::move(desktop), .secrets = SecretStore(dataHome / "Quib" / "Secrets")};
    fillTargets(given, shared);
    fillApps(given, shared);
    fillTheRest(given, shared);
    return {.main = main,
            .settings = settings,
            .clock = clock,
            .registry = registry,
            .advertiser = std::make_shared<RecordingServiceAdvertiser>(),
            .neighbours = std::move(given),
            .permissions = permissions};
}

TestHost TestHost::onFreePort(std::shared_ptr<Executor> main, std::shared_ptr<Settings> settings,
                              std::shared_ptr<Clock> clock, std::filesystem::path dataHome) {
    (void)settings->setInteger(ServerSettings::portKey, freePort());
    auto registry = DeviceRegistry::create(main, settings, clock);
    return {.main = std::move(main),
            .settings = std::move(settings),
            .clock = std::move(clock),
            .registry = std::move(registry),
            .permissions = std::make_shared<SettablePermissions>(),
            .dataHome = std::move(dataHome)};
}

std::shared_ptr<quib::HostServer> TestHost::loopbackServer(HostServerNeighbours given) const {
    auto config = serverConfig(std::move(given));
    config.listenAddress = "127.0.0.1";
    config.machineInfo = "/nonexistent/machine-info";
    return quib::HostServer::create(std::move(config));
}

void stopServer(std::shared_ptr<quib::HostServer>& server, MainLoop& main) {
    if (server) onMain(main, [&] { server->stop(); });
    server.reset();
}

void TestHost::fillTargets(HostServerNeighbours& neighbours, Shared& shared) const {
    const auto log = [&] {
        if (!shared.log)
            shared.log = std::make_shared<DeliveryLog>(DeliveryLog::Config{.dataHome = dataHome, .clock = clock});
        return shared.log;
    };
    if (!neighbours.targets) {
        neighbours.targets = TargetStore::create({.main = main,
                                                  .settings = settings,
                                                  .clock = clock,
                                                  .log = log(),
                                                  .apps = shared.apps,
                                                  .workspace = std::make_shared<HeadlessWorkspace>()});
    }
    if (!neighbours.injector) {
        neighbours.injector = EventInjector::create(
            {.desktop = shared.desktop, .permissions = permissions, .clock = clock, .settings = settings});
    }
    if (!neighbours.router) {
        neighbours.router =
            std::make_shared<TargetRouter>(TargetRouter::Config{.injector = neighbours.injector,
                                                                .desktop = shared.desktop,
                                                                .tmuxControl = std::make_shared<TmuxControl>(),
                                                                .log = log()});
    }
    if (!neighbours.uploads) {
        neighbours.uploads = std::make_shared<AttachmentReceiver>(
            std::make_shared<AttachmentInbox>(AttachmentInbox::Config{.dataHome = dataHome, .clock = clock}));
    }
    if (!neighbours.roster) neighbours.roster = shared.desktop.roster;
}

void TestHost::fillApps(HostServerNeighbours& neighbours, Shared& shared) const {
    if (!neighbours.catalog) {
        neighbours.catalog = std::make_shared<AppCatalog>(
            AppCatalog::Config{.clock = clock, .apps = shared.apps, .workspace = shared.desktop.workspace});
    }
    if (!neighbours.vocabulary) {
        neighbours.vocabulary = std::make_shared<Vocabulary>(Vocabulary::Config{
            .clock = clock,
            .desktop = shared.desktop,
            .injector = neighbours.injector,
            .paneFolder = [tmux = Tmux()](const std::string& pane) { return tmux.currentPath(pane); }});
    }
    if (!neighbours.menus) {
        neighbours.menus =
            std::make_shared<MenuCatalog>(MenuScanner::Config::onDesktop(shared.desktop, clock, shared.apps));
    }
}

void TestHost::fillTheRest(HostServerNeighbours& neighbours, Shared& shared) const {
    if (!neighbours.approvals) neighbours.approvals = ApprovalBroker::create(main);
    if (!neighbours.push) {
        neighbours.push = PushSender::create(
            {.settings = settings, .secrets = shared.secrets, .poster = nullptr, .clock = clock, .main = main});
    }
    if (!neighbours.panelStreamer) {
        neighbours.panelStreamer = PanelStreamer::onDesktop(
            {.main = main, .targets = neighbours.targets, .clock = clock, .settings = settings}, shared.desktop,
            std::make_shared<ScreenAccess>(permissions), std::make_shared<AbsentVideoSessionFactory>());
    }
    if (!neighbours.audioStreamer) neighbours.audioStreamer = std::make_shared<AbsentAudioStreamerService>();
    if (!neighbours.windowList) {
        neighbours.windowList = std::make_shared<WindowListing>(
            WindowListing::Config{.desktop = shared.desktop, .permissions = permissions});
    }
    if (!neighbours.stills) {
        neighbours.stills = std::make_shared<StillCapture>(StillCapture::Config{
            .desktop = shared.desktop, .screenAccess = std::make_shared<ScreenAccess>(permissions)});
    }
    if (!neighbours.reach) neighbours.reach = offlineReach(shared.secrets);
}

std::shared_ptr<RemoteReach> TestHost::offlineReach(const SecretStore& secrets) const {
    return std::make_shared<RemoteReach>(
        RemoteReach::Config{.main = main,
                            .settings = settings,
                            .secrets = secrets,
                            .approvedIDs = [registry = registry] { return registry->approvedIDs(); },
                            .mapper = std::make_shared<AbsentPortMapperService>(),
                            .discovery = std::make_shared<AbsentPublicAddressDiscovery>(),
                            .localPort = [settings = settings] { return ServerSettings::localPort(*settings); },
                            .awayPort = [settings = settings] { return ServerSettings::awayPort(*settings); }});
}

}  // namespace quib::testing
