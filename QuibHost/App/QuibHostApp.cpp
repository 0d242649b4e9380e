#include "QuibHost/App/QuibHostApp.hpp"

#include <algorithm>

#include "Platform/AtomicFile.hpp"
#include "Platform/EmptyWindowRoster.hpp"
#include "Platform/Logger.hpp"
#include "QuibHost/Apps/MenuCatalog.hpp"
#include "QuibHost/Apps/Vocabulary.hpp"
#include "QuibHost/Targets/AttachmentReceiver.hpp"
#include "QuibHost/Targets/TargetRouter.hpp"
#include "Shared/Instrumentation.hpp"

namespace quib {

std::unique_ptr<QuibHostApp> QuibHostApp::create(Config config) {
    Instrumentation::configureShared(config.settings);
    return std::make_unique<QuibHostApp>(Passkey{}, std::move(config));
}

QuibHostApp::QuibHostApp(Passkey, Config config) : config_(std::move(config)) {
    const auto dataHome = config_.dataHome.value_or(xdgDataHome());
    deliveryLog_ = std::make_shared<DeliveryLog>(DeliveryLog::Config{dataHome, config_.clock, config_.revealer});
    inbox_ = std::make_shared<AttachmentInbox>(AttachmentInbox::Config{dataHome, config_.clock, config_.revealer});
    // The catalogs and the store judge which apps are installed by the same entries.
    auto apps = std::make_shared<DesktopEntries>();
    catalog_ = std::make_shared<AppCatalog>(AppCatalog::Config{config_.clock, apps, config_.desktop.workspace,
                                                               config_.appUsage, config_.dockedApps, nullptr,
                                                               config_.iconRenderer});
    store_ = TargetStore::create(
        {config_.main, config_.settings, config_.clock, deliveryLog_, Tmux(), apps, catalog_, config_.desktop.workspace});
    config_.neighbours.targets = store_;
    // A desktop without a roster of its own refuses windows by the host's own trust. The router
    // and the server raise windows through the same roster.
    if (!config_.desktop.roster) config_.desktop.roster = std::make_shared<EmptyWindowRoster>(config_.permissions);
    config_.neighbours.roster = config_.desktop.roster;
    config_.neighbours.catalog = catalog_;
    EventInjector::Config injector;
    injector.desktop = config_.desktop;
    injector.permissions = config_.permissions;
    injector.clock = config_.clock;
    injector.settings = config_.settings;
    injector_ = EventInjector::create(std::move(injector));
    config_.neighbours.router = makeRouter();
    config_.neighbours.vocabulary = std::make_shared<Vocabulary>(
        Vocabulary::Config{.clock = config_.clock, .desktop = config_.desktop, .injector = injector_});
    config_.neighbours.uploads = std::make_shared<AttachmentReceiver>(inbox_);
    config_.neighbours.menus =
        std::make_shared<MenuCatalog>(MenuScanner::Config::onDesktop(config_.desktop, config_.clock, apps));
    registry_ = DeviceRegistry::create(config_.main, config_.settings, config_.clock);
    if (!config_.neighbours.reach) config_.neighbours.reach = makeRemoteReach();
    push_ = PushSender::create({config_.settings, secretStore(), config_.poster, config_.clock, config_.main});
    config_.neighbours.push = push_;
    screenAccess_ = std::make_shared<ScreenAccess>(config_.permissions);
    panelStreamer_ = PanelStreamer::onDesktop(
        {.main = config_.main, .targets = store_, .clock = config_.clock, .settings = config_.settings},
        config_.desktop, screenAccess_, config_.videoSessions);
    config_.neighbours.panelStreamer = panelStreamer_;
    HostServer::Config server;
    server.main = config_.main;
    server.settings = config_.settings;
    server.clock = config_.clock;
    server.registry = registry_;
    server.advertiser = config_.advertiser;
    server.neighbours = config_.neighbours;
    server.neighbours.injector = injector_;
    server.listenAddress = config_.listenAddress;
    server.permissions = config_.permissions;
    server.sleep = config_.sleep;
    server.interfaces = config_.interfaces;
    server_ = HostServer::create(std::move(server));
    state_ = HostState::create({config_.main, config_.clock, config_.settings, config_.permissions, config_.loginItem,
                                stateLinks()});
    commands_ = ControlCommands::create({config_.main, state_, registry_, server_, store_, deliveryLog_, inbox_, push_});
}

std::shared_ptr<TargetRouter> QuibHostApp::makeRouter() {
    return std::make_shared<TargetRouter>(
        TargetRouter::Config{.injector = injector_, .desktop = config_.desktop, .log = deliveryLog_, .clock = config_.clock});
}

// Away keys live in the host's data folder, beside the delivery log; they also seal pushes.
SecretStore QuibHostApp::secretStore() const {
    return config_.dataHome ? SecretStore(*config_.dataHome / "Quib" / "Secrets") : SecretStore();
}

std::shared_ptr<RemoteReach> QuibHostApp::makeRemoteReach() const {
    return std::make_shared<RemoteReach>(RemoteReach::Config{config_.main, config_.settings, secretStore(),
                                                             [registry = registry_] { return registry->approvedIDs(); }});
}

QuibHostApp::~QuibHostApp() {
    controlSocket_.reset();
    commands_.reset();
}

HostState::Links QuibHostApp::stateLinks() {
    std::weak_ptr<HostServer> weak = server_;
    auto injector = injector_;
    HostState::Links links;
    links.startServer = [weak](const std::string& code) { if (auto s = weak.lock()) s->start(code); };
    links.broadcastStatus = [weak] { if (auto s = weak.lock()) s->broadcastStatus(); };
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
    enableLoginItemWhenAsked();
    openControlSocket();

    return Launched{state_->pairingCode().value(), server_->inspect().listenerPort, server_->hostDisplayName()};
}

// The away listener itself is not started here: the server builds it when it has keys.
void QuibHostApp::startRemoteReach() {
    const auto& reach = server_->neighbours().reach;
    reach->refreshLocal();
    reach->watchPath();
    if (config_.settings->boolean(RemoteReachService::enabledKey).value_or(false)) reach->start();
}

void QuibHostApp::logLaunch() const {
    const std::string from = config_.loginItem.executable().string();
    const std::string status(LoginItem::describe(state_->loginItem().status()));
    quibLog().info("launched from ", pub(from), ", login item: ", pub(status));
}

void QuibHostApp::enableLoginItemWhenAsked() {
    const auto& args = config_.arguments;
    if (std::find(args.begin(), args.end(), enableLoginItemArgument) == args.end()) return;
    state_->setLaunchAtLogin(true);
    const std::string status(LoginItem::describe(state_->loginItem().status()));
    const std::string error = state_->loginItemError().value().value_or("none");
    quibLog().info("login item after register: ", pub(status), " error=", pub(error));
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
    auto socket = ControlSocket::open(*path, [weak = std::weak_ptr<ControlCommands>(commands_)](const Json& request, auto reply) {
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
    server_->stop();
}

}  // namespace quib
