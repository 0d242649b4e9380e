#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "QuibHost/Streaming/PanelStreamerService.hpp"
#include "Runtime/Mutex.hpp"

namespace quib::testing {

// A window the test says is being mirrored, or none. Remembers who was attached, as
// "view:<device>". A neighbour of the server for tests; its state is under a lock of its own,
// since the server calls it from the network queue and the main loop.
class MirroringPanelStreamer final : public PanelStreamerService {
public:
    void attachViewer(const std::shared_ptr<TlsConnection>& connection, const ViewHelloPayload& hello) override {
        MutexLock lock(mutex_);
        attached_.push_back("view:" + hello.deviceID);
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
    void detachViewer(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override {
        MutexLock lock(mutex_);
        return frame_;
    }
    void mirror(std::optional<Rect> frame) {
        MutexLock lock(mutex_);
        frame_ = frame;
    }

private:
    mutable Mutex mutex_;
    std::optional<Rect> frame_ GUARDED_BY(mutex_);
    std::vector<std::string> attached_ GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<TlsConnection>> connections_ GUARDED_BY(mutex_);
};

}  // namespace quib::testing
