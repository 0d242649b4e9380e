#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <asio/ip/tcp.hpp>

#include "Platform/InterfaceWatch.hpp"
#include "Platform/Permissions.hpp"
#include "Platform/ServiceAdvertiser.hpp"
#include "Platform/SleepWatch.hpp"
#include "QuibHost/Connection/NetworkQueue.hpp"
#include "QuibHost/Connection/TlsConnection.hpp"
#include "QuibHost/Connection/TlsListener.hpp"
#include "QuibHost/Server/Admission.hpp"
#include "QuibHost/Server/AwayListener.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/Neighbours/HostServerNeighbours.hpp"
#include "QuibHost/Server/NetworkInterfaces.hpp"
#include "QuibHost/Server/PointerRate.hpp"
#include "QuibHost/Server/ServerQueues.hpp"
#include "QuibHost/Server/ServerSettings.hpp"
#include "QuibHost/Server/SystemWatch.hpp"
#include "QuibHost/Server/ThrottleTable.hpp"
#include "QuibHost/Server/WaitingRequests.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/InterfaceList.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Runtime/Settings.hpp"
#include "Shared/ApprovalResolution.hpp"
#include "Shared/ClientMessage.hpp"
#include "Shared/HostMessage.hpp"
#include "Shared/HostStatus.hpp"
#include "Shared/MacApp.hpp"

namespace quib {

// The one owner of every phone connection: the local TLS listener and its advertisement,
// accepted connections under one budget of 8, the 10-second first-line deadline, the lock-out
// of sources whose handshakes keep failing, the receive loop that turns bytes into lines, the
// dispatch of each line, and the replies.
//
// Threads: start, stop and the published values belong to the main executor. Listeners,
// connections and every table belong to the network queue (one thread). Deliveries, menus and
// the catalog have serial queues of their own; tmux panes are listed on the target store's tmux
// queue. Operations marked "any thread" post their work.
class HostServer final : public std::enable_shared_from_this<HostServer> {
public:
    using Client = HostServerClient;  // QuibHost/Server/HostServerClient.hpp
    using ClientPtr = std::shared_ptr<Client>;
    // How work queued on the main executor refers to a client: weakly, since such work may
    // outlive the server, and a connection must not outlive the network queue it runs on.
    using ClientRef = std::weak_ptr<Client>;

    // One row of the menu-bar panel's device list.
    struct ConnectedDevice {
        std::string id;
        std::string name;
        bool approved = false;
        bool isHearing = false;  // the device has a listen channel open
        bool operator==(const ConnectedDevice&) const = default;
    };

    struct Config {
        std::shared_ptr<Executor> main;
        std::shared_ptr<Settings> settings;
        std::shared_ptr<Clock> clock;
        std::shared_ptr<DeviceRegistry> registry;
        std::shared_ptr<ServiceAdvertiser> advertiser;
        HostServerNeighbours neighbours;  // every one required
        // Where the local listener binds: "::" is dual-stack on every interface.
        std::string listenAddress = "::";
        std::filesystem::path machineInfo = ServerSettings::machineInfoPath;
        // What the desktop lets the host do, for the status phones are sent; required.
        std::shared_ptr<Permissions> permissions = nullptr;
        // What the system watch listens to; none: sleep, wake or network changes go unnoticed.
        std::shared_ptr<SleepWatch> sleep = nullptr;
        std::shared_ptr<InterfaceWatch> interfaces = nullptr;
        // The interface addresses, kept between the watch's reports; share it with whoever else
        // reads them (remote reach). None: the server's own.
        std::shared_ptr<InterfaceList> interfaceList = nullptr;
    };

    // Decides whether a decoded message of a client is dispatched; it sends its own refusals.
    using Gate = std::function<bool(const ClientMessage& message, Client& client)>;

