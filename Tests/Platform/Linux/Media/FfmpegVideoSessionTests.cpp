#include "Platform/Linux/Media/FfmpegVideoSession.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/Linux/Media/FfmpegVideoSessionFactory.hpp"
#include "Platform/PixelBufferPool.hpp"
#include "QuibHost/Streaming/VideoEncoder.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/ScrollingText.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using Codec = ViewFrame::Codec;
using Output = VideoEncoder::Output;

constexpr Duration pictureInterval = 1'000'000'000ns / 60;

// Remembers which sessions were asked for and which opened.
class RecordingFactory final : public VideoSessionFactory {
public:
    explicit RecordingFactory(FfmpegVideoSessionFactory::Config config) : inner_(config) {}
    std::shared_ptr<VideoSession> open(Codec codec, int width, int height, const VideoSession::Rates& rates) override {
        auto session = inner_.open(codec, width, height, rates);
        std::lock_guard guard(lock_);
        (session ? opened : refused).push_back(codec);
        return session;
    }
    std::vector<Codec> opened, refused;  // read once the encoder is idle

private:
    FfmpegVideoSessionFactory inner_;
    std::mutex lock_;
};

struct Encoded {
    MonoTime at;
    std::optional<Output> output;
    std::size_t bytes() const {
        std::size_t n = output ? output->data.size() : 0;
        if (output)
            for (const auto& set : output->parameterSets) n += set.size();
        return n;
    }
};

// The units of a payload, split by their 4-byte lengths; none when the lengths do not cover it
// exactly.
std::optional<std::vector<Bytes>> unitsOf(const Bytes& payload) {
    std::vector<Bytes> units;
    std::size_t at = 0;
    while (at < payload.size()) {
        if (payload.size() - at < 4) return std::nullopt;
        const std::size_t n = std::size_t(payload[at]) << 24 | std::size_t(payload[at + 1]) << 16 |
                              std::size_t(payload[at + 2]) << 8 | payload[at + 3];
        at += 4;
        if (n == 0 || payload.size() - at < n) return std::nullopt;
        units.emplace_back(payload.begin() + at, payload.begin() + at + n);
        at += n;
    }
    return units;
}

int unitType(Codec codec, const Bytes& unit) { return codec == Codec::hevc ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F; }

bool holdsStartCode(const Bytes& unit) {
    for (std::size_t i = 0; i + 2 < unit.size(); ++i)
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) return true;
    return false;
}

// The Annex-B stream a phone would rebuild: parameter sets, then the payload's units.
Bytes rebuilt(const Output& output) {
    Bytes stream;
    const auto append = [&](const Bytes& unit) {
        stream.insert(stream.end(), {0, 0, 0, 1});
        stream.insert(stream.end(), unit.begin(), unit.end());
    };
    for (const auto& set : output.parameterSets) append(set);
    for (const auto& unit : unitsOf(output.data).value_or(std::vector<Bytes>{})) append(unit);
    return stream;
}

struct FrameDelete {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameDelete>;

// libavcodec's own decoder of the codec, one picture in, one out.
class Decoder {
public:
    explicit Decoder(Codec codec)
        : context_(avcodec_alloc_context3(
              avcodec_find_decoder(codec == Codec::hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264))) {
        context_->thread_count = 1;
        opened_ = avcodec_open2(context_.get(), context_->codec, nullptr) == 0;
    }
    Frame decode(const Bytes& stream) {
        AVPacket* packet = av_packet_alloc();
        packet->data = const_cast<std::uint8_t*>(stream.data());
        packet->size = int(stream.size());
        const bool sent = opened_ && avcodec_send_packet(context_.get(), packet) == 0;
        av_packet_free(&packet);
        Frame frame(av_frame_alloc());
        if (!sent || avcodec_receive_frame(context_.get(), frame.get()) != 0) return nullptr;
        return frame;
    }

private:
    struct ContextDelete {
        void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    };
    std::unique_ptr<AVCodecContext, ContextDelete> context_;
    bool opened_ = false;
};

// Peak signal-to-noise ratio of the decoded picture against the source, all three planes, in dB.
double psnr(const AVFrame& decoded, const PixelBuffer& source) {
    double squares = 0, samples = 0;
    for (int p = 0; p < PixelBuffer::planeCount; ++p) {
        for (int y = 0; y < source.planeHeight(p); ++y) {
            for (int x = 0; x < source.planeWidth(p); ++x) {
                const double d = double(decoded.data[p][y * decoded.linesize[p] + x]) - source.row(p, y)[x];
                squares += d * d;
            }
        }
        samples += double(source.planeWidth(p)) * source.planeHeight(p);
    }
    return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * samples / squares);
}

