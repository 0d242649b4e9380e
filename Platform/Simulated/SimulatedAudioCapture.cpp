#include "Platform/Simulated/SimulatedAudioCapture.hpp"

#include <algorithm>
#include <cstring>
#include <deque>

#include "Runtime/Mutex.hpp"

namespace quib {

struct SimulatedAudioCapture::Session {
    std::shared_ptr<Executor> queue;
    Handlers handlers;
    bool live = true;
};

struct SimulatedAudioCapture::State {
    mutable Mutex mutex;
    bool permitted GUARDED_BY(mutex) = true;
    Outcome outcome GUARDED_BY(mutex) = Outcome::start;
    std::string reason GUARDED_BY(mutex);
    int openings GUARDED_BY(mutex) = 0;
    int stopsAsked GUARDED_BY(mutex) = 0;
    std::vector<std::shared_ptr<Session>> sessions GUARDED_BY(mutex);
    std::deque<std::pair<std::shared_ptr<Session>, Opened>> held GUARDED_BY(mutex);
};

class SimulatedAudioCapture::SimulatedStream final : public AudioCapture::Stream {
public:
    SimulatedStream(std::shared_ptr<State> state, std::shared_ptr<Session> session)
        : state_(std::move(state)), session_(std::move(session)) {}
    void stop() override {
        MutexLock lock(state_->mutex);
        ++state_->stopsAsked;
        session_->live = false;
    }

private:
    std::shared_ptr<State> state_;
    std::shared_ptr<Session> session_;
};

SimulatedAudioCapture::SimulatedAudioCapture() : state_(std::make_shared<State>()) {}

bool SimulatedAudioCapture::isPermitted() const {
    MutexLock lock(state_->mutex);
    return state_->permitted;
}

void SimulatedAudioCapture::setPermitted(bool permitted) {
    MutexLock lock(state_->mutex);
    state_->permitted = permitted;
}

void SimulatedAudioCapture::setOutcome(Outcome outcome, std::string reason) {
    MutexLock lock(state_->mutex);
    state_->outcome = outcome;
    state_->reason = std::move(reason);
}

void SimulatedAudioCapture::open(std::shared_ptr<Executor> queue, Handlers handlers, Opened opened) {
    Opening opening;
    {
        MutexLock lock(state_->mutex);
        ++state_->openings;
        switch (state_->outcome) {
            case Outcome::nothingToCapture: opening.status = Opening::Status::nothingToCapture; break;
            case Outcome::fail:
                opening.status = Opening::Status::failed;
                opening.reason = state_->reason;
                break;
            case Outcome::start:
            case Outcome::hold: {
                auto session = std::make_shared<Session>(Session{std::move(queue), std::move(handlers)});
                state_->sessions.push_back(session);
                if (state_->outcome == Outcome::hold) {
                    state_->held.emplace_back(std::move(session), std::move(opened));
                    return;
                }
                opening.status = Opening::Status::running;
                opening.stream = std::make_shared<SimulatedStream>(state_, std::move(session));
                break;
            }
        }
    }
    opened(std::move(opening));
}

bool SimulatedAudioCapture::releaseHeld() {
    std::shared_ptr<Session> session;
    Opened opened;
    {
        MutexLock lock(state_->mutex);
        if (state_->held.empty()) return false;
        std::tie(session, opened) = std::move(state_->held.front());
        state_->held.pop_front();
    }
    Opening opening;
    opening.status = Opening::Status::running;
    opening.stream = std::make_shared<SimulatedStream>(state_, std::move(session));
    opened(std::move(opening));
    return true;
}

void SimulatedAudioCapture::play(const PcmFormat& format, std::int64_t frames) {
    const int planeCount = format.planeCount();
    const std::size_t planeBytes =
        format.bytesPerFramePerPlane() * static_cast<std::size_t>(std::max<std::int64_t>(frames, 0));
    auto samples =
        std::make_shared<std::vector<std::vector<std::uint8_t>>>(planeCount, std::vector<std::uint8_t>(planeBytes));
    const int perPlane = format.interleaved ? format.channels : 1;
    for (auto& plane : *samples) {
        for (std::int64_t frame = 0; frame < frames; ++frame) {
            for (int channel = 0; channel < perPlane; ++channel) {
                std::uint8_t* at =
                    plane.data() + (static_cast<std::size_t>(frame * perPlane + channel)) * format.bytesPerSample();
                if (format.sample == PcmFormat::Sample::float32) {
                    const float value = static_cast<float>(frame % 100) / 100.0f;
                    std::memcpy(at, &value, sizeof value);
                } else {
                    const std::int16_t value = static_cast<std::int16_t>((frame % 100) * 300);
                    std::memcpy(at, &value, sizeof value);
                }
            }
        }
    }
    MutexLock lock(state_->mutex);
    for (const auto& session : state_->sessions) {
        if (!session->live) continue;
        session->queue->post([session, samples, format, frames] {
            std::vector<const std::uint8_t*> planes;
            for (const auto& plane : *samples) planes.push_back(plane.data());
            session->handlers.onBuffer(PcmBuffer{format, frames, planes});
        });
    }
}

void SimulatedAudioCapture::stopBySystem(const std::string& reason) {
    MutexLock lock(state_->mutex);
    const auto newest = std::find_if(state_->sessions.rbegin(), state_->sessions.rend(),
                                     [](const auto& session) { return session->live; });
    if (newest == state_->sessions.rend()) return;
    const auto session = *newest;
    session->live = false;
    session->queue->post([session, reason] { session->handlers.onStop(reason); });
}

int SimulatedAudioCapture::openings() const {
    MutexLock lock(state_->mutex);
    return state_->openings;
}

int SimulatedAudioCapture::liveStreams() const {
    MutexLock lock(state_->mutex);
    return static_cast<int>(std::count_if(state_->sessions.begin(), state_->sessions.end(),
                                          [](const auto& session) { return session->live; }));
}

int SimulatedAudioCapture::stopsAsked() const {
    MutexLock lock(state_->mutex);
    return state_->stopsAsked;
}

}  // namespace quib
