#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "QuibHost/Streaming/PanelStreamerService.hpp"

namespace quib::testing {

// A window the test says is being mirrored, or none. Remembers who was attached, as
// "view:<device>". A neighbour of the server for tests; its state is under a lock of its own,
// since the server calls it from the network queue and the main loop.
class MirroringPanelStreamer final : public PanelStreamerService {
public:
    void attachViewer(const std::shared_ptr<TlsConnection>& connection, const ViewHelloPayload& hello) override {
        std::lock_guard lock(mutex_);
        attached_.push_back("view:" + hello.deviceID);
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
    void detachViewer(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override {
        std::lock_guard lock(mutex_);
        return frame_;
    }
    void mirror(std::optional<Rect> frame) {
        std::lock_guard lock(mutex_);
        frame_ = frame;
    }

private:
    mutable std::mutex mutex_;
    std::optional<Rect> frame_;
    std::vector<std::string> attached_;
    std::vector<std::shared_ptr<TlsConnection>> connections_;
};

}  // namespace quib::testing