    // Admission's rules (Admission.hpp).
    static constexpr int connectionBudget = Admission::connectionBudget;
    static constexpr std::size_t pendingPerSource = Admission::pendingPerSource;
    static constexpr std::chrono::seconds pendingGrace = Admission::pendingGrace;
    // How long a connection with more than its backlog limit waiting may read nothing of it
    // before it is closed.
    static constexpr std::chrono::seconds backlogDeadline{30};
    static constexpr std::chrono::seconds helloDeadline{10};
    // How long an upload may go without a whole frame before its connection is closed.
    static constexpr std::chrono::seconds uploadStallDeadline{60};
    // How long a phone not approved may keep its connection, and a slot, waiting for approval.
    static constexpr std::chrono::seconds approvalDeadline{60};
    // How long a view or listen channel may take none of the bytes in flight to it, and how
    // often that is looked at.
    static constexpr std::chrono::seconds frameStallDeadline{60};
    static constexpr std::chrono::seconds frameStallCheck{5};
    // The longest device name a hello keeps, in characters; the rest is cut off.
    static constexpr std::size_t longestDeviceName = 64;
    static constexpr std::size_t mostWaiting = Admission::mostWaiting;
    static constexpr std::int64_t maxLineBytes = 1 << 20;
    static constexpr std::chrono::milliseconds interfaceSettle = SystemWatch::interfaceSettle;

    static std::shared_ptr<HostServer> create(Config config);
    ~HostServer();
    HostServer(const HostServer&) = delete;
    HostServer& operator=(const HostServer&) = delete;

    // Published on the main executor.
    Published<bool>& isListening() { return isListening_; }
    Published<std::vector<ConnectedDevice>>& connectedDevices() { return connectedDevices_; }
    Published<std::optional<std::string>>& lastError() { return lastError_; }
    Published<std::optional<std::string>>& lastActivity() { return lastActivity_; }

    // Main executor. start stops everything, then listens anew with the code's key. stop closes
    // both listeners and every connection and returns once the network queue has done so; it
    // must not be called from the network queue's tasks.
    void start(const std::string& pairingCode);
    void stop();
    const std::string& pairingCode() const { return pairingCode_; }

    // Network queue.
    void accept(std::shared_ptr<TlsConnection> connection, bool away);
    void refreshConnectionLimit();
    void finish(const ClientPtr& client, const std::optional<std::string>& error);
    void noteHandshakeFailure(const std::string& source, const std::optional<std::string>& error);
    void receive(const ClientPtr& client);
    void handle(const std::string& line, const ClientPtr& client);
    // The upload is taken by value: a refusal or completion clears the client's reference to it.
    void absorb(std::string_view data, std::shared_ptr<UploadSession> upload, const ClientPtr& client);
    void watchUploadStall(const ClientPtr& client, MonoTime::duration delay);

    // Any thread.
    void publishDevices();
    void note(const std::string& text);
    std::string hostDisplayName() const;
    static std::string sourceKey(const asio::ip::tcp::endpoint& endpoint);

    // Any thread: one host message as one line on the client's connection, after every earlier
    // send to it; with `thenClose` the connection closes once the line is written. A message that
    // cannot be encoded is dropped silently, but still closes the connection when asked to.
    void send(const HostMessage& message, const Client& client, bool thenClose = false);
    void sendRaw(std::string bytes, const Client& client, bool thenClose = false);
    // Any thread: as send, for work that holds its client weakly (see ClientRef). The line is
    // encoded here and written from the network queue, after every earlier send there; a client
    // that has gone by then gets nothing.
    void reply(const ClientRef& to, const HostMessage& message, bool thenClose = false);
    // Any thread: a line its caller encoded, or the failure to encode it, which writes nothing
    // but closes all the same when asked to.
    void sendEncoded(Result<std::string> line, const Client& client, bool thenClose = false);

    // Any thread: encoded here once, then written on the network queue to every control
    // connection of an approved device. A message that cannot be encoded is dropped silently.
    void broadcast(const HostMessage& message);

    // Any thread; each posts its work to the network queue, in call order. The status goes to
    // every control connection past its hello, approved or not, built for its own device; the
    // targets (saved, then provisional, read here) to those of approved devices.
    void broadcastStatus();
    void broadcastTargets();
    void broadcastRemoteAccess();
    void startAway();
    void stopAway();
    // Network queue: tells one client how to reach the host from away. The payload is built on
    // the main executor and sent from the network queue, after whatever was sent before.
    void sendRemoteAccess(const ClientPtr& client);

