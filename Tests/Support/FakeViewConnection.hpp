#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Connection/ViewConnection.hpp"
#include "Shared/ViewFrame.hpp"
#include "Tests/Support/StreamerEvents.hpp"

namespace quib::testing {

// A viewer's connection that keeps what it was sent and completes a send only when told to.
// Each send is noted as "<name> <kind>: <reason or text>"; a video frame's text is "key" or
// "delta". The unsent limits it is given are kept.
class FakeViewConnection final : public ViewConnection {
public:
    FakeViewConnection(StreamerEvents& events, std::string name, std::string localAddress = "127.0.0.1")
        : events_(events), name_(std::move(name)), localAddress_(std::move(localAddress)) {}

    const void* identity() const override { return this; }
    void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) override {
        ViewFrameReader reader(ViewChannel::maxFrameBytes);
        auto frames = reader.append(std::string_view(reinterpret_cast<const char*>(frame->data()), frame->size()));
        std::string line = name_;
        if (frames.size() == 1) {
            const auto& header = frames[0].header;
            line += " " + std::string(enumName(header.kind)) + ": " + header.title + " | " +
                    header.reason.value_or(header.kind == ViewFrame::Kind::video
                                               ? std::string(header.isKeyframe.value_or(false) ? "key" : "delta")
                                               : textOf(frames[0].payload));
            std::lock_guard lock(mutex_);
            sent_.push_back({header, frame->size(), std::move(completed)});
        }
        events_.add(line);
    }
    std::string localAddress() const override { return localAddress_; }
    void limitNotSent(std::size_t bytes) override {
        std::lock_guard lock(mutex_);
        limits_.push_back(bytes);
    }
    std::vector<std::size_t> limits() const {
        std::lock_guard lock(mutex_);
        return limits_;
    }

    struct Sent {
        ViewFrame frame;
        std::size_t bytes = 0;
        SendCompletion completed;
    };
    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return sent_.size();
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
    std::string localAddress_;
    mutable std::mutex mutex_;
    std::vector<Sent> sent_;
    std::vector<std::size_t> limits_;
};

}  // namespace quib::testing
