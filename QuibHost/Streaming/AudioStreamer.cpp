#include "QuibHost/Streaming/AudioStreamer.hpp"

#include <algorithm>

#include "QuibHost/Connection/TlsListenConnection.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/AudioChannel.hpp"

namespace quib {

std::shared_ptr<AudioStreamer> AudioStreamer::make(Environment environment) {
    if (!environment.clock) environment.clock = SystemClock::shared();
    auto streamer = std::make_shared<AudioStreamer>(Passkey{}, std::move(environment));
    streamer->start();
    return streamer;
}

AudioStreamer::AudioStreamer(Passkey, Environment environment)
    : environment_(std::move(environment)),
      instrumentation_(environment_.instrumentation ? *environment_.instrumentation : Instrumentation::shared()),
      lowWater_(notSentLowWater(AudioEncoder::bitrate(*environment_.settings))),
      control_(std::make_shared<SerialQueue>(std::string(queueLabel), environment_.clock)),
      encoder_(environment_.converters, environment_.settings) {}

// Capture calls back into the streamer only while it lives.
void AudioStreamer::start() {
    const std::weak_ptr<AudioStreamer> weak = weak_from_this();
    capture_ = SystemAudio::make(
        {environment_.capture, environment_.screenAccess, environment_.clock},
        [weak](const PcmBuffer& buffer, std::uint64_t captureTime) {
            if (const auto self = weak.lock()) self->encodeAndSend(buffer, captureTime);
        },
        [weak](const std::string& text) {
            if (const auto self = weak.lock()) self->sendState(text);
        });
}

AudioStreamer::~AudioStreamer() {
    if (capture_) capture_->stop();
}

std::size_t AudioStreamer::notSentLowWater(std::int64_t bitrate) {
    const auto bytes = static_cast<std::size_t>(std::max(0.0, static_cast<double>(bitrate) / 8 * lowWaterSeconds));
    return std::max(bytes, minimumLowWater);
}

bool AudioStreamer::isAllowed() const { return environment_.settings->get(allowedKey); }

AudioFrame AudioStreamer::stateFrame(std::string_view text) const {
    return AudioFrame::state(std::string(text), environment_.clock->now());
}

bool AudioStreamer::isAttached(const ListenerPtr& listener) const {
    const auto found = listeners_.find(listener->connection->identity());
    return found != listeners_.end() && found->second == listener;
}

std::vector<AudioStreamer::ListenerPtr> AudioStreamer::allListeners() {
    MutexLock lock(lock_);
    std::vector<ListenerPtr> all;
    for (const auto& [identity, listener] : listeners_) all.push_back(listener);
    return all;
}

// The server's calls come on the network queue, which is the connection's.
void AudioStreamer::attachListener(const std::shared_ptr<TlsConnection>& connection, const ListenHelloPayload& hello) {
    assertOn([&] { return connection->isOnItsQueue(); }, "network queue");
    attach(std::make_shared<TlsListenConnection>(connection), hello);
}

void AudioStreamer::detachListener(const TlsConnection& connection) {
    assertOn([&] { return connection.isOnItsQueue(); }, "network queue");
    detach(&connection);
}

// A repeated hello updates the listener: pausing drops what waits for it, and every hello makes
// the next frame describe the format.
void AudioStreamer::attach(const std::shared_ptr<ListenConnection>& connection, const ListenHelloPayload& hello) {
    ListenerPtr listener;
    bool isNew = false;
    {
        MutexLock lock(lock_);
        ListenerPtr& slot = listeners_[connection->identity()];
        if (!slot) {
            slot = std::make_shared<Listener>();
            slot->connection = connection;
            isNew = true;
        } else if (hello.isPaused() && !slot->isPaused) {
            slot->queue.clear();
            slot->queuedSeconds = 0;
        }
        slot->name = hello.deviceName;
        slot->isPaused = hello.isPaused();
        wantsDescribe_ = true;
        listener = slot;
    }
    if (isNew) {
        if (const auto limited = connection->setNotSentLowWater(lowWater_); !limited)
            quibLog().error("listen: ", pub(hello.deviceName), ": ", pub(limited.error().message));
    }
    if (!isAllowed()) {
        sendDirectly(stateFrame(notAllowedText), {listener});
        return;
    }
    if (isNew) quibLog().info("listen: ", pub(hello.deviceName), " attached");
    restart();
}

void AudioStreamer::detach(const void* connection) {
    std::string name;
    bool nobodyLeft = false;
    {
        MutexLock lock(lock_);
        const auto found = listeners_.find(connection);
        if (found == listeners_.end()) return;
        name = found->second->name;
        listeners_.erase(found);
        nobodyLeft = listeners_.empty();
    }
    if (!nobodyLeft) {
        restart();
        return;
    }
    control_->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->stopNow();
    });
    quibLog().info("listen: ", pub(name), " left, nobody listening");
}

