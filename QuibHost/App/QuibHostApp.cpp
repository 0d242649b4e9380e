#include "QuibHost/App/QuibHostApp.hpp"

#include <algorithm>

#include "Platform/Headless/EmptyWindowRoster.hpp"
#include "Platform/Headless/HeadlessDesktop.hpp"
#include "QuibHost/Approvals/ApprovalBroker.hpp"
#include "QuibHost/Apps/MenuCatalog.hpp"
#include "QuibHost/Apps/Vocabulary.hpp"
#include "QuibHost/Reach/AwayPathMonitor.hpp"
#include "QuibHost/Reach/OfflineDiscovery.hpp"
#include "QuibHost/Reach/OfflinePortMapper.hpp"
#include "QuibHost/Server/Neighbours/IdleStreaming.hpp"
#include "QuibHost/Server/ServerSettings.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Streaming/StillCapture.hpp"
#include "QuibHost/Streaming/WindowListing.hpp"
#include "QuibHost/Targets/AttachmentReceiver.hpp"
#include "QuibHost/Targets/TargetRouter.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/XdgFolders.hpp"
#include "Shared/Instrumentation.hpp"

namespace quib {

std::unique_ptr<QuibHostApp> QuibHostApp::create(Config config) {
    Instrumentation::configureShared(config.settings);
    return std::make_unique<QuibHostApp>(Passkey{}, std::move(config));
}

QuibHostApp::QuibHostApp(Passkey, Config config) : config_(std::move(config)) {
    // A desktop without a roster of its own refuses windows by the host's own trust, and is
    // headless in whatever else it lacks. The router and the server raise windows through the
    // same roster.
    if (!config_.desktop.roster) config_.desktop.roster = std::make_shared<EmptyWindowRoster>(config_.permissions);
    config_.desktop = HeadlessDesktop::fillGaps(std::move(config_.desktop));
    // The catalogs and the store judge which apps are installed by the same entries.
    auto apps = std::make_shared<DesktopEntries>();
    makeTargets(apps);
    registry_ = DeviceRegistry::create(config_.main, config_.settings, config_.clock);
    push_ = PushSender::create({.settings = config_.settings,
                                .secrets = secretStore(),
                                .poster = config_.poster,
                                .clock = config_.clock,
                                .main = config_.main});
    makeStreamers();
    server_ = HostServer::create({.main = config_.main,
                                  .settings = config_.settings,
                                  .clock = config_.clock,
                                  .registry = registry_,
                                  .advertiser = config_.advertiser,
                                  .neighbours = makeNeighbours(apps),
                                  .listenAddress = config_.listenAddress,
                                  .permissions = config_.permissions,
                                  .sleep = config_.sleep,
                                  .interfaces = config_.interfaces,
                                  .interfaceList = interfaceList_});
    state_ = HostState::create({.main = config_.main,
                                .clock = config_.clock,
                                .settings = config_.settings,
                                .permissions = config_.permissions,
                                .loginItem = config_.loginItem,
                                .links = stateLinks()});
    actions_ = std::make_shared<MenuActions>(MenuActions::Config{.state = state_,
                                                                 .registry = registry_,
                                                                 .server = server_,
                                                                 .store = store_,
                                                                 .log = deliveryLog_,
                                                                 .inbox = inbox_,
                                                                 .push = push_,
                                                                 .screenAccess = screenAccess_,
                                                                 .quit = config_.quit,
                                                                 .openSettings = openSettings()});
    panel_ = MenuViewModelSource::create({.main = config_.main,
                                          .server = server_,
                                          .store = store_,
                                          .state = state_,
                                          .registry = registry_,
                                          .actions = actions_});
    editing_ = {.main = config_.main,
                .store = store_,
                .workspace = config_.desktop.workspace,
                .apps = apps,
                .tmux = Tmux(),
                .tmuxQueue = std::shared_ptr<Executor>(store_, &store_->tmuxQueue()),
                .iconRenderer = config_.iconRenderer};
    settings_ = std::make_shared<SettingsActions>(SettingsActions::Config{.store = store_, .editing = editing_});
    commands_ = ControlCommands::create(
        {.main = config_.main,
         .state = state_,
         .registry = registry_,
         .server = server_,
         .store = store_,
         .log = deliveryLog_,
         .inbox = inbox_,
         .push = push_,
         .actions = actions_,
         .panel = panel_,
         .settings = settings_,
         .editor = std::make_shared<TargetEditorCommands>(TargetEditorCommands::Config{.editor = editing_}),
         .sessionCaveat = config_.sessionCaveat});
}

void QuibHostApp::setPanelShower(std::function<void()> show) { commands_->setPanelShower(std::move(show)); }

// The delivery log and the attachment inbox in the host's data folder, the app catalog, the
// target store and the injector.
void QuibHostApp::makeTargets(const std::shared_ptr<DesktopEntries>& apps) {
    const auto dataHome = config_.dataHome.value_or(xdgDataHome());
    deliveryLog_ = std::make_shared<DeliveryLog>(
        DeliveryLog::Config{.dataHome = dataHome, .clock = config_.clock, .revealer = config_.revealer});
    inbox_ = std::make_shared<AttachmentInbox>(
        AttachmentInbox::Config{.dataHome = dataHome, .clock = config_.clock, .revealer = config_.revealer});
    catalog_ = std::make_shared<AppCatalog>(AppCatalog::Config{.clock = config_.clock,
                                                               .apps = apps,
                                                               .workspace = config_.desktop.workspace,
                                                               .usage = config_.appUsage,
                                                               .dock = config_.dockedApps,
                                                               .iconRenderer = config_.iconRenderer});
    store_ = TargetStore::create({.main = config_.main,
                                  .settings = config_.settings,
                                  .clock = config_.clock,
                                  .log = deliveryLog_,
                                  .apps = apps,
                                  .seeds = catalog_,
                                  .workspace = config_.desktop.workspace});
    injector_ = EventInjector::create({.desktop = config_.desktop,
                                       .permissions = config_.permissions,
                                       .clock = config_.clock,
                                       .settings = config_.settings});
}

// Every service the server calls: the application's own, and for what the host cannot do yet a
// stand-in (nobody streams sound without an audio capture). A test may bring its own approval broker,
// remote reach, audio streaming or still capture.
HostServerNeighbours QuibHostApp::makeNeighbours(const std::shared_ptr<DesktopEntries>& apps) {
    HostServerNeighbours neighbours = config_.neighbours;
    neighbours.targets = store_;
    neighbours.injector = injector_;
    neighbours.router = makeRouter();
    neighbours.catalog = catalog_;
    neighbours.vocabulary = std::make_shared<Vocabulary>(
        Vocabulary::Config{.clock = config_.clock,
                           .desktop = config_.desktop,
                           .injector = injector_,
                           .paneFolder = [tmux = Tmux()](const std::string& pane) { return tmux.currentPath(pane); }});
    neighbours.menus =
        std::make_shared<MenuCatalog>(MenuScanner::Config::onDesktop(config_.desktop, config_.clock, apps));
    neighbours.push = push_;
    neighbours.roster = config_.desktop.roster;
    neighbours.uploads = std::make_shared<AttachmentReceiver>(inbox_);
    if (!neighbours.approvals) neighbours.approvals = ApprovalBroker::create(config_.main);
    if (!neighbours.audioStreamer) neighbours.audioStreamer = std::make_shared<IdleStreaming>();
    if (!neighbours.windowList) {
        neighbours.windowList = std::make_shared<WindowListing>(WindowListing::Config{
            .desktop = config_.desktop, .permissions = config_.permissions, .apps = apps, .jpeg = config_.jpegEncoder});
    }
    if (!neighbours.stills) {
        neighbours.stills = std::make_shared<StillCapture>(
            StillCapture::Config{.desktop = config_.desktop, .screenAccess = screenAccess_, .png = config_.pngEncoder});
    }
    if (!neighbours.reach) neighbours.reach = makeRemoteReach();
    return neighbours;
}

std::shared_ptr<TargetRouter> QuibHostApp::makeRouter() {
    return std::make_shared<TargetRouter>(TargetRouter::Config{.injector = injector_,
                                                               .desktop = config_.desktop,
                                                               .tmuxControl = tmuxControl_,
                                                               .log = deliveryLog_,
                                                               .clock = config_.clock});
}

// The streamers of the process, sharing its one right to capture the screen. The host state
// hands the audio streamer, when there is a sound output to serve, the listening switch.
void QuibHostApp::makeStreamers() {
    screenAccess_ = std::make_shared<ScreenAccess>(config_.permissions);
    panelStreamer_ = PanelStreamer::onDesktop({.main = config_.main,
                                               .targets = store_,
                                               .clock = config_.clock,
                                               .settings = config_.settings,
                                               .tmuxControl = tmuxControl_},
                                              config_.desktop, screenAccess_, config_.videoSessions);
    config_.neighbours.panelStreamer = panelStreamer_;
    if (!config_.audioCapture || !config_.aacConverters) return;
    audioStreamer_ = AudioStreamer::make({.capture = config_.audioCapture,
                                          .converters = config_.aacConverters,
                                          .settings = config_.settings,
                                          .screenAccess = screenAccess_,
                                          .clock = config_.clock});
    config_.neighbours.audioStreamer = audioStreamer_;
}

// Away keys live in the host's data folder, beside the delivery log; they also seal pushes.
SecretStore QuibHostApp::secretStore() const {
    return config_.dataHome ? SecretStore(*config_.dataHome / "Quib" / "Secrets") : SecretStore();
}

// Without a real router and STUN, the stand-ins keep every packet inside the process.
std::shared_ptr<RemoteReach> QuibHostApp::makeRemoteReach() const {
    auto mapper = config_.portMapper ? config_.portMapper : std::make_shared<OfflinePortMapper>();
    auto discovery = config_.discovery ? config_.discovery : std::make_shared<OfflineDiscovery>();
    return std::make_shared<RemoteReach>(
        RemoteReach::Config{.main = config_.main,
                            .settings = config_.settings,
                            .secrets = secretStore(),
                            .approvedIDs = [registry = registry_] { return registry->approvedIDs(); },
                            .mapper = std::move(mapper),
                            .discovery = std::move(discovery),
                            .localPort = [settings = config_.settings] { return ServerSettings::localPort(*settings); },
                            .awayPort = [settings = config_.settings] { return ServerSettings::awayPort(*settings); },
                            .addresses = nullptr,
                            .path = std::make_shared<AwayPathMonitor>(config_.awayInterfaces, config_.clock),
                            .interfaceList = interfaceList_});
}

QuibHostApp::~QuibHostApp() {
    controlSocket_.reset();
    commands_.reset();
    panel_.reset();
}

// The panel's Settings… opens the window through the settings actions, made after the panel's.
std::function<void()> QuibHostApp::openSettings() {
    if (config_.openSettings) return config_.openSettings;
    return [this] {
        if (settings_) (void)settings_->open();
    };
}

HostState::Links QuibHostApp::stateLinks() {
    std::weak_ptr<HostServer> weak = server_;
    auto injector = injector_;
    HostState::Links links;
    links.startServer = [weak](const std::string& code) {
        if (auto s = weak.lock()) s->start(code);
    };
    links.broadcastStatus = [weak] {
        if (auto s = weak.lock()) s->broadcastStatus();
    };
    links.hasConnectedDevices = [weak] {
        auto server = weak.lock();
        return server && !server->connectedDevices().value().empty();
    };
    links.setInjectorPaused = [injector](bool paused) { injector->setPaused(paused); };
    links.releaseAllButtons = [injector] { injector->releaseAllButtons(); };
    links.resetScrollPhase = [injector] { injector->resetScrollPhase(); };
    links.injectorApiDisabled = [injector] { return injector->apiDisabled(); };
    links.revalidateTrust = [injector] { return injector->revalidateTrust(); };
    links.refreshProvisional = [weak = std::weak_ptr<TargetStore>(store_)] {
        if (auto store = weak.lock()) store->refreshProvisional();
    };
    if (audioStreamer_) {
        links.setAudioAllowed = [streamer = audioStreamer_](bool allowed) { streamer->setAllowed(allowed); };
    }
    return links;
}

QuibHostApp::Launched QuibHostApp::launch() {
    Instrumentation::shared().setLogger(quibLog());
    state_->promptForAccessibility();
    server_->beginApprovals();
    server_->start(state_->pairingCode().value());
    server_->beginSystemWatch();
    startRemoteReach();
    server_->beginRemoteAccessWatch();
    state_->beginWatchingAccessibility();
    logLaunch();
    if (config_.sessionCaveat) quibLog().warning(pub(*config_.sessionCaveat));
    enableLoginItemWhenAsked();
    openControlSocket();

    return Launched{state_->pairingCode().value(), server_->inspect().listenerPort, server_->hostDisplayName()};
}

// The away listener itself is not started here: the server builds it when it has keys.
void QuibHostApp::startRemoteReach() {
    const auto& reach = server_->neighbours().reach;
    reach->refreshLocal();
    reach->watchPath();
    if (config_.settings->get(RemoteReachService::enabledKey)) reach->start();
}

void QuibHostApp::logLaunch() const {
    const std::string from = config_.loginItem.executable().string();
    const std::string status(LoginItem::describe(state_->loginItem().status()));
    quibLog().info("launched from ", pub(from), ", ", HostWords::autostart.chars, ": ", pub(status));
}

// Only the installed host registers itself: an entry naming a build folder would outlive it.
void QuibHostApp::enableLoginItemWhenAsked() {
    const auto& args = config_.arguments;
    if (std::find(args.begin(), args.end(), enableLoginItemArgument) == args.end()) return;
    if (!state_->loginItem().isOffered()) {
        quibLog().info(HostWords::autostart.chars, " not set up: this host runs from ",
                       pub(config_.loginItem.executable().string()), ", not from ",
                       pub((LoginItem::installPrefix() / "bin").string()), "; `make install-host` installs it there");
        return;
    }
    state_->setLaunchAtLogin(true);
    const std::string status(LoginItem::describe(state_->loginItem().status()));
    const std::string error = state_->loginItemError().value().value_or("none");
    quibLog().info(HostWords::autostart.chars, " after setting up: ", pub(status), " error=", pub(error));
}

// A host that cannot open its control socket still serves phones; the log says why the
// control tool cannot reach it.
void QuibHostApp::openControlSocket() {
    auto path = config_.controlSocketPath ? Result<std::filesystem::path>(*config_.controlSocketPath)
                                          : ControlSocket::defaultPath();
    if (!path) {
        quibLog().error("control socket: ", pub(path.error().message));
        return;
    }
    auto socket =
        ControlSocket::open(*path, [weak = std::weak_ptr<ControlCommands>(commands_)](const Json& request, auto reply) {
            if (auto commands = weak.lock()) commands->handle(request, std::move(reply));
            else reply->fail("The host is shutting down.");
        });
    if (!socket) {
        quibLog().error("control socket: ", pub(socket.error().message));
        return;
    }
    controlSocket_ = std::move(*socket);
    quibLog().info("control socket: ", pub(controlSocket_->path().string()));
}

void QuibHostApp::terminate() {
    controlSocket_.reset();
    injector_->releaseAllButtons();
    quibLog().info("shut-down: held buttons released");
    server_->stop();
    quibLog().info("shut-down: server stopped");
    if (registry_->saveNow()) quibLog().info("shut-down: devices saved");  // a failure is logged there
}

}  // namespace quib
