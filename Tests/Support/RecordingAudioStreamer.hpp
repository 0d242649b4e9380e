#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QuibHost/Streaming/AudioStreamerService.hpp"

namespace quib::testing {

// Remembers who was attached, as "listen:<device>". A neighbour of the server for tests; its
// state is under a lock of its own, since the server calls it from the network queue.
class RecordingAudioStreamer final : public AudioStreamerService {
public:
    void attachListener(const std::shared_ptr<TlsConnection>& connection, const ListenHelloPayload& hello) override {
        std::lock_guard lock(mutex_);
        attached_.push_back("listen:" + hello.deviceID);
        connections_.push_back(connection);
    }
    // The connections attached, to send frames on.
    std::vector<std::shared_ptr<TlsConnection>> connections() const {
        std::lock_guard lock(mutex_);
        return connections_;
    }
    std::vector<std::string> attached() const {
        std::lock_guard lock(mutex_);
        return attached_;
    }
    void detachListener(const TlsConnection&) override {}

private:
    mutable std::mutex mutex_;
    std::vector<std::string> attached_;
    std::vector<std::shared_ptr<TlsConnection>> connections_;
};

}  // namespace quib::testing
