// The window's pictures: the encode gate, the video frame built from each compressed picture,
// and the rate that follows what the viewers' links deliver.

#include <cmath>
#include <cstdlib>

#include <asio/ip/address.hpp>

#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

std::string PanelStreamer::interfaceHolding(const std::string& address,
                                            const std::vector<InterfaceAddresses::Entry>& entries) {
    std::error_code error;
    const auto wanted = asio::ip::make_address(address, error);
    if (error) return {};
    for (const auto& entry : entries) {
        const auto own = asio::ip::make_address(entry.host.substr(0, entry.host.find('%')), error);
        if (error) continue;
        // A link-local address matches whatever its zone.
        if (own == wanted || (own.is_v6() && wanted.is_v6() && own.to_v6().to_bytes() == wanted.to_v6().to_bytes()))
            return entry.name;
    }
    return {};
}

// Peer-to-peer wireless links: Apple's "awdl" and Linux's Wi-Fi Direct groups.
bool PanelStreamer::isPeerToPeer(std::string_view interfaceName) {
    return interfaceName.starts_with("awdl") || interfaceName.starts_with("p2p-");
}

std::int64_t PanelStreamer::notSentLowWater(std::int64_t bitRate) { return VideoPacer(bitRate).inFlightByteBudget(); }

// On the capture's queue. A viewer that missed a frame, or a new window, needs a key frame.
void PanelStreamer::encodeAndSend(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime,
                                  const Rect& crop, std::int64_t generation) {
    if (!picture) return;
    if (generation != lastEncodedGeneration_) {
        lastEncodedGeneration_ = generation;
        encoder_->forceKeyframe();
    }
    if (needsKeyframe()) encoder_->forceKeyframe();
    Encoding encoding{.crop = crop, .generation = generation};
    const auto rates = passGate(encoding.epoch);
    if (!rates) return;
    encoding.captureTime = static_cast<std::uint64_t>(clock_->now().time_since_epoch().count());
    encoding.width = picture->width();
    encoding.height = picture->height();
    if (!encoder_->prepare(encoding.width, encoding.height, rates->bitRate, rates->frameRate)) {
        encodeFinished(encoding);
        return;
    }
    const bool taken = encoder_->encode(std::move(picture), presentationTime,
                                        whilePresent([this, encoding](std::optional<PanelEncoder::Output> output) {
                                            videoEncoded(encoding, std::move(output));
                                        }));
    if (!taken) encodeFinished(encoding);
}

// A viewer that missed a frame needs a key frame, but only once it can take the next one: a
// viewer that is still busy would not get it, and the others would pay for it. A viewer that has
// stalled counts for nothing here, and its say in the size goes too, until it takes a frame.
bool PanelStreamer::needsKeyframe() {
    bool missed = false;
    bool stallsChanged = false;
    std::vector<std::string> stalledNow;
    {
        MutexLock guard(lock_);
        const MonoTime now = clock_->now();
        const std::int64_t budget = pacer_.inFlightByteBudget();
        for (auto& [identity, client] : clients_) {
            const bool stalled = client.hasStalled(now);
            if (stalled != client.stalled) {
                stallsChanged = true;
                if (stalled) stalledNow.push_back(client.name);
            }
            client.stalled = stalled;
            missed = missed || (client.missedFrame && !stalled && client.canTakeNext(budget));
        }
    }
    for (const auto& name : stalledNow) quibLog().info("view: ", pub(name), " has taken nothing for 3 s");
    if (stallsChanged) restartSource();
    return missed;
}

// At most one picture in the encoder, and only when some viewer can take what comes out: one
// with nothing in flight, or with one frame smaller than the byte budget.
std::optional<PanelStreamer::Rates> PanelStreamer::passGate(std::int64_t& epoch) {
    MutexLock guard(lock_);
    const std::int64_t budget = pacer_.inFlightByteBudget();
    const bool ready = std::any_of(clients_.begin(), clients_.end(), [budget](const auto& entry) {
        const ViewClient& client = entry.second;
        return client.inFlightFrames == 0 || (client.inFlightFrames == 1 && client.inFlightBytes < budget);
    });
    if (encodesInFlight_ > 0 || !ready) {
        pictureTurnedAway_ = !clients_.empty();
        return std::nullopt;
    }
    pictureTurnedAway_ = false;
    ++encodesInFlight_;
    epoch = sourceEpoch_;
    return Rates{pacer_.bitrate(), pacer_.framesPerSecond()};
}

