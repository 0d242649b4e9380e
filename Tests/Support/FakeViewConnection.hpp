#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Streaming/ViewConnection.hpp"
#include "Shared/ViewFrame.hpp"
#include "Tests/Support/StreamerEvents.hpp"

namespace quib::testing {

// A viewer's connection that keeps what it was sent and completes a send only when told to.
// Each send is noted as "<name> <kind>: <reason or text>".
class FakeViewConnection final : public ViewConnection {
public:
    FakeViewConnection(StreamerEvents& events, std::string name, bool peerToPeer = false)
        : events_(events), name_(std::move(name)), peerToPeer_(peerToPeer) {}

    const void* identity() const override { return this; }
    void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) override {
        ViewFrameReader reader(ViewChannel::maxFrameBytes);
        auto frames = reader.append(std::string_view(reinterpret_cast<const char*>(frame->data()), frame->size()));
        std::string line = name_;
        if (frames.size() == 1) {
            const auto& header = frames[0].header;
            line += " " + std::string(enumName(header.kind)) + ": " + header.title + " | " +
                    header.reason.value_or(textOf(frames[0].payload));
            std::lock_guard lock(mutex_);
            sent_.push_back({header, frame->size(), std::move(completed)});
        }
        events_.add(line);
    }
    bool isPeerToPeer() const override { return peerToPeer_; }

    struct Sent {
        ViewFrame frame;
        std::size_t bytes = 0;
        SendCompletion completed;
    };
    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    // Completes the `index`th send: written when `ok`, else failed.
    void complete(std::size_t index, bool ok = true) {
        SendCompletion done;
        {
            std::lock_guard lock(mutex_);
            done = sent_.at(index).completed;
        }
        if (ok) done(MonoTime(std::chrono::seconds(1)));
        else done(fail("Broken pipe"));
    }

private:
    StreamerEvents& events_;
    std::string name_;
    bool peerToPeer_;
    mutable std::mutex mutex_;
    std::vector<Sent> sent_;
};

}  // namespace quib::testing
