#include "QuibHost/Server/HostServer.hpp"

#include "QuibHost/Connection/PeerAddress.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Required.hpp"

namespace quib {

using namespace std::chrono_literals;

namespace {

// The configured bind address; one that does not parse means every interface, dual-stack.
asio::ip::address bindAddress(const std::string& text) {
    std::error_code error;
    const auto address = asio::ip::make_address(text, error);
    return error ? asio::ip::address(asio::ip::address_v6::any()) : address;
}

}  // namespace

std::shared_ptr<HostServer> HostServer::create(Config config) {
    auto server = std::make_shared<HostServer>(Passkey{}, std::move(config));
    server->subscribe();
    return server;
}

HostServer::HostServer(Passkey, Config config)
    : main_(std::move(config.main)),
      settings_(std::move(config.settings)),
      clock_(std::move(config.clock)),
      registry_(std::move(config.registry)),
      advertiser_(std::move(config.advertiser)),
      permissions_(required(std::move(config.permissions), "HostServer", "permissions")),
      neighbours_(wired(std::move(config.neighbours))),
      listenAddress_(bindAddress(config.listenAddress)),
      machineInfo_(std::move(config.machineInfo)),
      isListening_(main_, false),
      connectedDevices_(main_, {}),
      lastError_(main_, std::nullopt),
      lastActivity_(main_, std::nullopt),
      gate_([this](const ClientMessage& message, Client& client) { return isPermitted(message, client); }),
      pointerRate_(clock_->now()),
      systemWatch_(std::move(config.sleep), std::move(config.interfaces), std::move(config.interfaceList)),
      network_(NetworkQueue::create("com.brenmoor.quib.host.net", clock_)),
      queues_(clock_) {}

HostServerNeighbours HostServer::wired(HostServerNeighbours neighbours) {
    const auto need = [](const auto& neighbour, std::string_view name) {
        (void)required(neighbour, "HostServer", name);
    };
    need(neighbours.targets, "target store");
    need(neighbours.injector, "event injector");
    need(neighbours.router, "target router");
    need(neighbours.catalog, "app catalog");
    need(neighbours.vocabulary, "vocabulary");
    need(neighbours.menus, "menu catalog");
    need(neighbours.approvals, "approval broker");
    need(neighbours.push, "push sender");
    need(neighbours.panelStreamer, "panel streamer");
    need(neighbours.audioStreamer, "audio streamer");
    need(neighbours.windowList, "window list");
    need(neighbours.roster, "window roster");
    need(neighbours.stills, "still capture");
    need(neighbours.reach, "remote reach");
    need(neighbours.uploads, "uploads");
    return neighbours;
}

HostServer::~HostServer() {
    subscriptions_.clear();
    // Work still queued for deliveries, menus and the catalog may send replies: let it finish
    // while the network queue still runs. Pane listings, on the target store's tmux queue, hold
    // the server only weakly.
    queues_.finishWork();
    (void)network_->sync([this] {
        systemWatch_.stop();
        closeEverything();
    });
    network_->shutdown();
}

void HostServer::onMain(std::function<void(HostServer&)> work) {
    main_->post([weak = weak_from_this(), work = std::move(work)] {
        if (auto server = weak.lock()) work(*server);
    });
}

void HostServer::onInjection(std::function<void(HostServer&)> work) {
    queues_.injection().post([weak = weak_from_this(), work = std::move(work)] {
        if (auto server = weak.lock()) work(*server);
    });
}

void HostServer::onCatalog(std::function<void(HostServer&)> work) {
    queues_.catalog().post([weak = weak_from_this(), work = std::move(work)] {
        if (auto server = weak.lock()) work(*server);
    });
}

void HostServer::onMenu(std::function<void(HostServer&)> work) {
    queues_.menu().post([weak = weak_from_this(), work = std::move(work)] {
        if (auto server = weak.lock()) work(*server);
    });
}

void HostServer::onPanes(std::function<void(HostServer&)> work) {
    neighbours_.targets->tmuxQueue().post([weak = weak_from_this(), work = std::move(work)] {
        if (auto server = weak.lock()) work(*server);
    });
}

// Creation: each subscription holds the server weakly, skips the value current now and
// delivers on the main executor.
void HostServer::subscribe() {
    std::weak_ptr<HostServer> weak = weak_from_this();
    auto targets = [weak](const auto&) {
        if (auto s = weak.lock()) s->broadcastTargets();
    };
    auto status = [weak](const auto&) {
        if (auto s = weak.lock()) s->broadcastStatus();
    };
    auto& store = *neighbours_.targets;
    subscriptions_.push_back(store.targets().subscribe(targets, {.skipCurrent = true, .debounce = 120ms}));
    subscriptions_.push_back(
        store.provisionalTargets().subscribe(targets, {.skipCurrent = true, .dropRepeats = true, .debounce = 200ms}));
    subscriptions_.push_back(store.activeTargetID().subscribe(status, {.skipCurrent = true, .debounce = 120ms}));
    subscriptions_.push_back(
        store.unresolvedTargetIDs().subscribe(status, {.skipCurrent = true, .dropRepeats = true, .debounce = 120ms}));
    shownApproved_ = shownOf(registry_->approved().value());
    subscriptions_.push_back(registry_->approved().subscribe(
        [weak](const DeviceRegistry::DeviceList& approved) {
            if (auto server = weak.lock()) server->approvedChanged(approved);
        },
        {.skipCurrent = true}));
}

HostServer::ShownDevices HostServer::shownOf(const DeviceRegistry::DeviceList& approved) {
    ShownDevices shown;
    shown.reserve(approved.size());
    for (const auto& device : approved) shown.emplace_back(device.id, device.name);
    return shown;
}

// Main executor. A phone's hello re-stamps its last-seen time, which changes nothing phones are
// told but their status; only a change of who is approved, or of their names, is told in full.
void HostServer::approvedChanged(const DeviceRegistry::DeviceList& approved) {
    assertOn(*main_);
    broadcastStatus();
    auto shown = shownOf(approved);
    if (shown == shownApproved_) return;
    shownApproved_ = std::move(shown);
    broadcastTargets();
    publishDevices();
    broadcastRemoteAccess();
    startAway();
}

void HostServer::start(const std::string& pairingCode) {
    assertOn(*main_);
    stop();
    pairingCode_ = pairingCode;
    const std::string name = hostDisplayName();
    auto listener = makeListener(pairingCode);
    if (!listener) return;
    listener->setNewConnectionLimit(connectionBudget);
    listener->setStateHandler([this, weak = std::weak_ptr<TlsListener>(listener), name](
                                  TlsListener::State state, const std::optional<std::string>& error) {
        if (auto current = weak.lock()) listenerChanged(current, state, error, name);
    });
    listener->setNewConnectionHandler(
        [this](std::shared_ptr<TlsConnection> connection) { accept(std::move(connection), false); });
    network_->post([listener] { listener->start(); });
    startAway();
    network_->post([this, listener] {
        listener_ = listener;
        admission_.throttles().clear();
    });
}

std::shared_ptr<TlsListener> HostServer::makeListener(const std::string& pairingCode) {
    const QuibTransport::Key key{std::string(QuibTransport::codeIdentity),
                                 QuibTransport::pskData(pairingCode, QuibTransport::Derivation::current())};
    const auto parameters = QuibTransport::parameters({key}, true);
    const std::uint16_t port = ServerSettings::localPort(*settings_);
    auto listener = TlsListener::create(network_->context(), parameters, listenAddress_, port, clock_);
    if (!listener) {
        // The port and the setting it came from, so that the user knows what to change.
        const std::string message = listener.error().message + " (port " + std::to_string(port) + ", the setting " +
                                    std::string(ServerSettings::portKey) + ")";
        onMain([message](HostServer& server) { server.lastError_.set(message); });
        return nullptr;
    }
    return *listener;
}

// Network queue. A report from a listener that was cancelled meanwhile (a stop overtook its
// start) changes nothing.
void HostServer::listenerChanged(const std::shared_ptr<TlsListener>& listener, TlsListener::State state,
                                 const std::optional<std::string>& error, const std::string& name) {
    switch (state) {
        case TlsListener::State::ready:
            if (listener->state() != TlsListener::State::ready) return;
            advertise([name, port = listener->port()](ServiceAdvertiser& advertiser) {
                advertiser.advertise(name, port, ServiceAdvertiser::quibTxtRecord(name));
            });
            onMain([](HostServer& server) {
                server.isListening_.set(true);
                server.lastError_.set(std::nullopt);
            });
            break;
        case TlsListener::State::failed:
            advertise([](ServiceAdvertiser& advertiser) { advertiser.withdraw(); });
            onMain([message = error.value_or("")](HostServer& server) {
                server.isListening_.set(false);
                server.lastError_.set(message);
            });
            break;
        case TlsListener::State::cancelled: onMain([](HostServer& server) { server.isListening_.set(false); }); break;
        case TlsListener::State::setup: break;
    }
}

void HostServer::stop() {
    assertOn(*main_);
    (void)network_->sync([this] { closeEverything(); });
    neighbours_.injector->releaseAllButtons();
    neighbours_.injector->resetScrollPhase();
    onMain([](HostServer& server) {
        server.isListening_.set(false);
        server.connectedDevices_.set({});
    });
}

// Network queue. The connections report their end later, after the tables were emptied, so
// those ends count no failed handshake.
void HostServer::closeEverything() {
    if (listener_) {
        listener_->cancel();
        advertise([](ServiceAdvertiser& advertiser) { advertiser.withdraw(); });
    }
    listener_.reset();
    awayListener_.close();
    admission_.closeAll();
    for (auto& [key, client] : clients_) client->connection->cancel();
    clients_.clear();
}

// Any thread: the advertiser's calls run one after another on a queue of their own.
void HostServer::advertise(std::function<void(ServiceAdvertiser&)> call) {
    if (!advertiser_) return;
    queues_.advertise().post([advertiser = advertiser_, call = std::move(call)] { call(*advertiser); });
}

void HostServer::publishDevices() {
    network_->post([this] {
        std::set<std::string> hearing;
        for (const auto& [key, client] : clients_) {
            if (client->isListenChannel && client->deviceID) hearing.insert(*client->deviceID);
        }
        std::vector<ConnectedDevice> devices;
        for (const auto& [key, client] : clients_) {
            if (!client->isControlConnection() || !client->deviceID) continue;
            const std::string& id = *client->deviceID;
            devices.push_back({id, client->name, registry_->isApproved(id), hearing.contains(id)});
        }
        std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        onMain([devices = std::move(devices)](HostServer& server) { server.connectedDevices_.set(devices); });
    });
}

void HostServer::note(const std::string& text) {
    quibLog().info(pub(text));
    onMain([text](HostServer& server) { server.lastActivity_.set(text); });
}

std::string HostServer::hostDisplayName() const { return ServerSettings::hostDisplayName(*settings_, machineInfo_); }

std::string HostServer::sourceKey(const asio::ip::tcp::endpoint& endpoint) { return PeerAddress::sourceKey(endpoint); }

HostServer::Tables HostServer::inspect() {
    Tables tables;
    (void)network_->sync([&] {
        tables.pending = admission_.pending().size();
        tables.clients = clients_.size();
        if (listener_) {
            tables.listenerLimit = listener_->newConnectionLimit();
            tables.listenerPort = listener_->port();
        }
        if (const auto& away = awayListener_.listener()) {
            tables.awayListenerLimit = away->newConnectionLimit();
            tables.awayListenerPort = away->port();
        }
        for (const auto& [source, record] : admission_.throttles().records()) tables.throttles.emplace(source, record);
        for (const auto* table : {&admission_.pending(), &clients_}) {
            for (const auto& [key, client] : *table) {
                tables.backlogged += client->connection->isBacklogged() ? 1 : 0;
                tables.largestBacklog = std::max(tables.largestBacklog, client->connection->queuedBytes());
            }
        }
    });
    // Advertiser calls the network queue made before are done too.
    (void)queues_.advertise().sync([] {});
    return tables;
}

}  // namespace quib
