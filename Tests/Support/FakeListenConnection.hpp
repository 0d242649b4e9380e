#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QuibHost/Connection/ListenConnection.hpp"
#include "Shared/AudioFrameReader.hpp"

namespace quib::testing {

// A listen channel that keeps every frame it is sent. Each send stays in flight until the test
// completes it, oldest first, as written or as failed. Safe on any thread.
class FakeListenConnection final : public ListenConnection {
public:
    const void* identity() const override { return this; }

    void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) override {
        std::lock_guard lock(mutex_);
        const std::string_view bytes(reinterpret_cast<const char*>(frame->data()), frame->size());
        for (auto& read : reader_.append(bytes)) frames_.push_back(std::move(read));
        inFlight_.push_back(std::move(completed));
    }

    Result<void> setNotSentLowWater(std::size_t bytes) override {
        std::lock_guard lock(mutex_);
        marks_.push_back(bytes);
        return {};
    }

    // Completes every send as written, and the sends those completions lead to.
    void completeAll() {
        while (auto next = take()) next(MonoTime{});
    }
    // Fails the oldest send in flight.
    void failNext() {
        if (auto next = take()) next(fail("Broken pipe"));
    }

    std::vector<AudioFrameReader::Frame> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    // The numbers of the audio frames, in order.
    std::vector<std::uint32_t> sequences() const {
        std::vector<std::uint32_t> numbers;
        for (const auto& frame : frames())
            if (frame.header.kind == AudioFrame::Kind::audio) numbers.push_back(frame.header.sequence.value_or(0));
        return numbers;
    }
    // The texts of the state frames, in order.
    std::vector<std::string> states() const {
        std::vector<std::string> texts;
        for (const auto& frame : frames())
            if (frame.header.kind == AudioFrame::Kind::state) texts.push_back(frame.header.reason.value_or(""));
        return texts;
    }
    std::vector<std::size_t> marks() const {
        std::lock_guard lock(mutex_);
        return marks_;
    }

private:
    SendCompletion take() {
        std::lock_guard lock(mutex_);
        if (inFlight_.empty()) return nullptr;
        auto next = std::move(inFlight_.front());
        inFlight_.pop_front();
        return next;
    }

    mutable std::mutex mutex_;
    AudioFrameReader reader_{AudioChannel::maxFrameBytes};
    std::vector<AudioFrameReader::Frame> frames_;
    std::deque<SendCompletion> inFlight_;
    std::vector<std::size_t> marks_;
};

}  // namespace quib::testing