// The most bytes any span of `window` of presentation time holds, starting at a picture.
std::size_t busiestWindow(const std::vector<Encoded>& run, Duration window) {
    std::size_t most = 0;
    for (std::size_t i = 0; i < run.size(); ++i) {
        std::size_t sum = 0;
        for (std::size_t j = i; j < run.size() && run[j].at - run[i].at < window; ++j) sum += run[j].bytes();
        most = std::max(most, sum);
    }
    return most;
}

std::size_t bytesBetween(const std::vector<Encoded>& run, MonoTime from, MonoTime to) {
    std::size_t sum = 0;
    for (const auto& e : run)
        if (e.at >= from && e.at < to) sum += e.bytes();
    return sum;
}

// An encoder over the real sessions, the host's factory or one that opens libx265 too, on a fake
// clock. Pictures go in one at a time, each after the previous one came out, as the streamer's
// gate lets them.
class FfmpegVideoSession : public ::testing::Test {
protected:
    FfmpegVideoSession() { use(false); }

    void use(bool softwareHevc) {
        if (encoder) encoder->invalidate();
        sessions = std::make_shared<RecordingFactory>(FfmpegVideoSessionFactory::Config{.softwareHevc = softwareHevc});
        encoder = VideoEncoder::create({.sessions = sessions, .clock = clock, .instrumentation = nullptr});
    }

    // Submits one picture and waits for what comes out; none when it was refused or never came.
    std::optional<Encoded> encodeOne(std::shared_ptr<const PixelBuffer> picture, MonoTime at) {
        auto result = std::make_shared<std::optional<Encoded>>();
        auto lock = std::make_shared<std::mutex>();
        auto done = std::make_shared<std::condition_variable>();
        const bool submitted = encoder->encode(std::move(picture), at, [=](std::optional<Output> output) {
            std::lock_guard guard(*lock);
            *result = Encoded{at, std::move(output)};
            done->notify_one();
        });
        if (!submitted) return std::nullopt;
        std::unique_lock guard(*lock);
        done->wait_for(guard, 5s, [&] { return result->has_value(); });
        return *result;
    }

    // Encodes pictures `first`... of `text`, 60 a second from `from`; `before(i)` runs before each.
    // Each picture must come out before the next goes in: a session that held pictures back
    // until more arrive would stall a caller that waits, and fails here.
    std::vector<Encoded> encode(const testing::ScrollingText& text, int first, int count, MonoTime from,
                                const std::function<void(int)>& before = {}) {
        PixelBufferPool pool(text.width(), text.height(), 2);
        std::vector<Encoded> run;
        for (int i = first; i < first + count; ++i) {
            if (before) before(i);
            auto picture = pool.take();
            text.draw(*picture, i);
            auto encoded = encodeOne(std::move(picture), from + (i - first) * pictureInterval);
            if (!encoded) {
                ADD_FAILURE() << "picture " << i << " was refused or never came back";
                break;
            }
            run.push_back(std::move(*encoded));
        }
        return run;
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<RecordingFactory> sessions;
    std::shared_ptr<VideoEncoder> encoder;
    const MonoTime start = MonoTime(std::chrono::hours(2));
};

// What the phone relies on in every picture of a run: units covered exactly by their lengths,
// none a start code, a parameter set or a delimiter; parameter sets by type on key frames only;
// and the rebuilt stream decodes to the picture, in full range, close to the source.
void checkPackagingAndDecode(Codec codec, const std::vector<Encoded>& run, const testing::ScrollingText& text,
                             const std::vector<int>& keyframes, double minPsnr = 30) {
    const std::vector<int> setTypes = codec == Codec::hevc ? std::vector<int>{32, 33, 34} : std::vector<int>{7, 8};
    const std::vector<int> excluded =
        codec == Codec::hevc ? std::vector<int>{32, 33, 34, 35} : std::vector<int>{7, 8, 9};
    Decoder decoder(codec);
    std::vector<int> seenKeyframes;
    for (std::size_t i = 0; i < run.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(run[i].output.has_value());
        const Output& output = *run[i].output;
        EXPECT_EQ(output.codec, codec);
        const auto units = unitsOf(output.data);
        ASSERT_TRUE(units.has_value());
        for (const auto& unit : *units) {
            EXPECT_FALSE(holdsStartCode(unit));
            EXPECT_EQ(std::count(excluded.begin(), excluded.end(), unitType(codec, unit)), 0);
        }
        std::vector<int> types;
        for (const auto& set : output.parameterSets) types.push_back(unitType(codec, set));
        EXPECT_EQ(types, output.isKeyframe ? setTypes : std::vector<int>{});
        if (output.isKeyframe) seenKeyframes.push_back(int(i));

        const Frame frame = decoder.decode(rebuilt(output));
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->width, text.width());
        EXPECT_EQ(frame->height, text.height());
        EXPECT_EQ(frame->color_range, AVCOL_RANGE_JPEG);
        EXPECT_GE(psnr(*frame, *text.picture(int(i))), minPsnr);
    }
    EXPECT_EQ(seenKeyframes, keyframes);
}

