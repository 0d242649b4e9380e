#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "QuibHost/Server/Neighbours/StreamingService.hpp"

namespace quib::testing {

// A window the test says is being mirrored, or none, and the window list the test sets for
// every app. Remembers who was attached, as "view:<device>" or "listen:<device>".
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class MirroringStreaming final : public StreamingService {
public:
    void attachViewer(const std::shared_ptr<TlsConnection>&, const ViewHelloPayload& hello) override {
        std::lock_guard lock(mutex_);
        attached_.push_back("view:" + hello.deviceID);
    }
    void attachListener(const std::shared_ptr<TlsConnection>&, const ListenHelloPayload& hello) override {
        std::lock_guard lock(mutex_);
        attached_.push_back("listen:" + hello.deviceID);
    }
    std::vector<std::string> attached() const {
        std::lock_guard lock(mutex_);
        return attached_;
    }
    void detachViewer(const TlsConnection&) override {}
    void detachListener(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override {
        std::lock_guard lock(mutex_);
        return frame_;
    }
    void mirror(std::optional<Rect> frame) {
        std::lock_guard lock(mutex_);
        frame_ = frame;
    }
    WindowList windows(const std::string& bundleID, std::optional<std::uint32_t>, bool) override {
        std::lock_guard lock(mutex_);
        listed_.push_back(bundleID);
        return list_;
    }
    // The apps whose windows were asked for, in order.
    std::vector<std::string> listed() {
        std::lock_guard lock(mutex_);
        return listed_;
    }
    void list(WindowList list) {
        std::lock_guard lock(mutex_);
        list_ = std::move(list);
    }

private:
    mutable std::mutex mutex_;
    std::optional<Rect> frame_;
    WindowList list_;
    std::vector<std::string> listed_;
    std::vector<std::string> attached_;
};

}  // namespace quib::testing
