#pragma once

#include <memory>
#include <string>
#include <vector>

#include "QuibHost/Streaming/AudioStreamerService.hpp"
#include "Runtime/Mutex.hpp"

namespace quib::testing {

// Remembers who was attached, as "listen:<device>". A neighbour of the server for tests; its
// state is under a lock of its own, since the server calls it from the network queue.
class RecordingAudioStreamer final : public AudioStreamerService {
public:
    void attachListener(const std::shared_ptr<TlsConnection>& connection, const ListenHelloPayload& hello) override {
        MutexLock lock(mutex_);
        attached_.push_back("listen:" + hello.deviceID);
        connections_.push_back(connection);
    }
    // The connections attached, to send frames on.
    std::vector<std::shared_ptr<TlsConnection>> connections() const {
        MutexLock lock(mutex_);
        return connections_;
    }
    std::vector<std::string> attached() const {
        MutexLock lock(mutex_);
        return attached_;
    }
    void detachListener(const TlsConnection&) override {}

private:
    mutable Mutex mutex_;
    std::vector<std::string> attached_ GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<TlsConnection>> connections_ GUARDED_BY(mutex_);
};

}  // namespace quib::testing