TEST_F(FfmpegVideoSession, OutputIsPackagedAndDecodesBackWithKeyFramesOnRequestAndEveryTenSeconds) {
    const testing::ScrollingText text(640, 360, 2, 8);
    for (const Codec codec : {Codec::h264, Codec::hevc}) {
        SCOPED_TRACE(enumName(codec));
        use(codec == Codec::hevc);
        ASSERT_TRUE(encoder->prepare(640, 360, 4'000'000, 60));
        EXPECT_EQ(sessions->opened, std::vector<Codec>{codec});
        const auto run = encode(text, 0, 40, start, [&](int i) {
            if (i == 15) encoder->forceKeyframe();
            if (i == 30) clock->advance(VideoEncoder::keyframeInterval);
        });
        checkPackagingAndDecode(codec, run, text, {0, 15, 30});

        const auto session = quib::FfmpegVideoSession::open(codec, 640, 360, VideoEncoder::rates(4'000'000, 60));
        ASSERT_TRUE(session);
        EXPECT_FALSE(session->hasOutOfBandHeader());
    }
}

TEST_F(FfmpegVideoSession, X264FollowsABitRateCutWithinASecondInTheSameSession) {
    const testing::ScrollingText text(1280, 720);
    ASSERT_TRUE(encoder->prepare(1280, 720, 4'000'000, 60));
    std::atomic<int> next = 0;
    std::vector<Encoded> run;
    std::thread submitter([&] { run = encode(text, 0, 240, start, [&](int i) { next = i; }); });
    while (next < 120) std::this_thread::sleep_for(1ms);
    encoder->updateRate(1'000'000, 60);
    const MonoTime cutAt = start + next.load() * pictureInterval;
    submitter.join();

    ASSERT_EQ(run.size(), 240u);
    EXPECT_EQ(sessions->opened.size(), 1u);
    const std::size_t before = bytesBetween(run, cutAt - 1s, cutAt);
    const std::size_t after = bytesBetween(run, cutAt + 1s, cutAt + 2s);
    EXPECT_GT(before, 4'000'000u / 8 * 3 / 4);
    EXPECT_LE(after, std::size_t(1'000'000 / 8 * 1.3));
}

