// The generic side-channel frame: its writer, its incremental reader, the reader's behaviour
// under random splits and random damage, and the streaming reader that must cut the same frames.

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "FrameBytes.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Shared/LengthPrefixedFramer.hpp"
#include "Shared/LengthPrefixedStreamer.hpp"

using namespace quib;
using quib::testing::lengthOf;
using quib::testing::rawFrame;
using quib::testing::view;

namespace {

using Reader = LengthPrefixedFramer<AttachmentFrame>;

AttachmentFrame header(std::int64_t index, std::int64_t byteCount = 0) {
    return {index, AttachmentFrame::Format::png, byteCount, 1, 1};
}

std::string frame(std::int64_t index, std::string_view payload) {
    return std::string(view(*LengthPrefixed::encode(header(index, std::ssize(payload)), bytesOf(payload))));
}

std::vector<std::int64_t> indexes(const std::vector<Reader::Frame>& frames) {
    std::vector<std::int64_t> out;
    for (const auto& f : frames) out.push_back(f.header.index);
    return out;
}

}  // namespace

TEST(LengthPrefixedFramer, WriterLaysOutBigEndianLengthsAroundTheJsonHeader) {
    const auto written = LengthPrefixed::encode(header(3, 2), bytesOf("ab"));
    ASSERT_TRUE(written);
    const std::string json = *QuibCoder::encode(header(3, 2));
    EXPECT_EQ(std::string(view(*written)), rawFrame(json, "ab"));
    EXPECT_EQ(LengthPrefixed::readLength("\x01\x02\x03\x04"), 0x01020304u);
}

TEST(LengthPrefixedFramer, FrameFedOneByteAtATimeComesOutOnceOnItsLastByte) {
    Reader reader(1024);
    const std::string bytes = frame(0, "payload");
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) EXPECT_TRUE(reader.append(bytes.substr(i, 1)).empty()) << i;
    const auto frames = reader.append(bytes.substr(bytes.size() - 1));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(textOf(frames[0].payload), "payload");
    EXPECT_EQ(reader.bufferedBytes(), 0u);
    EXPECT_FALSE(reader.takeDesync());
}

TEST(LengthPrefixedFramer, FramesInOneCallComeOutInOrderAndAnEmptyPayloadIsAFrame) {
    Reader reader(1024);
    const auto frames = reader.append(frame(0, "a") + frame(1, "") + frame(2, "c") + frame(3, "partial").substr(0, 5));
    EXPECT_EQ(indexes(frames), (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_TRUE(frames[1].payload.empty());
    EXPECT_EQ(reader.bufferedBytes(), 5u);
}

TEST(LengthPrefixedFramer, UndecodableHeaderDropsOnlyItsOwnFrame) {
    Reader reader(1024);
    const auto frames =
        reader.append(frame(0, "a") + rawFrame("not json", "lost") + rawFrame("{}", "lost too") + frame(1, "b"));
    EXPECT_EQ(indexes(frames), (std::vector<std::int64_t>{0, 1}));
    EXPECT_FALSE(reader.takeDesync());
}

TEST(LengthPrefixedFramer, ZeroOrOversizedLengthDropsTheBufferAndIsReportedOnce) {
    const std::string zeroHeader = lengthOf(0) + "rest";
    const std::string bigHeader = lengthOf(1025) + "rest";
    const std::string bigPayload = lengthOf(2) + "{}" + lengthOf(1025) + "rest";
    for (const std::string& damage : {zeroHeader, bigHeader, bigPayload}) {
        Reader reader(1024);
        const auto frames = reader.append(frame(0, "kept") + damage + frame(1, "lost with the buffer"));
        EXPECT_EQ(indexes(frames), std::vector<std::int64_t>{0});
        EXPECT_EQ(reader.bufferedBytes(), 0u);
        EXPECT_TRUE(reader.takeDesync());
        EXPECT_FALSE(reader.takeDesync());
        // The next bytes start a new frame.
        EXPECT_EQ(indexes(reader.append(frame(2, "x"))), std::vector<std::int64_t>{2});
    }
}

TEST(LengthPrefixedFramer, LengthsAtTheCapPass) {
    Reader reader(64);
    const std::string json = *QuibCoder::encode(header(0));
    const std::string padded = json.substr(0, json.size() - 1) + std::string(64 - json.size(), ' ') + "}";
    ASSERT_EQ(padded.size(), 64u);
    const auto frames = reader.append(rawFrame(padded, std::string(64, 'p')));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload.size(), 64u);
    EXPECT_FALSE(reader.takeDesync());
}

// Well-formed frames under random splits: each comes out exactly once, in order, intact.
TEST(LengthPrefixedFramer, RandomSplitsOfGoodFramesLoseNothing) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        std::vector<std::string> payloads;
        std::string stream;
        for (int i = 0; i < 30; ++i) {
            std::string payload(std::uniform_int_distribution<std::size_t>(0, 700)(random), '\0');
            for (auto& c : payload) c = static_cast<char>(random());
            stream += frame(i, payload);
            payloads.push_back(std::move(payload));
        }
        Reader reader(1024);
        std::vector<Reader::Frame> frames;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t n =
                std::min(stream.size() - at, std::uniform_int_distribution<std::size_t>(1, 900)(random));
            for (auto& f : reader.append(std::string_view(stream).substr(at, n))) frames.push_back(std::move(f));
            at += n;
        }
        ASSERT_EQ(frames.size(), payloads.size()) << "seed " << seed;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].header.index, static_cast<std::int64_t>(i));
            EXPECT_EQ(textOf(frames[i].payload), payloads[i]) << "seed " << seed << " frame " << i;
        }
        EXPECT_EQ(reader.bufferedBytes(), 0u);
        EXPECT_FALSE(reader.takeDesync());
    }
}

