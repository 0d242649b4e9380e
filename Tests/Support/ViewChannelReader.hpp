#pragma once

// A phone's side of a view channel, for tests that watch a window: the channel's frames as they
// come, and libavcodec's H.264 decoder fed the Annex-B stream a phone rebuilds from each frame.

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Shared/ViewFrame.hpp"
#include "Shared/ViewHelloPayload.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib::testing {

class H264Decoder {
public:
    using Picture = std::unique_ptr<AVFrame, void (*)(AVFrame*)>;

    H264Decoder() : context_(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264))) {
        context_->thread_count = 1;
        opened_ = avcodec_open2(context_.get(), context_->codec, nullptr) == 0;
    }
    // The picture of one frame; none when it did not decode.
    Picture decode(const ViewFrame& header, const Bytes& payload) {
        Bytes stream;
        const auto append = [&](const std::uint8_t* unit, std::size_t size) {
            stream.insert(stream.end(), {0, 0, 0, 1});
            stream.insert(stream.end(), unit, unit + size);
        };
        for (const auto& set : header.parameterSets.value_or(std::vector<Bytes>{})) append(set.data(), set.size());
        for (std::size_t at = 0; at + 4 <= payload.size();) {
            const std::size_t size = std::size_t(payload[at]) << 24 | std::size_t(payload[at + 1]) << 16 |
                                     std::size_t(payload[at + 2]) << 8 | payload[at + 3];
            if (size > payload.size() - at - 4) break;
            append(payload.data() + at + 4, size);
            at += 4 + size;
        }
        AVPacket* packet = av_packet_alloc();
        packet->data = stream.data();
        packet->size = static_cast<int>(stream.size());
        const bool sent = opened_ && avcodec_send_packet(context_.get(), packet) == 0;
        av_packet_free(&packet);
        Picture frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
        if (!sent || avcodec_receive_frame(context_.get(), frame.get()) != 0) frame.reset();
        return frame;
    }

    // The colour at the middle of a decoded picture as 0xRRGGBB channels, from full-range BT.709.
    static std::array<int, 3> middleOf(const AVFrame& picture) {
        const int x = picture.width / 2, y = picture.height / 2;
        const double luma = picture.data[0][y * picture.linesize[0] + x];
        const double cb = picture.data[1][(y / 2) * picture.linesize[1] + x / 2] - 128.0;
        const double cr = picture.data[2][(y / 2) * picture.linesize[2] + x / 2] - 128.0;
        const auto channel = [](double value) { return static_cast<int>(std::lround(std::clamp(value, 0.0, 255.0))); };
        return {channel(luma + 1.5748 * cr), channel(luma - 0.1873 * cb - 0.4681 * cr), channel(luma + 1.8556 * cb)};
    }

private:
    struct ContextDelete {
        void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    };
    std::unique_ptr<AVCodecContext, ContextDelete> context_;
    bool opened_ = false;
};

// A view channel: its hello, then every video frame as a phone reads it.
class ViewChannelReader {
public:
    ViewChannelReader(const PhoneClient::Options& options, const ViewHelloPayload& hello) {
        auto phone = PhoneClient::connect(options);
        if (!phone) {
            ADD_FAILURE() << phone.error().message;
            return;
        }
        phone_ = std::move(*phone);
        phone_->expectBytes();
        EXPECT_TRUE(phone_->sendLine(Json{{"viewHello", {{"_0", hello.toJson()}}}}.dump()));
    }
    // Reads until `count` video frames came in all, or `timeout` passed; every one so far.
    std::vector<ViewFrameReader::Frame> videoFrames(std::size_t count, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (phone_ && video_.size() < count && std::chrono::steady_clock::now() < deadline) {
            auto bytes = phone_->receiveBytes(std::chrono::milliseconds(100));
            if (!bytes) continue;
            for (auto& frame : reader_.append(*bytes))
                if (frame.header.kind == ViewFrame::Kind::video) video_.push_back(std::move(frame));
        }
        return video_;
    }

private:
    std::unique_ptr<PhoneClient> phone_;
    ViewFrameReader reader_{ViewChannel::maxFrameBytes};
    std::vector<ViewFrameReader::Frame> video_;
};

}  // namespace quib::testing