// Opened while the window was idle, the session is fed 60 pictures a second.
TEST_F(FfmpegVideoSession, X264OpenedAtFiveFramesASecondHoldsTheLimitsAtSixty) {
    const testing::ScrollingText text(1280, 720);
    ASSERT_TRUE(encoder->prepare(1280, 720, 2'000'000, 5));
    const auto run = encode(text, 0, 180, start);
    ASSERT_EQ(run.size(), 180u);
    EXPECT_LE(busiestWindow(run, 250ms), 125'000u);
    EXPECT_LE(busiestWindow(run, 1s), 325'000u);
}

TEST_F(FfmpegVideoSession, X265RateChangeStartsANewEncoderWithAKeyFrame) {
    use(true);
    const testing::ScrollingText text(320, 240, 2, 8);
    ASSERT_TRUE(encoder->prepare(320, 240, 1'000'000, 60));
    auto run = encode(text, 0, 10, start);
    encoder->updateRate(300'000, 60);
    const auto after = encode(text, 10, 5, start + 10 * pictureInterval);
    run.insert(run.end(), after.begin(), after.end());
    checkPackagingAndDecode(Codec::hevc, run, text, {0, 10}, 20);
    EXPECT_EQ(sessions->opened, std::vector<Codec>{Codec::hevc});
}

TEST_F(FfmpegVideoSession, HoldsTheRateWindowsAtLowMiddleAndHighRates) {
    const testing::ScrollingText text(1920, 1080);
    for (const std::int64_t bitRate : {700'000, 2'000'000, 12'000'000}) {
        SCOPED_TRACE(bitRate);
        encoder->invalidate();
        ASSERT_TRUE(encoder->prepare(1920, 1080, bitRate, 60));
        const auto run = encode(text, 0, 300, start);
        ASSERT_EQ(run.size(), 300u);
        const std::size_t quarter = busiestWindow(run, 250ms), second = busiestWindow(run, 1s);
        EXPECT_LE(quarter, std::size_t(double(bitRate) / 8 * 0.5));
        EXPECT_LE(second, std::size_t(double(bitRate) / 8 * 1.3));
    }
}

TEST_F(FfmpegVideoSession, QueuesARunOfPicturesRefusesWhatItCannotTakeAndFinishesThemOnClose) {
    const auto rates = VideoEncoder::rates(1'000'000, 30);
    auto session = quib::FfmpegVideoSession::open(Codec::h264, 64, 64, rates);
    ASSERT_TRUE(session);
    const testing::ScrollingText text(64, 64);
    std::promise<void> inFirst, release;
    std::atomic<int> finished = 0;
    const auto count = [&](const VideoSession::Result& result) {
        EXPECT_EQ(result.status, 0);
        ++finished;
    };
    ASSERT_EQ(session->submit(text.picture(0), start, true,
                              [&, waitFor = release.get_future().share()](const VideoSession::Result& result) {
                                  inFirst.set_value();
                                  waitFor.wait();
                                  count(result);
                              }),
              0);
    inFirst.get_future().wait();  // the worker is busy: what follows waits in the queue
    for (int i = 1; i <= int(quib::FfmpegVideoSession::maxQueued); ++i)
        EXPECT_EQ(session->submit(text.picture(i), start + i * pictureInterval, false, count), 0) << i;
    EXPECT_NE(session->submit(text.picture(9), start + 9 * pictureInterval, false, count), 0);
    EXPECT_NE(session->submit(PixelBuffer::make(32, 64), start + 10 * pictureInterval, false, count), 0);
    release.set_value();
    session->close();
    EXPECT_EQ(finished, 1 + int(quib::FfmpegVideoSession::maxQueued));
    EXPECT_NE(session->submit(text.picture(10), start + 10 * pictureInterval, false, count), 0);

    // A session dropped by its last holder from one of its own handlers finishes alone.
    auto holder = std::make_shared<std::shared_ptr<quib::FfmpegVideoSession>>(
        quib::FfmpegVideoSession::open(Codec::h264, 64, 64, rates));
    std::promise<bool> dropped;
    ASSERT_EQ((*holder)->submit(text.picture(0), start, true,
                                [&dropped, holder](const VideoSession::Result& result) {
                                    holder->reset();
                                    dropped.set_value(result.picture.has_value());
                                }),
              0);
    holder.reset();
    auto outcome = dropped.get_future();
    ASSERT_EQ(outcome.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(outcome.get());
}

TEST_F(FfmpegVideoSession, TheHostsFactoryGivesH264AndX265RefusesTinyPictures) {
    ASSERT_TRUE(encoder->prepare(640, 360, 2'000'000, 30));
    EXPECT_EQ(sessions->refused, std::vector<Codec>{Codec::hevc});
    EXPECT_EQ(sessions->opened, std::vector<Codec>{Codec::h264});

    // With the hook, libx265 refuses 2 × 2 and 8 × 8, and libx264 takes them; 16 × 16 is HEVC.
    use(true);
    for (const int side : {2, 8, 16}) {
        ASSERT_TRUE(encoder->prepare(side, side, 500'000, 30));
        auto grey = PixelBuffer::make(side, side);
        for (int p = 0; p < PixelBuffer::planeCount; ++p)
            std::memset(grey->data(p), 128, std::size_t(grey->stride(p)) * grey->planeHeight(p));
        const auto encoded = encodeOne(grey, start);
        ASSERT_TRUE(encoded && encoded->output) << side;
        EXPECT_TRUE(encoded->output->isKeyframe);
    }
    EXPECT_EQ(sessions->refused, (std::vector<Codec>{Codec::hevc, Codec::hevc}));
    EXPECT_EQ(sessions->opened, (std::vector<Codec>{Codec::h264, Codec::h264, Codec::hevc}));
}

}  // namespace
}  // namespace quib
