#include "QuibHost/Streaming/PanelStreamer.hpp"

#include <algorithm>

#include "QuibHost/Connection/TlsViewConnection.hpp"
#include "QuibHost/Streaming/PaneMirror.hpp"
#include "QuibHost/Streaming/VideoEncoder.hpp"
#include "QuibHost/Streaming/WindowCapture.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Required.hpp"

namespace quib {

PanelStreamer::ViewClient::ViewClient(std::shared_ptr<ViewConnection> connection, const ViewHelloPayload& hello)
    : connection(std::move(connection)) {
    adopt(hello);
}

bool PanelStreamer::ViewClient::adopt(const ViewHelloPayload& hello) {
    const std::int64_t width = clampedSide(hello.maxWidth);
    const std::int64_t height = clampedSide(hello.maxHeight);
    const Rect wanted = hello.cropRect();
    const bool changed = width != maxWidth || height != maxHeight || wanted != crop;
    name = hello.deviceName;
    maxWidth = width;
    maxHeight = height;
    crop = wanted;
    return changed;
}

bool PanelStreamer::ViewClient::canTakeNext(std::int64_t budget) const {
    return inFlightFrames == 0 || (inFlightFrames < VideoPacer::maxFramesInFlight && inFlightBytes < budget);
}

bool PanelStreamer::ViewClient::hasStalled(MonoTime now) const {
    return inFlightFrames > 0 && now - waitingSince >= stallLimit;
}

std::int64_t PanelStreamer::ViewClient::clampedSide(std::int64_t side) {
    return std::clamp(side, smallestSide, largestSide);
}

double PanelStreamer::readViewerAllowance(const Settings* settings) {
    if (!settings) return defaultViewerAllowance;
    return settings->get(viewerAllowanceKey);
}

PanelStreamer::Demand PanelStreamer::demandOf(const std::map<const void*, ViewClient>& clients) {
    if (clients.empty()) return {};
    const bool allStalled =
        std::all_of(clients.begin(), clients.end(), [](const auto& entry) { return entry.second.stalled; });
    Demand demand{largestSide, largestSide, {}};
    double left = 1, top = 1, right = 0, bottom = 0;
    for (const auto& [identity, client] : clients) {
        if (client.stalled && !allStalled) continue;
        demand.width = std::min(demand.width, client.maxWidth);
        demand.height = std::min(demand.height, client.maxHeight);
        left = std::min(left, client.crop.minX());
        top = std::min(top, client.crop.minY());
        right = std::max(right, client.crop.maxX());
        bottom = std::max(bottom, client.crop.maxY());
    }
    demand.crop = {left, top, right - left, bottom - top};
    return demand;
}

std::shared_ptr<PanelStreamer> PanelStreamer::create(Config config) {
    auto streamer = std::make_shared<PanelStreamer>(Passkey{}, std::move(config));
    streamer->begin();
    return streamer;
}

std::shared_ptr<PanelStreamer> PanelStreamer::onDesktop(Config config, const DesktopServices& desktop,
                                                        std::shared_ptr<ScreenAccess> screenAccess,
                                                        std::shared_ptr<VideoSessionFactory> sessions) {
    config.encoder = VideoEncoder::create({std::move(sessions), config.clock});
    config.makeCapture = [desktop, screenAccess = std::move(screenAccess), clock = config.clock,
                          settings = config.settings](PanelCapture::FrameHandler onFrame,
                                                      PanelCapture::StateHandler onState) {
        return WindowCapture::create({.desktop = desktop,
                                      .screenAccess = screenAccess,
                                      .clock = clock,
                                      .settings = settings,
                                      .maxEncodedSide = nullptr,
                                      .queue = nullptr,
                                      .passes = nullptr,
                                      .onFrame = std::move(onFrame),
                                      .onState = std::move(onState)});
    };
    return create(std::move(config));
}

PanelStreamer::PanelStreamer(Passkey, Config config)
    : main_(std::move(config.main)),
      targets_(required(std::move(config.targets), "PanelStreamer", "target store")),
      encoder_(required(std::move(config.encoder), "PanelStreamer", "encoder")),
      clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      tmux_(std::move(config.tmux)),
      tmuxControl_(std::move(config.tmuxControl)),
      viewerAllowance_(readViewerAllowance(config.settings.get())),
      interfaces_(config.interfaces ? std::move(config.interfaces) : [] { return InterfaceAddresses::list(); }),
      instrumentation_(config.instrumentation ? *config.instrumentation : Instrumentation::shared()),
      makeCapture_(required(std::move(config.makeCapture), "PanelStreamer", "capture")),
      makeMirror_(std::move(config.makeMirror)),
      control_(std::string(controlLabel), clock_) {}

PanelStreamer::~PanelStreamer() {
    {
        SharedMutexLock lock(presence_->mutex);
        presence_->alive = false;
    }
    closing_.store(true);
}

void PanelStreamer::begin() {
    capture_ = makeCapture_(
        whilePresent([this](std::shared_ptr<const PixelBuffer> picture, MonoTime at, const Rect& crop,
                            std::int64_t generation) { encodeAndSend(std::move(picture), at, crop, generation); }),
        whilePresent([this](const std::string& reason, bool canOpen) { sendState(reason, canOpen); }));
    const PaneSource::FrameHandler onPane =
        whilePresent([this](const ViewFrame& frame, const Bytes& payload) { paneFrame(frame, payload); });
    if (makeMirror_) mirror_ = makeMirror_(onPane);
    else mirror_ = PaneMirror::create({onPane, tmux_, clock_, nullptr, std::move(tmuxControl_)});
    makeCapture_ = nullptr;
    makeMirror_ = nullptr;
    watchTargets();
}

// The server's calls come on the network queue, which is the connection's.
void PanelStreamer::attachViewer(const std::shared_ptr<TlsConnection>& connection, const ViewHelloPayload& hello) {
    assertOn([&] { return connection->isOnItsQueue(); }, "network queue");
    attach(std::make_shared<TlsViewConnection>(connection), hello);
}

void PanelStreamer::detachViewer(const TlsConnection& connection) {
    assertOn([&] { return connection.isOnItsQueue(); }, "network queue");
    detach(&connection);
}

// A new viewer's link is looked up once, before the lock is taken: it does not change under a
// connection. Its unsent limit starts at the budget of the rate the encoder has.
void PanelStreamer::attach(std::shared_ptr<ViewConnection> connection, const ViewHelloPayload& hello) {
    const std::string link = interfaceHolding(connection->localAddress(), interfaces_());
    bool changed = true;
    std::shared_ptr<ViewConnection> added;
    std::int64_t applied = 0;
    {
        MutexLock guard(lock_);
        const void* identity = connection->identity();
        if (auto known = clients_.find(identity); known != clients_.end()) {
            changed = known->second.adopt(hello);
        } else {
            added = connection;
            ViewClient client(std::move(connection), hello);
            client.interfaceName = link;
            clients_.emplace(identity, std::move(client));
        }
        lastState_.reset();
        applied = appliedRate_;
    }
    if (added) added->limitNotSent(static_cast<std::size_t>(notSentLowWater(applied)));
    encoder_->forceKeyframe();
    capture_->requestFrame();
    mirror_->invalidate();
    refreshCeiling();
    if (!changed) return;
    quibLog().info("view: ", pub(hello.deviceName), " at ", hello.maxWidth, "x", hello.maxHeight);
    restartSource();
}

void PanelStreamer::detach(const void* identity) {
    bool remain = false;
    {
        MutexLock guard(lock_);
        if (clients_.erase(identity) == 0) return;
        remain = !clients_.empty();
    }
    viewerLeft(remain);
}

// With viewers left the demand may have changed; without, nothing is shown any more.
void PanelStreamer::viewerLeft(bool othersRemain) {
    if (othersRemain) {
        refreshCeiling();
        restartSource();
        return;
    }
    stopSource();
    quibLog().info("view: last viewer left, capture stopped");
}

std::optional<Rect> PanelStreamer::pointableWindowFrame() {
    const auto frame = capture_->windowFrame();
    if (!frame) return std::nullopt;
    SentWindow sent;
    {
        MutexLock guard(lock_);
        sent = sentWindow_;
    }
    if (sent.generation != capture_->currentGeneration()) return std::nullopt;
    if (clock_->now() - sent.at < std::chrono::duration<double>(viewerAllowance_)) return std::nullopt;
    return frame;
}

void PanelStreamer::sendState(const std::string& reason, bool canOpen) {
    ViewFrame frame;
    {
        MutexLock guard(lock_);
        if (lastState_ == reason) return;
        lastState_ = reason;
        frame = ViewFrame::state(reason, currentTitle_, canOpen, clock_->now());
    }
    send(frame, {}, SendPolicy::status, nullptr);
}

// Every frame of the mirror, text or state, goes to the viewers with nothing in flight; one
// that reaches nobody is sent again on the next poll. Once a viewer shows the pane, a state said
// before is worth saying again.
void PanelStreamer::paneFrame(const ViewFrame& frame, const Bytes& payload) {
    if (!send(frame, payload, SendPolicy::text, [this] { mirror_->invalidate(); })) return;
    MutexLock guard(lock_);
    lastState_.reset();
}

bool PanelStreamer::send(const ViewFrame& frame, const Bytes& payload, SendPolicy policy,
                         const std::function<void()>& dropped) {
    auto written = ViewFrameWriter::encode(frame, payload);
    if (!written) {
        if (dropped) dropped();
        return false;
    }
    Handed handed{.bytes = static_cast<std::int64_t>(written->size()),
                  .at = clock_->now(),
                  .interval = 0,
                  .video = policy == SendPolicy::video};
    const auto receivers = chooseReceivers(frame, policy, handed);
    if (receivers.empty()) {
        if (dropped) dropped();
        return false;
    }
    const auto message = std::make_shared<const Bytes>(std::move(*written));
    for (const auto& receiver : receivers) {
        receiver->send(message, whilePresent([this, to = std::weak_ptr<ViewConnection>(receiver),
                                              handed](Result<MonoTime> done) { sendCompleted(to, handed, done); }));
    }
    return true;
}

// In the map's order, under the lock; each receiver's counters grow by the frame.
std::vector<std::shared_ptr<ViewConnection>> PanelStreamer::chooseReceivers(const ViewFrame& frame, SendPolicy policy,
                                                                            Handed& handed) {
    std::vector<std::shared_ptr<ViewConnection>> receivers;
    MutexLock guard(lock_);
    const std::int64_t budget = pacer_.inFlightByteBudget();
    for (auto& [identity, client] : clients_) {
        if (policy == SendPolicy::video) {
            const bool busy = client.inFlightFrames > 0 && (client.inFlightFrames >= VideoPacer::maxFramesInFlight ||
                                                            client.inFlightBytes >= budget);
            if (busy) {
                client.missedFrame = true;
                continue;
            }
            if (frame.isKeyframe.value_or(false)) client.missedFrame = false;
        }
        if (policy == SendPolicy::text && client.inFlightFrames > 0) continue;
        if (client.inFlightFrames == 0) client.waitingSince = handed.at;
        ++client.inFlightFrames;
        client.inFlightBytes += handed.bytes;
        receivers.push_back(client.connection);
    }
    if (lastHandOver_ != MonoTime()) handed.interval = std::chrono::duration<double>(handed.at - lastHandOver_).count();
    if (policy == SendPolicy::video && !receivers.empty()) lastHandOver_ = handed.at;
    return receivers;
}

// A completion for a viewer that has left changes nothing; a failed send ends its viewer. A
// video frame's delivery tells the pacer how long the link took.
void PanelStreamer::sendCompleted(const std::weak_ptr<ViewConnection>& to, const Handed& handed,
                                  const Result<MonoTime>& written) {
    bool remain = false;
    bool resumed = false;
    {
        MutexLock guard(lock_);
        const auto connection = to.lock();
        auto client = connection ? clients_.find(connection->identity()) : clients_.end();
        if (client == clients_.end() || client->second.connection != connection) return;
        client->second.inFlightFrames = std::max<std::int64_t>(0, client->second.inFlightFrames - 1);
        client->second.inFlightBytes = std::max<std::int64_t>(0, client->second.inFlightBytes - handed.bytes);
        client->second.waitingSince = clock_->now();
        resumed = std::exchange(client->second.stalled, false);
        if (!written) {
            clients_.erase(client);
            remain = !clients_.empty();
        }
    }
    if (!written) return viewerLeft(remain);
    // A viewer that reads again has its say in the size again.
    if (resumed) restartSource();
    if (handed.video)
        noteVideoDelivered(handed.bytes, std::chrono::duration<double>(clock_->now() - handed.at).count(),
                           handed.interval);
}

// A lower ceiling cuts the rate at once; a higher one only lets later raises go further.
void PanelStreamer::refreshCeiling() {
    {
        MutexLock guard(lock_);
        const bool peerToPeer = std::any_of(clients_.begin(), clients_.end(),
                                            [](const auto& entry) { return isPeerToPeer(entry.second.interfaceName); });
        const std::int64_t wanted = peerToPeer ? peerToPeerCeiling : ceiling;
        if (wanted == pacer_.ceiling()) return;
        pacer_.setCeiling(wanted);
    }
    applyRateIfDue(false);
}

}  // namespace quib