// Random garbage, alone or between good frames, in random chunks: the reader never holds more
// than one unfinished frame (plus the chunk just fed), reports the damage that begins the first
// block of garbage, loses none of the frames before it, and hands out only good frames, each
// at most once and in order. Frames behind garbage may be lost.
TEST(LengthPrefixedFramer, RandomGarbageKeepsTheReaderBoundedAndIsReported) {
    constexpr std::int64_t cap = 1024;
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t lo, std::size_t hi) {
            return std::uniform_int_distribution<std::size_t>(lo, hi)(random);
        };
        std::string stream;
        std::size_t garbageStart = std::string::npos;
        int goodBeforeGarbage = 0;
        int good = 0;
        const bool garbageOnly = seed % 5 == 0;
        for (int block = 0; block < 12; ++block) {
            if (garbageOnly || pick(0, 2) == 0 || (block == 11 && garbageStart == std::string::npos)) {
                std::string garbage(pick(4, 3000), '\0');
                for (auto& c : garbage) c = static_cast<char>(random());
                // Out of range where it begins: a zero header length or one above the cap.
                const std::uint32_t length = pick(0, 1) ? 0 : static_cast<std::uint32_t>(pick(cap + 1, 0xffffffffu));
                garbage.replace(0, 4, lengthOf(length));
                if (garbageStart == std::string::npos) garbageStart = stream.size(), goodBeforeGarbage = good;
                stream += garbage;
            } else {
                stream += frame(good++, std::string(pick(0, cap), 'g'));
            }
        }
        Reader reader(cap);
        std::vector<std::int64_t> seen;
        bool desynced = false;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t n = std::min(stream.size() - at, pick(1, 2500));
            for (auto& f : reader.append(std::string_view(stream).substr(at, n))) {
                EXPECT_EQ(f.payload, Bytes(f.payload.size(), 'g'));
                seen.push_back(f.header.index);
            }
            desynced = reader.takeDesync() || desynced;
            EXPECT_LE(reader.bufferedBytes(), 8 + 2 * cap + n) << "seed " << seed;
            at += n;
        }
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) &&
                    std::adjacent_find(seen.begin(), seen.end()) == seen.end())
            << "seed " << seed;
        ASSERT_NE(garbageStart, std::string::npos);
        EXPECT_TRUE(desynced) << "seed " << seed;
        ASSERT_GE(seen.size(), static_cast<std::size_t>(goodBeforeGarbage)) << "seed " << seed;
        for (int i = 0; i < goodBeforeGarbage; ++i) EXPECT_EQ(seen[i], i) << "seed " << seed;
    }
}

namespace {

// Gathers what a streaming reader hands on: whole frames, their payloads put back together.
struct Gathered final : LengthPrefixedStreamer::Sink {
    void begin(std::string_view header, std::uint32_t payloadLength) override {
        EXPECT_FALSE(current);
        current = LengthPrefixedCutter::Piece{std::string(header), {}};
        expected = payloadLength;
    }
    void payload(std::string_view piece) override {
        ASSERT_TRUE(current && !piece.empty());
        current->payload.insert(current->payload.end(), piece.begin(), piece.end());
    }
    bool end() override {
        EXPECT_TRUE(current && current->payload.size() == expected);
        if (current) pieces.push_back(std::move(*current));
        current.reset();
        return true;
    }

    std::optional<LengthPrefixedCutter::Piece> current;
    std::vector<LengthPrefixedCutter::Piece> pieces;  // whole since they were last taken
    std::uint32_t expected = 0;
};

}  // namespace

// Good frames and garbage of every kind, fed in random chunks to both readers: the same frames
// come out, after the same call, and the same calls report damage. The streaming reader holds
// at most one frame's lengths and header.
TEST(LengthPrefixedStreamer, CutsWhatTheBufferingReaderCutsWhateverTheStream) {
    constexpr std::int64_t cap = 512;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t lo, std::size_t hi) {
            return std::uniform_int_distribution<std::size_t>(lo, hi)(random);
        };
        std::string stream;
        for (int block = 0; block < 16; ++block) {
            switch (pick(0, 4)) {
                case 0:
                    stream += lengthOf(static_cast<std::uint32_t>(pick(0, 1) ? 0 : pick(cap + 1, 0xffffffffu)));
                    break;
                case 1:
                    stream += rawFrame("{\"x\":1}", std::string(pick(0, 40), 'p'));
                    break;  // a header that is no frame's
                case 2:
                    stream += lengthOf(3) + "abc" + lengthOf(static_cast<std::uint32_t>(pick(cap + 1, cap + 9)));
                    break;
                default: stream += frame(block, std::string(pick(0, cap), static_cast<char>('a' + block))); break;
            }
        }
        LengthPrefixedCutter cutter(cap);
        LengthPrefixedStreamer streamer(cap);
        Gathered gathered;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t n = std::min(stream.size() - at, pick(1, 700));
            const auto chunk = std::string_view(stream).substr(at, n);
            const auto cut = cutter.append(chunk);
            gathered.pieces.clear();
            streamer.append(chunk, gathered);
            ASSERT_EQ(gathered.pieces.size(), cut.size()) << "seed " << seed << " at " << at;
            for (std::size_t i = 0; i < cut.size(); ++i) {
                EXPECT_EQ(gathered.pieces[i].header, cut[i].header) << "seed " << seed;
                EXPECT_EQ(gathered.pieces[i].payload, cut[i].payload) << "seed " << seed;
            }
            EXPECT_EQ(streamer.takeDesync(), cutter.takeDesync()) << "seed " << seed << " at " << at;
            EXPECT_LE(streamer.bufferedBytes(), 8 + static_cast<std::size_t>(cap));
            at += n;
        }
    }
}