void AudioStreamer::setAllowed(bool allowed) {
    (void)environment_.settings->setBool(allowedKey, allowed);  // a failure is logged by the settings
    if (allowed) {
        restart();
        return;
    }
    {
        MutexLock order(sendOrder_);
        for (const auto& listener : allListeners()) sendDirectly(stateFrame(notAllowedText), {listener});
    }
    control_->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->stopNow();
    });
}

// Paused listeners count: capture runs for them, though nothing is encoded.
void AudioStreamer::restart() {
    control_->post([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self) return;
        bool anyone = false;
        {
            MutexLock lock(self->lock_);
            anyone = !self->listeners_.empty();
        }
        if (!anyone || !self->isAllowed()) {
            self->stopNow();
            return;
        }
        {
            MutexLock lock(self->lock_);
            self->lastState_.reset();
        }
        self->capture_->start();
    });
}

// On the control queue. The frame number and the describe countdown run on; a send in flight
// completes on its own.
void AudioStreamer::stopNow() {
    capture_->stop();
    {
        MutexLock lock(encodeLock_);
        encoder_.reset();
        pending_.clear();
    }
    MutexLock lock(lock_);
    lastState_.reset();
    for (const auto& [identity, listener] : listeners_) {
        listener->queue.clear();
        listener->queuedSeconds = 0;
    }
}

// On capture's audio queue. Nothing is encoded while nobody would hear it.
void AudioStreamer::encodeAndSend(const PcmBuffer& buffer, std::uint64_t captureTime) {
    bool anyoneHears = false;
    {
        MutexLock lock(lock_);
        anyoneHears = std::any_of(listeners_.begin(), listeners_.end(),
                                  [](const auto& entry) { return !entry.second->isPaused; });
    }
    if (!anyoneHears || !isAllowed()) {
        MutexLock lock(encodeLock_);
        pending_.clear();
        return;
    }
    const auto frame = encodeBuffer(buffer, captureTime);
    if (!frame) return;
    std::vector<ListenerPtr> hearing;
    {
        MutexLock lock(lock_);
        lastState_.reset();
        for (const auto& [identity, listener] : listeners_)
            if (!listener->isPaused) hearing.push_back(listener);
    }
    enqueue(*frame, hearing);
}

// Encoding one buffer and building its frame happen under one hold of the encode lock.
std::optional<AudioStreamer::Frame> AudioStreamer::encodeBuffer(const PcmBuffer& buffer, std::uint64_t captureTime) {
    MutexLock lock(encodeLock_);
    const auto output = encoder_.encode(buffer);
    if (!output) return std::nullopt;
    if (pending_.empty()) pendingAt_ = captureTime;
    std::size_t offset = 0;
    for (const std::int64_t size : output->packetSizes) {
        if (size < 1 || static_cast<std::size_t>(size) > output->bytes.size() - offset) break;
        const auto begin = output->bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        pending_.emplace_back(begin, begin + size);
        offset += static_cast<std::size_t>(size);
    }
    if (pending_.size() < static_cast<std::size_t>(AudioChannel::packetsPerFrame)) return std::nullopt;
    return build();
}

// With encodeLock_ held. A frame takes every pending packet, so it may hold more than two.
AudioStreamer::Frame AudioStreamer::build() {
    const std::vector<Bytes> packets = std::exchange(pending_, {});
    ++sequence_;
    Frame frame{AudioFrame::make(AudioFrame::Kind::audio, pendingAt_), {}};
    std::vector<std::int64_t> sizes;
    sizes.reserve(packets.size());
    for (const Bytes& packet : packets) {
        sizes.push_back(static_cast<std::int64_t>(packet.size()));
        frame.payload.insert(frame.payload.end(), packet.begin(), packet.end());
    }
    frame.header.packets = std::move(sizes);
    frame.header.sequence = sequence_;
    bool attachedSince = false;
    {
        MutexLock lock(lock_);
        attachedSince = std::exchange(wantsDescribe_, false);
    }
    const auto format = untilDescribe_ < 1 || attachedSince ? encoder_.describedFormat() : std::nullopt;
    if (!format) {
        --untilDescribe_;
        return frame;
    }
    frame.header.codec = AudioFrame::Codec::aac;
    frame.header.sampleRate = format->sampleRate;
    frame.header.channels = format->channels;
    frame.header.framesPerPacket = format->framesPerPacket;
    untilDescribe_ = describeInterval;
    return frame;
}

