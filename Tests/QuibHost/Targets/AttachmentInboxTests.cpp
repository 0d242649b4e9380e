#include "QuibHost/Targets/AttachmentInbox.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "QuibHost/Targets/ImageSniffer.hpp"
#include "Runtime/FakeClock.hpp"
#include "Shared/UploadChannel.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestImages.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace attachment_inbox_tests {

using namespace quib;
using namespace quib::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Format = AttachmentFrame::Format;
using Kind = quib::AttachmentInbox::Refusal::Kind;

constexpr std::int64_t mebibyte = 1048576;

AttachmentFrame frameFor(const Bytes& data, Format format = Format::png, std::int64_t index = 0) {
    return {index, format, static_cast<std::int64_t>(data.size()), 1, 1};
}

class AttachmentInbox : public ::testing::Test {
protected:
    void SetUp() override {
        // Each test runs in a process of its own, so the zone is this test's alone.
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }

    // The refusal's message, or "stored" when the image was stored.
    std::string outcome(const Bytes& data, const AttachmentFrame& frame) {
        auto written = inbox.write(data, frame);
        const auto* refusal = std::get_if<quib::AttachmentInbox::Refusal>(&written);
        return refusal ? refusal->message() : "stored";
    }

    fs::path stored(const Bytes& data, const AttachmentFrame& frame) {
        auto written = inbox.write(data, frame);
        EXPECT_TRUE(std::holds_alternative<fs::path>(written))
            << std::get<quib::AttachmentInbox::Refusal>(written).message();
        return std::holds_alternative<fs::path>(written) ? std::get<fs::path>(written) : fs::path();
    }

    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : fs::directory_iterator(folder)) out.insert(entry.path().filename().string());
        return out;
    }

    // A sparse file of `size` bytes last modified `age` before the clock's now.
    fs::path file(const std::string& name, std::int64_t size, std::chrono::seconds age) {
        const fs::path path = folder / name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        setAge(path, age);
        return path;
    }
    void setAge(const fs::path& path, std::chrono::seconds age) {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>((clock->wallNow() - age).time_since_epoch());
        const timespec times[2] = {{seconds.count(), 0}, {seconds.count(), 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }

    ScratchFolder scratch{"inbox"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();  // 2027-01-15T08:00:00Z
    quib::AttachmentInbox inbox{{scratch.path, clock, nullptr}};
    fs::path folder = scratch.path / "Quib" / "inbox";
};

TEST_F(AttachmentInbox, RefusesWhatIsNotTheImageItClaimsToBeInTheOrderOfTheChecks) {
    EXPECT_EQ(outcome({}, frameFor({})), "That attachment arrived empty");
    const Bytes thirty(30, 'x');
    EXPECT_EQ(outcome(thirty, {0, Format::png, 31, 1, 1}), "That attachment said 31 bytes and delivered 30");
    const Bytes big(27262976, 0);
    EXPECT_EQ(outcome(big, frameFor(big)), "That attachment is 26 MB \u2014 the limit is 25 MB");
    const Bytes justOver(UploadChannel::maxAttachmentBytes + 1, 0);
    EXPECT_EQ(outcome(justOver, frameFor(justOver)), "That attachment is 25 MB \u2014 the limit is 25 MB");
    EXPECT_EQ(outcome(bytesOf("plain text"), frameFor(bytesOf("plain text"))),
              "Those bytes aren't an image Quib can read");
    EXPECT_TRUE(names().empty());
}

TEST_F(AttachmentInbox, NamesTheActualTypeOfAnImageInTheWrongFormatFromItsSignatureAlone) {
    const Bytes jpeg = jpegHeader(10, 10);
    EXPECT_EQ(outcome(jpeg, frameFor(jpeg, Format::png)), "That attachment claimed public.png and is public.jpeg");
    const Bytes cutShort(jpeg.begin(), jpeg.begin() + 4);
    EXPECT_EQ(outcome(cutShort, frameFor(cutShort, Format::png)),
              "That attachment claimed public.png and is public.jpeg");
    const Bytes png = pngHeader(10, 10);
    EXPECT_EQ(outcome(png, frameFor(png, Format::jpeg)), "That attachment claimed public.jpeg and is public.png");
    for (const auto& [magic, type] :
         std::vector<std::pair<std::string, std::string>>{{"GIF89a....", "com.compuserve.gif"},
                                                          {std::string("II*\0....", 8), "public.tiff"},
                                                          {std::string("MM\0*....", 8), "public.tiff"},
                                                          {"BM........", "com.microsoft.bmp"},
                                                          {"RIFF....WEBPVP8 ", "org.webmproject.webp"},
                                                          {std::string("\0\0\0\x18"
                                                                       "ftypheic",
                                                                       12),
                                                           "public.heic"}}) {
        EXPECT_EQ(outcome(bytesOf(magic), frameFor(bytesOf(magic))),
                  "That attachment claimed public.png and is " + type);
    }
}

TEST_F(AttachmentInbox, ReadsThePixelSizeOnlyFromAReadableHeaderAndCapsEachSide) {
    EXPECT_EQ(outcome(pngHeader(8000, 8000), frameFor(pngHeader(8000, 8000))), "stored");
    EXPECT_EQ(outcome(pngHeader(8001, 10), frameFor(pngHeader(8001, 10))), "8001\u00d710 is past the 8000 px limit");
    EXPECT_EQ(outcome(jpegHeader(10, 8001), frameFor(jpegHeader(10, 8001), Format::jpeg)),
              "10\u00d78001 is past the 8000 px limit");

    Bytes signatureOnly = pngHeader(1, 1);
    signatureOnly.resize(8);
    Bytes zeroWide = pngHeader(0, 5);
    Bytes noFrameHeader = jpegHeader(1, 1);
    noFrameHeader.resize(20);  // SOI and APP0 only
    Bytes scanFirst = noFrameHeader;
    for (std::uint8_t b : {0xff, 0xda, 0x00, 0x02}) scanFirst.push_back(b);
    Bytes runsPastTheEnd = jpegHeader(1, 1);
    runsPastTheEnd.resize(26);  // the frame header is cut before its size
    for (const Bytes* bad : {&signatureOnly, &zeroWide, &noFrameHeader, &scanFirst, &runsPastTheEnd}) {
        const Format format = (*bad)[0] == 0x89 ? Format::png : Format::jpeg;
        EXPECT_EQ(outcome(*bad, frameFor(*bad, format)), "Those bytes aren't an image Quib can read");
    }
    // Fill bytes and other segments before the frame header are walked over.
    Bytes progressive{0xff, 0xd8, 0xff, 0xff, 0xfe, 0x00, 0x04, 'h',  'i',  0xff, 0xc2,
                      0x00, 0x0b, 0x08, 0x01, 0x2c, 0x02, 0x58, 0x01, 0x01, 0x11, 0x00};
    EXPECT_EQ(ImageSniffer::pixelSize(progressive, Format::jpeg), (ImageSniffer::PixelSize{600, 300}));
}

TEST_F(AttachmentInbox, StoresOwnerOnlyFilesNamedByLocalTimeIndexAndFormat) {
    const Bytes png = onePixelPng();
    const fs::path first = stored(png, frameFor(png));
    const fs::path second = stored(png, frameFor(png));
    const Bytes jpeg = jpegHeader(2, 2);
    const fs::path third = stored(jpeg, frameFor(jpeg, Format::jpeg, 7));
    EXPECT_EQ(first, folder / "quib-20270115-080000-1.png");
    EXPECT_EQ(second, folder / "quib-20270115-080000-1-2.png");
    EXPECT_EQ(third, folder / "quib-20270115-080000-8.jpg");
    EXPECT_EQ(fileContents(first), textOf(png));
    EXPECT_EQ(modeOf(first), 0600u);
    EXPECT_EQ(modeOf(folder), 0700u);

    ::setenv("TZ", "<+0530>-5:30", 1);
    ::tzset();
    EXPECT_EQ(stored(png, frameFor(png)).filename(), "quib-20270115-133000-1.png");
    EXPECT_EQ(quib::AttachmentInbox::countedFromOne(INT64_MAX), "9223372036854775808");
}

// A name that is taken, by a file or by a link to somewhere else, is never written through.
TEST_F(AttachmentInbox, NeverOverwritesOrFollowsWhatHoldsTheName) {
    const Bytes png = onePixelPng();
    (void)inbox.directory();
    { std::ofstream(folder / "quib-20270115-080000-1.png") << "theirs"; }
    const fs::path outside = scratch.path / "outside.png";
    fs::create_symlink(outside, folder / "quib-20270115-080000-1-2.png");
    EXPECT_EQ(stored(png, frameFor(png)).filename(), "quib-20270115-080000-1-3.png");
    EXPECT_EQ(fileContents(folder / "quib-20270115-080000-1.png"), "theirs");
    EXPECT_FALSE(fs::exists(outside));
}

// An upload killed mid-way once left truncated images under final names, never removed: an image
// is written to a hidden temporary first, and what a run leaves of those goes when the next
// inbox is made. A final name is claimed as write claims one.
TEST_F(AttachmentInbox, TemporariesTakeTheirNameOnlyWhenPlacedAndLeftoversAreRemoved) {
    const Bytes png = onePixelPng();
    auto written = inbox.writeTemporary(png, frameFor(png));
    ASSERT_TRUE(std::holds_alternative<fs::path>(written));
    const fs::path temporary = std::get<fs::path>(written);
    EXPECT_EQ(names(), std::set<std::string>{".quib-20270115-080000-1.png.1.part"});
    inbox.prune();
    EXPECT_TRUE(fs::exists(temporary));
    { std::ofstream(folder / "quib-20270115-080000-1.png") << "theirs"; }
    EXPECT_EQ(std::get<fs::path>(inbox.place(temporary)), folder / "quib-20270115-080000-1-2.png");
    EXPECT_EQ(fileContents(folder / "quib-20270115-080000-1-2.png"), textOf(png));

    const auto left = std::get<fs::path>(inbox.writeTemporary(png, frameFor(png)));
    { std::ofstream(folder / ".kept") << "someone else's"; }
    quib::AttachmentInbox next{{scratch.path, clock, nullptr}};
    EXPECT_FALSE(fs::exists(left));
    EXPECT_EQ(names(), (std::set<std::string>{".kept", "quib-20270115-080000-1-2.png", "quib-20270115-080000-1.png"}));
}

// An image that arrives in pieces is written as it comes: what needs no look at its bytes is
// refused before a file is made, the image itself once it is whole, and a refused or dropped
// one leaves nothing behind.
TEST_F(AttachmentInbox, WritesAnImageInPiecesAndJudgesItWhole) {
    using Incoming = quib::AttachmentInbox::Incoming;
    auto refusal = [](quib::AttachmentInbox::Opened opened) {
        const auto* refused = std::get_if<quib::AttachmentInbox::Refusal>(&opened);
        return refused ? refused->message() : "opened";
    };
    const Bytes png = onePixelPng();
    EXPECT_EQ(refusal(inbox.open(frameFor(png), 0)), "That attachment arrived empty");
    EXPECT_EQ(refusal(inbox.open({0, Format::png, 31, 1, 1}, 30)), "That attachment said 31 bytes and delivered 30");
    EXPECT_TRUE(names().empty());

    auto opened = inbox.open(frameFor(png), std::ssize(png));
    ASSERT_TRUE(std::holds_alternative<Incoming>(opened));
    const std::string_view text(reinterpret_cast<const char*>(png.data()), png.size());
    std::get<Incoming>(opened).write(text.substr(0, 7));
    EXPECT_EQ(fileContents(folder / ".quib-20270115-080000-1.png.1.part"), text.substr(0, 7));
    std::get<Incoming>(opened).write(text.substr(7));
    const auto written = inbox.finish(std::move(std::get<Incoming>(opened)));
    ASSERT_TRUE(std::holds_alternative<fs::path>(written));
    EXPECT_EQ(std::get<fs::path>(written), folder / ".quib-20270115-080000-1.png.1.part");
    EXPECT_EQ(fileContents(std::get<fs::path>(written)), textOf(png));
    fs::remove(std::get<fs::path>(written));

    const Bytes jpeg = jpegHeader(2, 2);
    auto wrong = std::get<Incoming>(inbox.open(frameFor(jpeg), std::ssize(jpeg)));
    wrong.write(std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()));
    EXPECT_EQ(std::get<quib::AttachmentInbox::Refusal>(inbox.finish(std::move(wrong))).message(),
              "That attachment claimed public.png and is public.jpeg");
    { auto dropped = std::get<Incoming>(inbox.open(frameFor(png), std::ssize(png))); }
    EXPECT_TRUE(names().empty());
}

TEST_F(AttachmentInbox, WritersAtTheSameMomentNeverShareAFile) {
    std::vector<std::vector<fs::path>> paths(4);
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            Bytes png = pngHeader(1, 1);
            png.push_back(static_cast<std::uint8_t>(w));  // tells the writers' files apart
            for (int i = 0; i < 25; ++i) {
                auto written = inbox.write(png, frameFor(png));
                if (auto* path = std::get_if<fs::path>(&written)) paths[w].push_back(*path);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    std::set<fs::path> all;
    for (int w = 0; w < 4; ++w) {
        EXPECT_EQ(paths[w].size(), 25u);
        for (const auto& path : paths[w]) {
            all.insert(path);
            EXPECT_EQ(static_cast<int>(fileContents(path).back()), w);
        }
    }
    EXPECT_EQ(all.size(), 100u);
}

TEST_F(AttachmentInbox, RefusesWhenTheFolderIsMissingOrCannotBeWritten) {
    quib::AttachmentInbox nowhere{{std::nullopt, clock, nullptr}};
    const Bytes png = onePixelPng();
    auto written = nowhere.write(png, frameFor(png));
    EXPECT_EQ(std::get<quib::AttachmentInbox::Refusal>(written).message(), "Quib can't find its data folder");
    nowhere.prune();

    // The data folder's "Quib" is a plain file, so the inbox cannot be made inside it.
    ScratchFolder blocked{"blocked"};
    { std::ofstream(blocked.path / "Quib") << "not a folder"; }
    quib::AttachmentInbox unwritable{{blocked.path, clock, nullptr}};
    written = unwritable.write(png, frameFor(png));
    EXPECT_EQ(std::get<quib::AttachmentInbox::Refusal>(written),
              (quib::AttachmentInbox::Refusal{
                  .kind = Kind::writeFailed, .fileName = "quib-20270115-080000-1.png", .reason = "Not a directory"}));
    // The phone is told why, as it is of a full disk ("No space left on device").
    EXPECT_EQ(std::get<quib::AttachmentInbox::Refusal>(written).message(),
              "Couldn't save the attachment: quib-20270115-080000-1.png (Not a directory)");
}

TEST_F(AttachmentInbox, PruningRemovesFilesOlderThanAWeek) {
    (void)inbox.directory();
    file("old.png", 10, 7 * 24h + 1s);
    file("cutoff.png", 10, 7 * 24h);
    file("recent.png", 10, 6 * 24h);
    inbox.prune();
    EXPECT_EQ(names(), (std::set<std::string>{"cutoff.png", "recent.png"}));
}

TEST_F(AttachmentInbox, PruningRemovesTheOldestUntilAtMost512MiBRemain) {
    (void)inbox.directory();
    file("a.png", 200 * mebibyte, 5h);
    file("b.png", 200 * mebibyte, 3h);
    file("c.png", 200 * mebibyte, 4h);
    inbox.prune();  // 600 MiB: the oldest goes, leaving 400 MiB
    EXPECT_EQ(names(), (std::set<std::string>{"b.png", "c.png"}));

    file("d.png", 112 * mebibyte, 1h);  // exactly 536870912 bytes now
    inbox.prune();
    EXPECT_EQ(names(), (std::set<std::string>{"b.png", "c.png", "d.png"}));
}

// Only regular, visible files are pruned or counted: removing a listed folder would delete
// everything in it, and a link's size is not what it points to.
TEST_F(AttachmentInbox, PruningLeavesHiddenFilesFoldersAndLinksAlone) {
    (void)inbox.directory();
    file(".hidden-and-huge", 1024 * mebibyte, 1h);
    file(".hidden-and-old", 10, 30 * 24h);
    fs::create_directory(folder / "kept");
    file("kept/inside.png", 10, 30 * 24h);
    setAge(folder / "kept", 30 * 24h);
    const fs::path outside = file("../outside.png", 10, 30 * 24h);
    fs::create_symlink(outside, folder / "link.png");
    setAge(folder / "link.png", 30 * 24h);
    file("recent.png", 10, 1h);
    inbox.prune();
    EXPECT_EQ(names(),
              (std::set<std::string>{".hidden-and-huge", ".hidden-and-old", "kept", "link.png", "recent.png"}));
    EXPECT_TRUE(fs::exists(folder / "kept" / "inside.png"));
    EXPECT_TRUE(fs::exists(outside));
}

}  // namespace attachment_inbox_tests