    // Main executor: the device loses its approval and its away key and push subscription; its
    // connections are cut without a word; everyone else is sent the new status. The result says
    // whether the revocation is saved (DeviceRegistry::revoke).
    Result<void> revoke(const std::string& deviceID);

    // Any thread: what a phone is told about the host, built for one device (none: not approved).
    HostStatus status(const std::optional<std::string>& deviceID) const;

    // Network queue: the devices of the control connections, which are not pushed alerts while
    // they are connected.
    std::set<std::string> connectedDeviceIDs() const;

    // Main executor: how an approval request ended goes to the push sender first, then, on the
    // network queue, to the control connections of approved devices and to the connection that
    // asked, approved or not.
    void deliverResolution(const ApprovalResolution& resolution);

    using ClientTable = Admission::ClientTable;
    // Network queue: who is written a resolution, in the table's order. Every connection holding
    // the request's id lets go of it, and the last of them in the table's order is the asker;
    // the audience is the control connections of devices that `isApproved` accepts, and the
    // asker. Side channels never get it: a JSON line would break their frames.
    static std::vector<ClientPtr> resolutionAudience(const ClientTable& clients, const std::string& requestID,
                                                     const std::function<bool(const std::string&)>& isApproved);

    // Main executor, once at launch. The system watch stops the server before the computer
    // sleeps (holding the sleep back until it has), starts it again on wake, and restarts it when
    // the set of active network interfaces changes. The remote-access watch tells approved phones
    // again whenever the ways to reach the host or the away status change.
    void beginApprovals();
    void beginSystemWatch();
    void beginRemoteAccessWatch();

    // Replaces the gate (network queue or before start).
    void setGate(Gate gate) { gate_ = std::move(gate); }

    NetworkQueue& networkQueue() { return *network_; }
    SerialQueue& injectionQueue() { return queues_.injection(); }
    SerialQueue& menuQueue() { return queues_.menu(); }
    SerialQueue& catalogQueue() { return queues_.catalog(); }
    const HostServerNeighbours& neighbours() const { return neighbours_; }

