// A phone's text, key chords and images reach a tmux pane through the real quib-host, running
// headless with a tmux server of the test's own.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "Shared/AttachmentFrame.hpp"
#include "Shared/ClientMessage.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestImages.hpp"
#include "Tests/Support/TmuxServer.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::nextReply;
using testing::TempHome;

// The pane's lines once they hold `text`, or as they are after 10 s.
std::string paneShowing(const testing::TmuxServer& tmux, const std::string& text) {
    std::string shown;
    for (int attempt = 0; attempt < 200; ++attempt) {
        shown = tmux.run({"capture-pane", "-p", "-J", "-t", "work:0.0"}).value_or("");
        if (shown.find(text) != std::string::npos) break;
        std::this_thread::sleep_for(50ms);
    }
    return shown;
}

Json error(const std::string& text) { return Json{{"error", {{"_0", text}}}}; }

std::string key(const std::string& name, const std::string& extra = "") {
    return R"({"key":{"_0":{"chord":{"key":")" + name + "\"" + extra + R"(},"targetID":"T1"}}})";
}

// The fields of the log's last line, its time left out.
std::vector<std::string> lastLogLine(const TempHome& home) {
    const auto lines = testing::linesOf(testing::fileContents(home.dataHome() / "Quib" / "deliveries.log"));
    const std::string last = lines.empty() ? "" : lines.back();
    std::vector<std::string> fields;
    std::istringstream split(last);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (!fields.empty()) fields.erase(fields.begin());
    return fields;
}

// Ada's phone sends one PNG with a caption to T1 on an upload connection of its own; the
// receipts the host answers with until it closes it (a status broadcast may come in between).
std::vector<Json> upload(const HostProcess& host) {
    auto phone = testing::connectPhone(testing::phoneOptions(host, host.pairingCode()));
    if (!phone) return {};
    const Json manifest{{"protocolVersion", 23},
                        {"deviceName", "Ada's phone"},
                        {"deviceID", "PHONE-1"},
                        {"targetIDs", {"T1"}},
                        {"count", 1},
                        {"text", "look"}};
    EXPECT_TRUE(phone->sendLine(Json{{"uploadHello", {{"_0", manifest}}}}.dump()));
    EXPECT_TRUE(phone->receiveCase("uploadReady", 10s));
    const Bytes png = testing::onePixelPng();
    const AttachmentFrame header{0, AttachmentFrame::Format::png, static_cast<std::int64_t>(png.size()), 1, 1};
    EXPECT_TRUE(phone->sendBytes(textOf(*AttachmentFrameWriter::encode(header, png))));
    std::vector<Json> receipts;
    while (auto line = phone->receiveLine(10s)) {
        const Json message = Json::parse(*line);
        if (message.contains("delivered")) receipts.push_back(message["delivered"]["_0"]);
    }
    return receipts;
}

TEST(QuibHost, APhonesTextKeysAndImagesReachATmuxPane) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    ASSERT_TRUE(tmux.startSession("work", home.root()));
    auto [host, ada] = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(ada.phone);
    PhoneClient& phone = *ada.phone;

    ASSERT_TRUE(phone.send(ClientMessage{ClientMessage::AddTarget{testing::workPane("work:0.0")}}));
    EXPECT_EQ(nextReply(phone), (Json{{"toast", {{"_0", "Added Work"}}}}));

    ASSERT_TRUE(phone.sendLine(R"({"text":{"_0":{"text":"  hello world \n","targetID":"T1","submit":true}}})"));
    EXPECT_EQ(nextReply(phone)["delivered"]["_0"], (Json{{"ok", true},
                                                         {"targetID", "T1"},
                                                         {"targetName", "Work"},
                                                         {"characters", 11},
                                                         {"submitted", true},
                                                         {"message", "Sent 2 words to Work"}}));
    EXPECT_NE(paneShowing(tmux, "hello world").find("hello world"), std::string::npos);
    EXPECT_EQ(lastLogLine(home), (std::vector<std::string>{"delivered", "Work", "11 chars", "submitted=yes"}));

    // Keys are answered only when they fail; the toast of the focus after them comes first.
    ASSERT_TRUE(phone.sendLine(key("a", R"(,"repeatCount":3)")));
    ASSERT_TRUE(phone.sendLine(key("enter")));
    ASSERT_TRUE(phone.sendLine(R"({"focus":{"targetID":"T1"}})"));
    EXPECT_EQ(nextReply(phone), (Json{{"toast", {{"_0", "Selected Work"}}}}));
    EXPECT_NE(paneShowing(tmux, "aaa").find("aaa"), std::string::npos);
    ASSERT_TRUE(phone.sendLine(key("c", R"(,"command":true)")));
    EXPECT_EQ(nextReply(phone), error("Command C is the terminal's own shortcut, not something a pane can receive"));

    ASSERT_TRUE(phone.sendLine(R"({"text":{"_0":{"text":"hi","targetID":"nope"}}})"));
    const Json refused = nextReply(phone)["delivered"]["_0"];
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(refused["targetName"], "nope");
    EXPECT_EQ(nextReply(phone), error("Unknown target"));

    const auto answered = upload(*host);
    ASSERT_EQ(answered.size(), 1u) << host->log();
    EXPECT_EQ(answered[0]["message"], "Sent 1 image to Work");
    std::vector<std::filesystem::path> inbox;
    for (const auto& file : std::filesystem::directory_iterator(home.dataHome() / "Quib" / "inbox"))
        inbox.push_back(file.path());
    ASSERT_EQ(inbox.size(), 1u);
    const std::string shown = paneShowing(tmux, inbox[0].string());
    EXPECT_NE(shown.find("look"), std::string::npos) << shown;
    EXPECT_NE(shown.find(inbox[0].string()), std::string::npos) << shown;

    auto paused = testing::ChildProcess::start(
        {QUIB_CTL_PATH, "pause"}, {{"XDG_RUNTIME_DIR", home.runtimeDir().string()}}, home.root() / "quibctl.err");
    ASSERT_TRUE(paused);
    EXPECT_EQ(paused->wait(10s), 0);
    ASSERT_TRUE(phone.sendLine(R"({"text":{"_0":{"text":"hi","targetID":"T1"}}})"));
    EXPECT_EQ(nextReply(phone)["delivered"]["_0"]["message"],
              "Injection is paused \u2014 turn it back on in the Quib panel");
}

}  // namespace
}  // namespace quib