// The frame is written once; every listener queues the same bytes. A listener whose waiting
// audio passes the bound loses its oldest frames, but never the newest.
void AudioStreamer::enqueue(const Frame& frame, const std::vector<ListenerPtr>& to) {
    if (to.empty()) return;
    auto bytes = AudioFrameWriter::encode(frame.header, frame.payload);
    if (!bytes) return;
    const auto data = std::make_shared<const Bytes>(std::move(*bytes));
    const std::size_t packets = frame.header.packets ? frame.header.packets->size() : AudioChannel::packetsPerFrame;
    const double seconds = static_cast<double>(packets) * AudioChannel::packetSeconds;
    std::vector<ListenerPtr> ready;
    std::int64_t dropped = 0;
    {
        MutexLock lock(lock_);
        for (const auto& listener : to) {
            if (!isAttached(listener) || !isAllowed() || listener->isPaused) continue;
            listener->queue.push_back({data, seconds});
            listener->queuedSeconds += seconds;
            while (listener->queuedSeconds > maxQueuedSeconds && listener->queue.size() >= 2) {
                listener->queuedSeconds = std::max(0.0, listener->queuedSeconds - listener->queue.front().seconds);
                listener->queue.pop_front();
                ++dropped;
            }
            ready.push_back(listener);
        }
    }
    if (dropped > 0 && instrumentation_.isEnabled()) quibLog().info("listen: ", dropped, " frame(s) too old to send");
    for (const auto& listener : ready) pump(listener);
}

// At most one frame a listener is in flight; its completion sends the next. Once listening is
// switched off no waiting frame leaves, so none follows the state frame that says so.
void AudioStreamer::pump(const ListenerPtr& listener) {
    MutexLock order(sendOrder_);
    std::shared_ptr<const Bytes> data;
    {
        MutexLock lock(lock_);
        if (!isAttached(listener) || listener->isWriting || listener->queue.empty() || !isAllowed()) return;
        data = std::move(listener->queue.front().data);
        listener->queuedSeconds = std::max(0.0, listener->queuedSeconds - listener->queue.front().seconds);
        listener->queue.pop_front();
        listener->isWriting = true;
    }
    listener->connection->send(std::move(data), [weak = weak_from_this(), held = std::weak_ptr<Listener>(listener)](
                                                    const Result<MonoTime>& written) {
        const auto self = weak.lock();
        const auto listener = held.lock();
        if (!self || !listener) return;
        {
            MutexLock lock(self->lock_);
            listener->isWriting = false;
        }
        if (written) self->pump(listener);
        else self->detachFailed(listener);
    });
}

// Outside the listeners' queues and whatever is in flight: a state frame overtakes the audio
// still waiting.
void AudioStreamer::sendDirectly(const AudioFrame& frame, const std::vector<ListenerPtr>& to) {
    if (to.empty()) return;
    auto bytes = AudioFrameWriter::encode(frame, {});
    if (!bytes) return;
    const auto data = std::make_shared<const Bytes>(std::move(*bytes));
    std::vector<ListenerPtr> attached;
    {
        MutexLock lock(lock_);
        std::copy_if(to.begin(), to.end(), std::back_inserter(attached),
                     [&](const auto& listener) REQUIRES(lock_) { return isAttached(listener); });
    }
    for (const auto& listener : attached) {
        listener->connection->send(
            data, [weak = weak_from_this(), held = std::weak_ptr<Listener>(listener)](const Result<MonoTime>& written) {
                const auto self = weak.lock();
                const auto listener = held.lock();
                if (self && listener && !written) self->detachFailed(listener);
            });
    }
}

// A failed send ends the listener it was for, not one that took its connection's place.
void AudioStreamer::detachFailed(const ListenerPtr& listener) {
    {
        MutexLock lock(lock_);
        if (!isAttached(listener)) return;
    }
    detach(listener->connection->identity());
}

// From capture: a text repeating the last one reaches nobody.
void AudioStreamer::sendState(const std::string& text) {
    {
        MutexLock lock(lock_);
        if (lastState_ == text) return;
        lastState_ = text;
    }
    sendDirectly(stateFrame(text), allListeners());
}

}  // namespace quib