    // A consistent view of the connection tables, taken on the network queue once the advertiser
    // calls queued before have run (diagnostics, tests).
    struct Tables {
        std::size_t pending = 0;
        std::size_t clients = 0;
        std::optional<int> listenerLimit;
        std::optional<std::uint16_t> listenerPort;
        std::optional<int> awayListenerLimit;
        std::optional<std::uint16_t> awayListenerPort;  // of the running away listener
        std::map<std::string, Throttle> throttles;
        std::size_t backlogged = 0;      // connections that stopped being read: too much waits for them
        std::size_t largestBacklog = 0;  // the most bytes waiting for one connection
    };
    Tables inspect();

private:
    struct Passkey {};

public:
    HostServer(Passkey, Config config);

private:
    // The neighbours, after checking that none is missing.
    static HostServerNeighbours wired(HostServerNeighbours neighbours);
    void subscribe();
    // Who is approved, and under which names: what a change of the approved list tells phones.
    using ShownDevices = std::vector<std::pair<std::string, std::string>>;
    static ShownDevices shownOf(const DeviceRegistry::DeviceList& approved);
    void approvedChanged(const DeviceRegistry::DeviceList& approved);
    std::shared_ptr<TlsListener> makeListener(const std::string& pairingCode);
    void listenerChanged(const std::shared_ptr<TlsListener>& listener, TlsListener::State state,
                         const std::optional<std::string>& error, const std::string& name);
    void closeEverything();
    void connectionChanged(const ClientPtr& client, TlsConnection::State state,
                           const std::optional<std::string>& error);
    void logReady(const Client& client);
    void armHelloDeadline(const ClientPtr& client);
    void armApprovalDeadline(const ClientPtr& client);
    void watchFrameStall(const ClientPtr& client);
    using Newcomer = Admission::Newcomer;
    void place(Newcomer newcomer);
    void startClient(std::shared_ptr<TlsConnection> connection, const std::string& source, bool away);
    void admitWaiting();
    void weighWaitingLater();
    void watchBacklog(const ClientPtr& client);
    void judgeBacklog(const ClientPtr& client, std::uint64_t episode, std::uint64_t written);
    void take(const std::string& data, const ClientPtr& client);
    // Every client message case's route: whether it passes before approval and what handles it
    // (HostServerDispatch.cpp). The gate and the dispatch both read it.
    struct Routes;
    static bool passesBeforeApproval(const ClientMessage::Value& value);
    void dispatch(ClientMessage& message, const ClientPtr& client);
    void answerPing(const ClientMessage::Ping& ping, const Client& client);
    void movePointer(const ClientMessage::Move& move);
    void scrollBy(double dx, double dy);
    void countMove();
    void pointAtPanel(double x, double y);
    void clickButton(const ClientMessage::Click& click, Client& client);
    // The desktop trusts the host and the injector's accessibility interface is not disabled.
    bool accessibilityGranted() const;
    void addTarget(QuibTarget target, const ClientPtr& client);
    void updateTarget(QuibTarget target, const ClientPtr& client);
    void addTargets(std::vector<QuibTarget> targets, const ClientPtr& client);
    void removeTarget(const std::string& id, const ClientPtr& client);
    void reorderTargets(std::vector<std::string> ids);
    void requestPanes(const ClientPtr& client);
    void deliverText(TextPayload payload, const ClientPtr& client);
    void pressKey(KeyPayload payload, const ClientPtr& client);
    void focusTarget(const std::string& id, const ClientPtr& client);
    // Any thread: the app's windows for a target, in chunks of `windows` messages (at least one),
    // each sent as it is encoded. With `naming`, a note about the app that begins "is" gets the
    // target's name in front; otherwise the note goes as the roster gave it. `joined` holds the
    // requests that wait for this list, told when it starts.
    void sendWindowList(const QuibTarget& target, const std::string& targetID, const ClientRef& to, bool naming,
                        std::shared_ptr<WaitingRequests> joined = nullptr);
    // Vocabulary, the app catalog, windows, menus, agents, approvals and push registration.
    void requestVocabulary(const std::string& targetID, const ClientPtr& client);
    void requestApps(bool refresh, const ClientPtr& client);
    void requestWindows(const std::string& targetID, const ClientPtr& client);
    void focusWindow(const std::string& targetID, std::optional<std::uint32_t> windowID, const ClientPtr& client);
    void openWindow(const std::string& targetID, std::optional<std::uint32_t> windowID, const ClientPtr& client);
    // Injection queue: raising the target's window and pinning the target to it, or unpinning
    // it; the target becomes active. Pinning notes the target's name, ": ", `notePrefix` and the
    // window, and replies a toast of `toastPrefix` and the window's title.
    void raiseWindow(const QuibTarget& target, std::uint32_t windowID, const ClientRef& to);
    void unpinWindow(const QuibTarget& target, const ClientRef& to);
    void pinWindow(const QuibTarget& target, std::uint32_t windowID, const std::string& title,
                   std::string_view notePrefix, std::string_view toastPrefix, const ClientRef& to);
    void requestAppIcons(std::vector<std::string> bundleIDs, const ClientPtr& client);
    // Catalog queue: one chunk of icons, written from the network queue; whether the client
    // still takes more (it is there, not closing, and reading what it is sent).
    bool sendIcons(std::vector<MacApp> apps, std::int64_t sequence, bool isFinal, const ClientRef& to);
    void requestMenu(const std::string& bundleID, bool refresh, const ClientPtr& client);
    void agentEvent(AgentEvent event, const ClientPtr& client);
    void requestApproval(ApprovalRequest request, const ClientPtr& client);
    void decideApproval(ClientMessage::ApprovalDecision decision, const ClientPtr& client);
    void sendPendingApprovals(const ClientPtr& client);
    void registerPush(PushRegistration registration, const ClientPtr& client);
    bool isPermitted(const ClientMessage& message, Client& client);
    void greet(const HelloPayload& hello, const ClientPtr& client);
    void welcome(const ClientPtr& client, bool approved);
    void refuseUntilApproved(Client& client);
    // "Waiting for approval on <host>" and the ending that names the menu item to open.
    std::string waitForApprovalText(std::string_view ending = panelEnding) const;
    void writeToApproved(const std::string& line);

