// The upload and still frame records and their readers at the upload cap.

#include <gtest/gtest.h>

#include "FrameBytes.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Shared/StillChannel.hpp"
#include "Shared/StillFrame.hpp"
#include "Shared/UploadChannel.hpp"

using namespace quib;
using quib::testing::lengthOf;
using quib::testing::rawFrame;
using quib::testing::view;

namespace {

using Format = AttachmentFrame::Format;

std::string frame(std::int64_t index, std::string_view payload) {
    const AttachmentFrame header{index, Format::jpeg, std::ssize(payload), 640, 480};
    return std::string(view(*AttachmentFrameWriter::encode(header, bytesOf(payload))));
}

}  // namespace

TEST(AttachmentFrame, EveryKeyIsRequiredAndWritten) {
    const AttachmentFrame frame{2, Format::jpeg, 1234, 640, 480};
    const std::string json = *QuibCoder::encode(frame);
    EXPECT_EQ(json, R"({"index":2,"format":"jpeg","byteCount":1234,"width":640,"height":480})");
    EXPECT_EQ(*QuibCoder::decode<AttachmentFrame>(json), frame);
    for (const char* key : {"index", "format", "byteCount", "width", "height"}) {
        Json partial = Json::parse(json);
        partial.erase(key);
        EXPECT_FALSE(QuibCoder::decode<AttachmentFrame>(partial.dump())) << key;
    }
    EXPECT_FALSE(
        QuibCoder::decode<AttachmentFrame>(R"({"index":"2","format":"png","byteCount":1,"width":1,"height":1})"));
}

TEST(AttachmentFrame, ReaderSkipsAFrameWithAJpgFormatOrNoHeightAndKeepsItsNeighbours) {
    AttachmentFrameReader reader(UploadChannel::maxAttachmentBytes);
    const std::string jpg = R"({"index":1,"format":"jpg","byteCount":1,"width":1,"height":1})";
    const std::string noHeight = R"({"index":2,"format":"png","byteCount":1,"width":1})";
    const auto frames = reader.append(frame(0, "a") + rawFrame(jpg, "x") + rawFrame(noHeight, "y") + frame(3, "d"));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].header.index, 0);
    EXPECT_EQ(textOf(frames[0].payload), "a");
    EXPECT_EQ(frames[1].header.index, 3);
    EXPECT_EQ(textOf(frames[1].payload), "d");
}

TEST(AttachmentFrame, UploadReaderTakesExactlyTheCapAndDesynchronisesOneByteAbove) {
    const std::string header = *QuibCoder::encode(AttachmentFrame{0, Format::png, 0, 1, 1});
    AttachmentFrameReader reader(UploadChannel::maxAttachmentBytes);
    const std::string atCap(static_cast<std::size_t>(UploadChannel::maxAttachmentBytes), 'x');
    const auto frames = reader.append(rawFrame(header, atCap));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload.size(), atCap.size());
    EXPECT_FALSE(reader.takeDesync());

    // The length alone is enough: the reader refuses before any payload byte arrives.
    EXPECT_TRUE(reader
                    .append(lengthOf(static_cast<std::uint32_t>(header.size())) + header +
                            lengthOf(UploadChannel::maxAttachmentBytes + 1))
                    .empty());
    EXPECT_TRUE(reader.takeDesync());
    EXPECT_EQ(reader.bufferedBytes(), 0u);

    EXPECT_TRUE(reader.append(frame(0, "kept") + lengthOf(0) + frame(1, "lost")).size() == 1);
    EXPECT_TRUE(reader.takeDesync());
    EXPECT_EQ(reader.bufferedBytes(), 0u);
}

TEST(StillFrame, EveryKeyIsRequiredAndItsReaderReadsWhatItsWriterWrote) {
    const StillFrame frame{"Terminal \u2014 zsh", 1280, 800, 3};
    const auto bytes = StillFrameWriter::encode(frame, bytesOf("png"));
    ASSERT_TRUE(bytes);
    StillFrameReader reader(StillChannel::maxStillBytes);
    const auto frames = reader.append(view(*bytes));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].header, frame);
    EXPECT_EQ(textOf(frames[0].payload), "png");
    EXPECT_FALSE(QuibCoder::decode<StillFrame>(R"({"title":"t","width":1,"height":1})"));
}
