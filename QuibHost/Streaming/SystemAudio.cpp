#include "QuibHost/Streaming/SystemAudio.hpp"

#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/AudioChannel.hpp"
#include "Shared/UptimeClock.hpp"

namespace quib {

std::shared_ptr<SystemAudio> SystemAudio::make(Environment environment, BufferHandler onBuffer, StateHandler onState) {
    if (!environment.clock) environment.clock = SystemClock::shared();
    return std::make_shared<SystemAudio>(Passkey{}, std::move(environment), std::move(onBuffer), std::move(onState));
}

SystemAudio::SystemAudio(Passkey, Environment environment, BufferHandler onBuffer, StateHandler onState)
    : environment_(std::move(environment)),
      onBuffer_(std::move(onBuffer)),
      onState_(std::move(onState)),
      queue_(std::make_shared<SerialQueue>(std::string(queueLabel), environment_.clock)),
      openings_(std::make_shared<SerialQueue>(std::string(queueLabel) + ".open", environment_.clock)) {}

// Tasks still queued find the object gone and do nothing; a running stream stops as it goes.
SystemAudio::~SystemAudio() {
    MutexLock lock(lock_);
    watchdog_.cancel();
}

void SystemAudio::report(std::string_view text) const {
    if (onState_) onState_(std::string(text));
}

void SystemAudio::start() {
    {
        MutexLock lock(lock_);
        const bool wanted = wantsStream_;
        wantsStream_ = true;
        if (wanted) return;
    }
    if (environment_.capture->isPermitted()) {
        openings_->post([weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->openStream();
        });
        startWatchdog();
        return;
    }
    {
        MutexLock lock(lock_);
        wantsStream_ = false;
    }
    if (environment_.screenAccess) environment_.screenAccess->requestOnceIfNeeded();
    report(grantText);
}

void SystemAudio::stop() {
    std::shared_ptr<AudioCapture::Stream> taken;
    {
        MutexLock lock(lock_);
        watchdog_.cancel();
        ++watchdogGeneration_;
        wantsStream_ = false;
        taken = std::move(stream_);
    }
    if (taken) openings_->post([taken] { taken->stop(); });
}

// On the openings worker. At most one opening runs, and only while capture is wanted and no
// stream runs.
void SystemAudio::openStream() {
    std::uint64_t attempt = 0;
    {
        MutexLock lock(lock_);
        if (isOpening_ || stream_ || !wantsStream_) return;
        isOpening_ = true;
        attempt = ++attempts_;
    }
    const std::weak_ptr<SystemAudio> weak = weak_from_this();
    AudioCapture::Handlers handlers{
        [weak, attempt](const PcmBuffer& buffer) {
            if (const auto self = weak.lock()) self->handleBuffer(attempt, buffer);
        },
        [weak, attempt](const std::string& reason) {
            if (const auto self = weak.lock()) self->handleStop(attempt, reason);
        },
    };
    environment_.capture->open(
        queue_, std::move(handlers), [weak, attempt, openings = openings_](AudioCapture::Opening opening) {
            auto finish = [weak, attempt](AudioCapture::Opening& opened) {
                if (const auto self = weak.lock()) self->finishOpening(attempt, std::move(opened));
                else if (opened.stream) opened.stream->stop();
            };
            if (openings->isCurrent()) finish(opening);
            else openings->post([finish, opening = std::move(opening)]() mutable { finish(opening); });
        });
}

void SystemAudio::finishOpening(std::uint64_t attempt, AudioCapture::Opening opening) {
    switch (opening.status) {
        case AudioCapture::Opening::Status::nothingToCapture: report(nothingToCaptureText); break;
        case AudioCapture::Opening::Status::failed:
            quibLog().error("listen: capture failed ", pub(opening.reason));
            report(std::string(captureFailedText) + opening.reason);
            break;
        case AudioCapture::Opening::Status::running: keepStream(attempt, std::move(opening.stream)); break;
    }
    MutexLock lock(lock_);
    isOpening_ = false;
}

// A stream whose capture started after a stop() is stopped, never kept; so is one that ended
// before it could be kept (the watchdog then opens another).
void SystemAudio::keepStream(std::uint64_t attempt, std::shared_ptr<AudioCapture::Stream> stream) {
    bool keep = false;
    {
        MutexLock lock(lock_);
        keep = wantsStream_ && stoppedEarly_ != attempt;
        if (keep) {
            stream_ = stream;
            streamAttempt_ = attempt;
        }
    }
    if (!keep) {
        stream->stop();
        return;
    }
    quibLog().info("listen: capturing ", HostWords::thisComputer.chars, "'s output at ", AudioChannel::sampleRate,
                   "Hz");
}

// On the audio queue. Buffers of a stream not yet kept, or no longer, are dropped.
void SystemAudio::handleBuffer(std::uint64_t attempt, const PcmBuffer& buffer) {
    {
        MutexLock lock(lock_);
        if (!stream_ || streamAttempt_ != attempt) return;
    }
    const std::uint64_t captureTime = UptimeClock::nanos(*environment_.clock);
    if (!buffer.isUsable()) return;
    if (format_ != buffer.format) {
        format_ = buffer.format;
        quibLog().info("listen: ", buffer.format.sampleRate, "Hz ", buffer.format.channels, "ch from ",
                       pub(environment_.capture->sourceName()));
    }
    onBuffer_(buffer, captureTime);
}

// On the audio queue. Nothing is reported: the watchdog opens a new stream.
void SystemAudio::handleStop(std::uint64_t attempt, const std::string& reason) {
    quibLog().error("listen: stream stopped ", pub(reason));
    std::shared_ptr<AudioCapture::Stream> ended;
    {
        MutexLock lock(lock_);
        if (stream_ && streamAttempt_ == attempt) ended = std::move(stream_);
        else if (isOpening_ && attempts_ == attempt) stoppedEarly_ = attempt;
    }
    // Letting go of a stream may wait on its backend: not on the audio queue.
    if (ended) openings_->post([ended] { ended->stop(); });
}

void SystemAudio::startWatchdog() {
    MutexLock lock(lock_);
    watchdog_.cancel();
    scheduleWatchdog(environment_.clock->now() + watchdogInterval, ++watchdogGeneration_);
}

// With lock_ held. The timer holds the object weakly and fires onto the audio queue.
void SystemAudio::scheduleWatchdog(MonoTime deadline, std::uint64_t generation) {
    watchdog_ = environment_.clock->schedule(deadline, [weak = weak_from_this(), deadline, generation] {
        const auto self = weak.lock();
        if (!self) return;
        self->queue_->post([weak, deadline, generation] {
            if (const auto alive = weak.lock()) alive->watchdogFired(deadline, generation);
        });
    });
}

void SystemAudio::watchdogFired(MonoTime deadline, std::uint64_t generation) {
    bool reopen = false;
    {
        MutexLock lock(lock_);
        if (generation != watchdogGeneration_) return;
        // Every 2 s from the first firing; firings missed (a machine asleep) are not made up.
        MonoTime next = deadline + watchdogInterval;
        const MonoTime now = environment_.clock->now();
        while (next <= now) next += watchdogInterval;
        scheduleWatchdog(next, generation);
        reopen = wantsStream_ && !stream_;
    }
    if (reopen)
        openings_->post([weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->openStream();
        });
}

}  // namespace quib