    // The four hellos with which a connection leaves the line protocol.
    enum class SideChannel { view, listen, upload, still };
    static constexpr std::string_view panelEnding = said<" \u2014 open ", HostWords::panel>;
    bool passesDeviceCheck(SideChannel channel, const std::string& deviceID, const std::string& deviceName,
                           const Client& client);
    void sendVocabulary(QuibTarget target, const ClientPtr& client);
    void becomeFrameChannel(SideChannel channel, const std::string& deviceID, const std::string& deviceName,
                            const ClientPtr& client);
    void openViewChannel(const ViewHelloPayload& hello, const ClientPtr& client);
    void openListenChannel(const ListenHelloPayload& hello, const ClientPtr& client);
    void openStillChannel(const StillRequest& request, const ClientPtr& client);
    void answerStill(StillCaptureService::Outcome outcome, const Client& client);
    // Any thread: the lines are written on the network queue, in order, to the client if it is
    // still there (it is looked up there, where clients live); with `thenClose` the connection
    // closes after the last one, even when there is none.
    static void sendLater(const std::shared_ptr<NetworkQueue>& network, ClientRef to, std::vector<std::string> lines,
                          bool thenClose = false);
    void openUpload(const AttachmentManifest& manifest, const ClientPtr& client);
    void deliver(std::vector<UploadAttachment> attachments, const std::shared_ptr<UploadSession>& upload,
                 const ClientPtr& client);
    void deliverUpload(const std::vector<UploadAttachment>& attachments, const UploadSession& upload,
                       const QuibTarget& target, const ClientRef& to, bool isLast);
    void advertise(std::function<void(ServiceAdvertiser&)> call);
    void admit(const ClientPtr& client);
    void startAwayNow();
    void listenAway(std::vector<QuibTransport::Key> keys, std::uint16_t port);
    void awayListenerChanged(TlsListener::State state, const std::optional<std::string>& error, std::uint16_t port,
                             std::size_t deviceCount);
    void goingToSleep();
    void wake();
    void onMain(std::function<void(HostServer&)> work);
    void onInjection(std::function<void(HostServer&)> work);
    void onCatalog(std::function<void(HostServer&)> work);
    void onMenu(std::function<void(HostServer&)> work);
    // The target store's tmux queue.
    void onPanes(std::function<void(HostServer&)> work);

    std::shared_ptr<Executor> main_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<DeviceRegistry> registry_;
    std::shared_ptr<ServiceAdvertiser> advertiser_;
    std::shared_ptr<Permissions> permissions_;
    HostServerNeighbours neighbours_;
    asio::ip::address listenAddress_;
    std::filesystem::path machineInfo_;

    Published<bool> isListening_;
    Published<std::vector<ConnectedDevice>> connectedDevices_;
    Published<std::optional<std::string>> lastError_;
    Published<std::optional<std::string>> lastActivity_;

    // Main executor.
    std::string pairingCode_;
    std::vector<Subscription> subscriptions_;
    ShownDevices shownApproved_;

    // Network queue.
    std::shared_ptr<TlsListener> listener_;
    AwayListener awayListener_;
    // The connections not past their first line, the newcomers waiting and the lock-outs.
    Admission admission_;
    ClientTable clients_;  // past their first line
    Gate gate_;
    // The pointer-move rate of every connection together.
    PointerRate pointerRate_;
    // Sleep, wake and the network interfaces.
    SystemWatch systemWatch_;

    // Declared last so they stop first; the network queue outlives the serial queues, whose
    // tasks may still send.
    std::shared_ptr<NetworkQueue> network_;
    ServerQueues queues_;
};

}  // namespace quib
