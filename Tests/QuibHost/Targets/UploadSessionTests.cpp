#include "QuibHost/Targets/UploadSession.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "Runtime/FakeClock.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestImages.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace upload_session_tests {

using namespace quib;
using namespace quib::testing;
namespace fs = std::filesystem;
using Format = AttachmentFrame::Format;
using Kind = quib::UploadSession::Progress::Kind;

AttachmentManifest manifest(std::int64_t count, std::int64_t version = 23, std::vector<std::string> targets = {"T-1"}) {
    AttachmentManifest m;
    m.protocolVersion = version;
    m.count = count;
    m.targetIDs = std::move(targets);
    return m;
}

std::string frame(std::int64_t index, const Bytes& image, Format format = Format::png) {
    auto bytes = AttachmentFrameWriter::encode({index, format, static_cast<std::int64_t>(image.size()), 1, 1}, image);
    return textOf(*bytes);
}

std::string png(std::int64_t index) { return frame(index, onePixelPng()); }

class UploadSession : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }

    std::unique_ptr<quib::UploadSession> session(std::int64_t count) {
        return std::make_unique<quib::UploadSession>(manifest(count), "BATCH", inbox);
    }

    std::size_t stored() const {
        const fs::path folder = scratch.path / "Quib" / "inbox";
        if (!fs::exists(folder)) return 0;
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    ScratchFolder scratch{"upload"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<AttachmentInbox> inbox =
        std::make_shared<AttachmentInbox>(AttachmentInbox::Config{.dataHome = scratch.path, .clock = clock});
};

TEST_F(UploadSession, HelloIsRefusedForItsVersionThenItsCountThenItsTargets) {
    using quib::UploadSession;
    EXPECT_EQ(UploadSession::refusal(manifest(1, 4)), "That phone speaks protocol 4; this computer speaks 23");
    EXPECT_EQ(UploadSession::refusal(manifest(1, 24)), "That phone speaks protocol 24; this computer speaks 23");
    EXPECT_EQ(UploadSession::refusal(manifest(0, 3)), "That phone speaks protocol 3; this computer speaks 23");
    EXPECT_EQ(UploadSession::refusal(manifest(1, 5)), std::nullopt);
    EXPECT_EQ(UploadSession::refusal(manifest(1, 23)), std::nullopt);
    EXPECT_EQ(UploadSession::refusal(manifest(0)), "That upload has no attachments in it");
    EXPECT_EQ(UploadSession::refusal(manifest(-1)), "That upload has no attachments in it");
    EXPECT_EQ(UploadSession::refusal(manifest(9)), "9 attachments at once \u2014 the limit is 8");
    EXPECT_EQ(UploadSession::refusal(manifest(9, 23, {})), "9 attachments at once \u2014 the limit is 8");
    EXPECT_EQ(UploadSession::refusal(manifest(8)), std::nullopt);
    EXPECT_EQ(UploadSession::refusal(manifest(1, 23, {})), "That upload names no target");
}

TEST_F(UploadSession, FramesInAnyOrderCompleteInIndexOrder) {
    auto upload = session(2);
    const Bytes jpeg = jpegHeader(4, 3);
    EXPECT_EQ(upload->append(frame(1, jpeg, Format::jpeg)).kind, Kind::waiting);
    // Until the batch is whole its images are hidden temporaries, which a crash cannot leave
    // under a final name.
    for (const auto& entry : fs::directory_iterator(scratch.path / "Quib" / "inbox"))
        EXPECT_TRUE(entry.path().filename().string().starts_with(".quib-20270115-080000-2.jpg.")) << entry.path();
    const auto progress = upload->append(png(0));
    ASSERT_EQ(progress.kind, Kind::complete);
    ASSERT_EQ(progress.attachments.size(), 2u);
    EXPECT_EQ(progress.attachments[0].format, Format::png);
    EXPECT_EQ(progress.attachments[0].file.filename(), "quib-20270115-080000-1.png");
    EXPECT_EQ(progress.attachments[1].format, Format::jpeg);
    EXPECT_EQ(progress.attachments[1].file.filename(), "quib-20270115-080000-2.jpg");
    EXPECT_TRUE(upload->isOver());

    // Over: further bytes change nothing, and abandoning a completed upload keeps its files.
    EXPECT_EQ(upload->append(png(0)).kind, Kind::waiting);
    upload->abandon();
    EXPECT_EQ(stored(), 2u);
}

TEST_F(UploadSession, IndexOutsideTheBatchIsRefusedAndWhatWasStoredIsDeleted) {
    auto upload = session(2);
    EXPECT_EQ(upload->append(png(0)).kind, Kind::waiting);
    EXPECT_EQ(stored(), 1u);
    const auto progress = upload->append(png(2));
    EXPECT_EQ(progress, (quib::UploadSession::Progress{Kind::refused, {}, "Attachment 3 isn't part of a batch of 2"}));
    EXPECT_EQ(stored(), 0u);
    EXPECT_EQ(upload->append(png(1)).kind, Kind::waiting);
    EXPECT_EQ(stored(), 0u);

    EXPECT_EQ(session(2)->append(png(INT64_MAX)).message, "Attachment 9223372036854775808 isn't part of a batch of 2");
    EXPECT_EQ(session(2)->append(png(-1)).message, "Attachment 0 isn't part of a batch of 2");
}

TEST_F(UploadSession, DuplicateIndexIsRefusedInOneChunkOrInTwo) {
    EXPECT_EQ(session(2)->append(png(0) + png(0)).message, "Attachment 1 arrived twice");
    auto upload = session(2);
    EXPECT_EQ(upload->append(png(0)).kind, Kind::waiting);
    EXPECT_EQ(upload->append(png(0)).message, "Attachment 1 arrived twice");
    EXPECT_EQ(stored(), 0u);
}

// Completion is judged after every frame of the chunk.
TEST_F(UploadSession, LastFrameCompletesDespiteAPartialFrameBehindItButNotAWholeDuplicate) {
    const std::string next = png(1);
    const auto completed = session(1)->append(png(0) + next.substr(0, 10));
    EXPECT_EQ(completed.kind, Kind::complete);
    EXPECT_EQ(completed.attachments.size(), 1u);

    const auto refused = session(2)->append(png(0) + png(1) + png(1));
    EXPECT_EQ(refused.message, "Attachment 2 arrived twice");
}

TEST_F(UploadSession, InboxRefusalEndsTheUploadWithItsMessage) {
    auto upload = session(2);
    EXPECT_EQ(upload->append(png(1)).kind, Kind::waiting);
    const auto progress = upload->append(frame(0, jpegHeader(2, 2), Format::png));
    EXPECT_EQ(progress.message, "That attachment claimed public.png and is public.jpeg");
    EXPECT_EQ(stored(), 0u);
}

// An image goes to its file as its bytes arrive, not once whole; a frame is still judged only
// once whole, even when its header already tells it is refused, and closing mid-frame removes
// the part written.
TEST_F(UploadSession, ImagesAreWrittenAsTheyArriveAndJudgedOnlyWhenWhole) {
    const std::string first = png(0);
    auto upload = session(2);
    EXPECT_EQ(upload->append(first.substr(0, first.size() - 5)).kind, Kind::waiting);
    EXPECT_EQ(stored(), 1u);
    EXPECT_EQ(upload->storedCount(), 0u);
    EXPECT_EQ(upload->append(first.substr(first.size() - 5)).kind, Kind::waiting);
    EXPECT_EQ(upload->storedCount(), 1u);
    const std::string outside = png(5);
    EXPECT_EQ(upload->append(outside.substr(0, outside.size() - 1)).kind, Kind::waiting);
    EXPECT_EQ(stored(), 1u);
    EXPECT_EQ(upload->append(outside.substr(outside.size() - 1)).message, "Attachment 6 isn't part of a batch of 2");
    EXPECT_EQ(stored(), 0u);

    // A whole duplicate header behind the last frame, its payload still to come, does not
    // keep the upload from completing.
    EXPECT_EQ(session(1)->append(first + first.substr(0, first.size() - 1)).kind, Kind::complete);

    auto cut = session(1);
    EXPECT_EQ(cut->append(first.substr(0, first.size() - 1)).kind, Kind::waiting);
    cut->abandon();
    EXPECT_EQ(stored(), 1u);  // the completed upload's image only
}

// A header that does not decode never arrives, so the upload waits; closing deletes the rest.
TEST_F(UploadSession, UndecodableFrameLeavesItWaitingUntilAbandoned) {
    auto upload = session(2);
    const std::string undecodable("\x00\x00\x00\x02{}\x00\x00\x00\x01x", 11);  // header "{}", payload "x"
    EXPECT_EQ(upload->append(png(0) + undecodable).kind, Kind::waiting);
    EXPECT_EQ(upload->append(std::string(1000, '\0')).kind, Kind::waiting);  // a zero length: damage, ignored
    EXPECT_FALSE(upload->isOver());
    EXPECT_EQ(stored(), 1u);
    upload->abandon();
    EXPECT_TRUE(upload->isOver());
    EXPECT_EQ(stored(), 0u);
}

}  // namespace upload_session_tests
