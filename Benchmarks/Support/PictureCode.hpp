#pragma once

// A change told by the picture itself: the painter fills a block of the window with one of a few
// code colours at each change, and the watcher decodes what arrives (H.264, with libavcodec) and
// reads which code the block shows. So a change counts once it can be seen, however few bytes
// its encoding took.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib::bench {

// The code colours, 0xRRGGBB, and where the block lies in the window (unit coordinates of its
// centre; it is an eighth of the window wide and high, below whatever else changes).
inline constexpr std::array<std::uint32_t, 4> codeColours{0xE02020, 0x20C020, 0x2040E0, 0xE0E020};
inline constexpr double codeX = 0.125, codeY = 0.8125;

// Decodes H.264 as it comes and keeps which code the newest picture shows (-1: none), and when
// the first byte of the first picture that showed it arrived.
class CodeWatcher {
public:
    using Clock = std::chrono::steady_clock;

    CodeWatcher() : context_(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264))) {
        // One thread, and slices may end a packet: a picture comes out as soon as its last
        // slice is in, never a frame later.
        context_->thread_count = 1;
        context_->flags2 |= AV_CODEC_FLAG2_CHUNKS;
        opened_ = avcodec_open2(context_.get(), context_->codec, nullptr) == 0;
    }

    // An Annex-B byte stream, in pieces that end where a slice does; the piece's first byte
    // arrived at `firstByte`.
    void append(const std::uint8_t* data, std::size_t size, Clock::time_point firstByte) {
        AVPacket* packet = av_packet_alloc();
        packet->data = const_cast<std::uint8_t*>(data);
        packet->size = static_cast<int>(size);
        const bool sent = opened_ && avcodec_send_packet(context_.get(), packet) == 0;
        av_packet_free(&packet);
        if (!sent) return;
        AVFrame* frame = av_frame_alloc();
        while (avcodec_receive_frame(context_.get(), frame) == 0) {
            const int code = codeOf(*frame);
            if (code != code_) {
                codeFirstByte_ = firstByte.time_since_epoch().count();
                code_ = code;
            }
            ++pictures_;
        }
        av_frame_free(&frame);
    }

    // A view channel's frame: its parameter sets and length-prefixed units, as Annex-B.
    void append(const ViewFrame& header, const Bytes& payload, Clock::time_point firstByte) {
        Bytes stream;
        const auto unit = [&](const std::uint8_t* data, std::size_t size) {
            stream.insert(stream.end(), {0, 0, 0, 1});
            stream.insert(stream.end(), data, data + size);
        };
        for (const auto& set : header.parameterSets.value_or(std::vector<Bytes>{})) unit(set.data(), set.size());
        for (std::size_t at = 0; at + 4 <= payload.size();) {
            const std::size_t size = std::size_t(payload[at]) << 24 | std::size_t(payload[at + 1]) << 16 |
                                     std::size_t(payload[at + 2]) << 8 | payload[at + 3];
            if (size > payload.size() - at - 4) break;
            unit(payload.data() + at + 4, size);
            at += 4 + size;
        }
        append(stream.data(), stream.size(), firstByte);
    }

    int code() const { return code_.load(); }
    // When the first byte of the first picture showing code() arrived; read after code().
    Clock::time_point codeFirstByte() const { return Clock::time_point(Clock::duration(codeFirstByte_.load())); }
    std::int64_t pictures() const { return pictures_.load(); }

    // The code nearest the block's colour (read as full-range BT.709, near enough for any range and
    // matrix to tell four saturated colours from a grey), or -1 when the background is nearer.
    static int codeOf(const AVFrame& picture) {
        const int x = static_cast<int>(picture.width * codeX), y = static_cast<int>(picture.height * codeY);
        const double luma = picture.data[0][y * picture.linesize[0] + x];
        // ffmpeg's own encoder is given RGB and keeps every chroma sample (4:4:4); ours halves them.
        int across = 1, down = 1;
        (void)av_pix_fmt_get_chroma_sub_sample(static_cast<AVPixelFormat>(picture.format), &across, &down);
        const int cx = x >> across, cy = y >> down;
        const double cb = picture.data[1][cy * picture.linesize[1] + cx] - 128.0;
        const double cr = picture.data[2][cy * picture.linesize[2] + cx] - 128.0;
        const std::array<double, 3> seen{luma + 1.5748 * cr, luma - 0.1873 * cb - 0.4681 * cr, luma + 1.8556 * cb};
        const auto distance = [&](std::uint32_t colour) {
            double sum = 0;
            for (int channel = 0; channel < 3; ++channel) {
                const double value = (colour >> (16 - 8 * channel)) & 0xFF;
                sum += (seen[channel] - value) * (seen[channel] - value);
            }
            return sum;
        };
        int best = -1;
        double nearest = distance(0x303030);
        for (std::size_t code = 0; code < codeColours.size(); ++code) {
            if (const double d = distance(codeColours[code]); d < nearest) {
                nearest = d;
                best = static_cast<int>(code);
            }
        }
        return best;
    }

private:
    struct ContextDelete {
        void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    };
    std::unique_ptr<AVCodecContext, ContextDelete> context_;
    bool opened_ = false;
    std::atomic<int> code_{-1};
    std::atomic<Clock::rep> codeFirstByte_{0};
    std::atomic<std::int64_t> pictures_{0};
};

}  // namespace quib::bench
