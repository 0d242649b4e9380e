// The upload channel against the real quib-host: an approved phone says its upload hello on a
// connection of its own and sends its images as frames.

#include <sys/stat.h>

#include <regex>

#include <gtest/gtest.h>

#include "Shared/AttachmentFrame.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestImages.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::HostProcess;
using testing::TempHome;

const std::string noSuchTarget = "No target with that id \u2014 it may have been removed";

// A host with one saved target, T-1, and the phone PHONE-1 approved, both stored before it starts.
class UploadHost {
public:
    UploadHost() {
        QuibTarget target;
        target.id = "T-1";
        target.name = "Editor";
        testing::saveTargetsBeforeStart(home, {target});
        testing::approveBeforeStart(home, {testing::adasPhone});
        host = HostProcess::start(home);
    }

    // A connection that said this upload hello.
    std::unique_ptr<PhoneClient> upload(const std::string& deviceID, const std::vector<std::string>& targetIDs,
                                        std::int64_t count, std::int64_t version = 23) {
        auto phone = testing::connectPhone(phoneOptions(*host, host->pairingCode()));
        if (!phone) return nullptr;
        const Json manifest{{"protocolVersion", version},
                            {"deviceName", "Ada's phone"},
                            {"deviceID", deviceID},
                            {"targetIDs", targetIDs},
                            {"count", count}};
        EXPECT_TRUE(phone->sendLine(Json{{"uploadHello", {{"_0", manifest}}}}.dump()));
        return phone;
    }

    // Every line the host sends before it closes the connection.
    std::vector<Json> linesUntilClosed(PhoneClient& phone) {
        std::vector<Json> lines;
        for (;;) {
            auto line = phone.receiveLine(10s);
            if (!line) {
                EXPECT_EQ(line.error().message, "Connection closed") << host->log();
                return lines;
            }
            lines.push_back(Json::parse(*line));
        }
    }

    // A refused hello closes its connection while still pending, which counts as a failed
    // handshake of 127.0.0.1; an accepted control hello clears the count before the next.
    void clearFailures() { ASSERT_TRUE(testing::welcomed(*host).phone); }

    std::vector<fs::path> inbox() const {
        std::vector<fs::path> files;
        std::error_code error;
        for (fs::directory_iterator it(home.dataHome() / "Quib" / "inbox", error), end; !error && it != end;
             it.increment(error))
            files.push_back(it->path());
        return files;
    }

    TempHome home;
    std::unique_ptr<HostProcess> host;
};

std::string frame(std::int64_t index, const Bytes& image,
                  AttachmentFrame::Format format = AttachmentFrame::Format::png) {
    const AttachmentFrame header{index, format, static_cast<std::int64_t>(image.size()), 1, 1};
    return textOf(*AttachmentFrameWriter::encode(header, image));
}

std::string errorText(const std::vector<Json>& lines) {
    return lines.size() == 1 && lines[0].contains("error") ? lines[0]["error"]["_0"].get<std::string>() : "";
}

TEST(QuibHost, RefusesUploadHellosWithTheirOwnTextAndCloses) {
    UploadHost uploads;
    ASSERT_TRUE(uploads.host);
    const std::string wait = "Waiting for approval on " + uploads.host->name() + " \u2014 open the Quib panel";
    struct Case {
        std::string deviceID;
        std::vector<std::string> targets;
        std::int64_t count;
        std::int64_t version;
        std::string expected;
    };
    for (const Case& refused :
         {Case{"PHONE-1", {"T-1"}, 9, 23, "9 attachments at once \u2014 the limit is 8"},
          Case{"PHONE-1", {"T-1"}, 1, 4, "That phone speaks protocol 4; this computer speaks 23"},
          Case{"PHONE-1", {"T-1", "T-9"}, 1, 23, noSuchTarget}, Case{"STRANGER", {"T-1"}, 1, 23, wait}}) {
        auto phone = uploads.upload(refused.deviceID, refused.targets, refused.count, refused.version);
        ASSERT_TRUE(phone);
        EXPECT_EQ(errorText(uploads.linesUntilClosed(*phone)), refused.expected) << uploads.host->log();
        uploads.clearFailures();
    }
}

TEST(QuibHost, StoresAWholeImageOwnerOnlyAndAnswersOneReceipt) {
    UploadHost uploads;
    ASSERT_TRUE(uploads.host);
    auto phone = uploads.upload("PHONE-1", {"T-1"}, 1);
    ASSERT_TRUE(phone);
    auto ready = phone->receiveCase("uploadReady", 10s);
    ASSERT_TRUE(ready) << ready.error().message << uploads.host->log();
    const std::string batchID = (*ready)["batchID"].get<std::string>();
    EXPECT_TRUE(
        std::regex_match(batchID, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << batchID;

    const Bytes png = testing::onePixelPng();
    ASSERT_TRUE(phone->sendBytes(frame(0, png)));
    const auto lines = uploads.linesUntilClosed(*phone);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["delivered"]["_0"]["targetID"], "T-1");

    const auto files = uploads.inbox();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex("quib-[0-9]{8}-[0-9]{6}-1\\.png")))
        << files[0];
    struct stat info {};
    ASSERT_EQ(::stat(files[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(testing::fileContents(files[0]), textOf(png));
}

TEST(QuibHost, RefusesABadFrameAndDeletesWhatTheUploadStored) {
    UploadHost uploads;
    ASSERT_TRUE(uploads.host);
    auto phone = uploads.upload("PHONE-1", {"T-1"}, 2);
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->receiveCase("uploadReady", 10s));
    ASSERT_TRUE(phone->sendBytes(frame(0, testing::onePixelPng())));
    ASSERT_TRUE(phone->sendBytes(frame(2, testing::onePixelPng())));
    EXPECT_EQ(errorText(uploads.linesUntilClosed(*phone)), "Upload refused: Attachment 3 isn't part of a batch of 2");
    EXPECT_TRUE(uploads.inbox().empty());

    auto second = uploads.upload("PHONE-1", {"T-1"}, 1);
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->receiveCase("uploadReady", 10s));
    ASSERT_TRUE(second->sendBytes(frame(0, testing::jpegHeader(8, 8))));
    EXPECT_EQ(errorText(uploads.linesUntilClosed(*second)),
              "Upload refused: That attachment claimed public.png and is public.jpeg");
    EXPECT_TRUE(uploads.inbox().empty());
}

}  // namespace
}  // namespace quib