// Counts a picture out of the encoder; false when it belongs to a source stopped since, whose
// count was already cleared.
bool PanelStreamer::encodeFinished(const Encoding& encoding) {
    {
        MutexLock guard(lock_);
        if (encoding.epoch != sourceEpoch_) return false;
        encodesInFlight_ = std::max<std::int64_t>(0, encodesInFlight_ - 1);
    }
    askAgainIfTurnedAway();
    return true;
}

void PanelStreamer::askAgainIfTurnedAway() {
    {
        MutexLock guard(lock_);
        if (!std::exchange(pictureTurnedAway_, false)) return;
    }
    capture_->requestFrame();
}

// On the encoder's thread.
void PanelStreamer::videoEncoded(const Encoding& encoding, std::optional<PanelEncoder::Output> output) {
    if (!encodeFinished(encoding) || !output) return;
    std::string title;
    {
        MutexLock guard(lock_);
        title = currentTitle_;
        lastState_.reset();
    }
    ViewFrame frame = ViewFrame::make(ViewFrame::Kind::video, std::move(title), encoding.captureTime);
    frame.codec = output->codec;
    frame.isKeyframe = output->isKeyframe;
    frame.width = encoding.width;
    frame.height = encoding.height;
    if (!output->parameterSets.empty()) frame.parameterSets = std::move(output->parameterSets);
    frame.cornerRadius = capture_->cornerFraction();
    frame.pointer = capture_->pointerInWindow();
    frame.setCrop(encoding.crop);
    if (send(frame, output->data, SendPolicy::video, [this] { noteVideoDropped(); }))
        noteSent(encoding.generation, output->isKeyframe);
}

void PanelStreamer::noteSent(std::int64_t generation, bool isKeyframe) {
    MutexLock guard(lock_);
    if (isKeyframe && generation != sentWindow_.generation) sentWindow_ = {generation, clock_->now()};
}

void PanelStreamer::noteVideoDelivered(std::int64_t bytes, double seconds, double interval) {
    {
        MutexLock guard(lock_);
        pacer_.noteDelivered(bytes, seconds, interval);
    }
    askAgainIfTurnedAway();
    reportRate();
    applyRateIfDue(true);
}

// A frame nobody could take: everyone needs a key frame, and the link is congested.
void PanelStreamer::noteVideoDropped() {
    {
        MutexLock guard(lock_);
        for (auto& [identity, client] : clients_) client.missedFrame = true;
        pacer_.noteDropped();
    }
    applyRateIfDue(false);
}

// The pacer answers true only for moves of an eighth, which its raises of a tenth never are; so
// the rate is compared with what the encoder has, not with the pacer's last answer. Reaching
// the ceiling or the floor is applied however small the last step.
void PanelStreamer::applyRateIfDue(bool logged) {
    Rates rates;
    std::vector<std::shared_ptr<ViewConnection>> connections;
    {
        MutexLock guard(lock_);
        const std::int64_t rate = pacer_.bitrate();
        const bool atBound = rate == pacer_.ceiling() || rate == VideoPacer::floor;
        if (rate == appliedRate_ || (!atBound && std::llabs(rate - appliedRate_) * 8 < appliedRate_)) return;
        appliedRate_ = rate;
        rates = {rate, pacer_.framesPerSecond()};
        for (const auto& [identity, client] : clients_) connections.push_back(client.connection);
    }
    encoder_->updateRate(rates.bitRate, rates.frameRate);
    if (logged) quibLog().info("view: ", rates.bitRate / 1000, " kbps at ", std::lround(rates.frameRate), " fps");
    const auto lowWater = static_cast<std::size_t>(notSentLowWater(rates.bitRate));
    for (const auto& connection : connections) connection->limitNotSent(lowWater);
}

void PanelStreamer::reportRate() {
    if (!instrumentation_.isEnabled()) return;
    std::int64_t rate = 0;
    double frameRate = 0;
    std::optional<double> goodput;
    {
        MutexLock guard(lock_);
        const MonoTime now = clock_->now();
        if (lastReportAt_ != MonoTime() && now - lastReportAt_ < std::chrono::seconds(1)) return;
        lastReportAt_ = now;
        rate = pacer_.bitrate();
        frameRate = pacer_.framesPerSecond();
        goodput = pacer_.goodput();
    }
    const std::string link = goodput ? std::to_string(static_cast<std::int64_t>(*goodput * 8 / 1000)) + " kbps measured"
                                     : std::string("not measured");
    quibLog().info("view: sending ", rate / 1000, " kbps at ", std::lround(frameRate), " fps, link ", pub(link));
}

}  // namespace quib
