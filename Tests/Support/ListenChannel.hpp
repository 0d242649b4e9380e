#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Shared/AudioFrameReader.hpp"
#include "Shared/ClientMessage.hpp"
#include "Shared/ListenHelloPayload.hpp"
#include "Shared/QuibCoder.hpp"
#include "Tests/Support/AdtsDecoder.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib::testing {

// A phone's listen channel: its hello, then every frame the host sends, read as a phone reads
// them and kept in order.
class ListenChannel {
public:
    using Frame = AudioFrameReader::Frame;

    // Connected and past the hello; none (the test failed) when that did not work.
    static std::unique_ptr<ListenChannel> open(const PhoneClient::Options& options, const ListenHelloPayload& hello) {
        auto phone = PhoneClient::connect(options);
        if (!phone) {
            ADD_FAILURE() << phone.error().message;
            return nullptr;
        }
        (*phone)->expectBytes();
        const auto sent =
            (*phone)->sendLine(QuibCoder::line(ClientMessage{ClientMessage::ListenHello{hello}}).valueOr(""));
        if (!sent) {
            ADD_FAILURE() << sent.error().message;
            return nullptr;
        }
        return std::unique_ptr<ListenChannel>(new ListenChannel(std::move(*phone)));
    }

    // Reads until `done` holds for the frames so far, the host closes, or `timeout` passes.
    bool readUntil(const std::function<bool(const std::vector<Frame>&)>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done(frames_)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || closed_) return false;
            auto bytes = phone_->receiveBytes(left);
            if (!bytes) {
                closed_ = bytes.error().message == "Connection closed";
                continue;
            }
            for (auto& frame : reader_.append(*bytes)) frames_.push_back(std::move(frame));
        }
        return true;
    }
    // Reads what comes for `period`.
    void readFor(std::chrono::milliseconds period) {
        readUntil([](const std::vector<Frame>&) { return false; }, period);
    }
    // Reads until the host has closed the channel; false when it did not within `timeout`.
    bool waitClosed(std::chrono::milliseconds timeout) {
        readUntil([this](const std::vector<Frame>&) { return closed_; }, timeout);
        return closed_;
    }

    const std::vector<Frame>& frames() const { return frames_; }
    std::vector<Frame> audio() const { return only(AudioFrame::Kind::audio); }
    std::vector<std::string> states() const {
        std::vector<std::string> texts;
        for (const auto& frame : only(AudioFrame::Kind::state)) texts.push_back(frame.header.reason.value_or(""));
        return texts;
    }

    // Plays every packet of `frames`, checking that each frame's sizes cover its payload.
    static void decode(const std::vector<Frame>& frames, AdtsDecoder& decoder) {
        for (const auto& frame : frames) {
            const auto ranges = frame.header.packetRanges(frame.payload);
            EXPECT_TRUE(ranges) << "the packet sizes of frame " << frame.header.sequence.value_or(0)
                                << " do not add up to its payload";
            if (!ranges) continue;
            for (const auto& range : *ranges)
                EXPECT_TRUE(decoder.decode(std::span(frame.payload).subspan(range.begin, range.end - range.begin)));
        }
    }

private:
    explicit ListenChannel(std::unique_ptr<PhoneClient> phone) : phone_(std::move(phone)) {}

    std::vector<Frame> only(AudioFrame::Kind kind) const {
        std::vector<Frame> found;
        for (const auto& frame : frames_)
            if (frame.header.kind == kind) found.push_back(frame);
        return found;
    }

    std::unique_ptr<PhoneClient> phone_;
    AudioFrameReader reader_{AudioChannel::maxFrameBytes};
    std::vector<Frame> frames_;
    bool closed_ = false;
};

}  // namespace quib::testing
