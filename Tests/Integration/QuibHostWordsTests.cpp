// What a person reads of a host on a Linux machine without a display, over one scripted
// session: every reply and note a phone gets, the panel, the settings window, the target editor,
// quibctl's answers and the host's log. None may speak of another platform or another name.

#include <regex>

#include <gtest/gtest.h>

#include "Shared/QuibTarget.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::quibctl;
using testing::TempHome;

// The words of the platform the host was first written for, and the product's old name.
const std::regex otherPlatform(
    R"(\b(Mac|Macs|Fennic|Keychain|Finder)\b|SF Symbol|/Applications|Bundle identifier|Login Items|menu bar item|)"
    R"(Screen Recording|Grant Accessibility|Application Support|relaunch)");

// Every place in `text` that names another platform, a line each.
std::string foreignWords(const std::string& text) {
    std::string found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), otherPlatform); it != std::sregex_iterator(); ++it) {
        const auto begin = text.rfind('\n', static_cast<std::size_t>(it->position()));
        const auto end = text.find('\n', static_cast<std::size_t>(it->position()));
        found += text.substr(begin == std::string::npos ? 0 : begin + 1,
                             end - (begin == std::string::npos ? 0 : begin + 1)) +
                 "\n";
    }
    return found;
}

QuibTarget app(std::string id, std::string name, std::string bundleID) {
    QuibTarget target;
    target.id = std::move(id);
    target.name = std::move(name);
    target.kind = QuibTarget::Kind::app;
    target.bundleID = std::move(bundleID);
    return target;
}

QuibTarget frontmost() {
    QuibTarget target;
    target.id = "T3";
    target.name = "Front";
    target.kind = QuibTarget::Kind::frontmost;
    return target;
}

// Every line the phone hears until it has been quiet for a moment, or its connection closed.
std::string heard(PhoneClient& phone) {
    std::string lines;
    while (auto line = phone.receiveLine(700ms)) lines += *line + "\n";
    return lines;
}

class QuibHostWords : public ::testing::Test {
protected:
    void SetUp() override {
        testing::saveTargetsBeforeStart(
            home, {testing::workPane("quib-test:0.0"), app("T2", "Editor", "org.example.Editor"), frontmost()});
        testing::approveBeforeStart(home, {{"P1", "First"}});
        host = HostProcess::start(home);
        ASSERT_TRUE(host);
    }

    // What a connection that says `hello` is told before the host closes it.
    std::string refusal(const Json& hello) {
        auto channel = testing::connectPhone(testing::phoneOptions(*host, host->pairingCode()));
        if (!channel || !channel->sendLine(hello.dump())) return "not sent";
        const auto line = channel->receiveLine(10s);
        const Json answer = line ? Json::parse(*line, nullptr, false) : Json();
        return answer.contains("error") ? answer["error"]["_0"].get<std::string>() : "no error: " + answer.dump();
    }

    // What quibctl prints for `args`, both streams.
    std::string shown(const std::vector<std::string>& args) {
        const auto run = quibctl(home, args);
        return run.out + run.err;
    }

    TempHome home;
    std::unique_ptr<HostProcess> host;
};

// Unapproved, a viewer, a listener, a screenshot and an upload are each sent to the panel.
TEST_F(QuibHostWords, RefusedSideChannelsAllPointToThePanel) {
    const Json stranger{{"protocolVersion", 23}, {"deviceName", "Stranger"}, {"deviceID", "X"}};
    auto view = stranger;
    view["maxWidth"] = 10;
    view["maxHeight"] = 10;
    auto still = stranger;
    still["targetID"] = "T1";
    auto upload = stranger;
    upload["targetIDs"] = {"T1"};
    upload["count"] = 1;
    const std::string ending = " \u2014 open the Quib panel";
    for (const auto& [name, payload] :
         {std::pair{"viewHello", view}, {"listenHello", stranger}, {"stillHello", still}, {"uploadHello", upload}}) {
        // A stranger's refusals count against its address, which a third one locks out: each
        // channel asks a host of its own.
        host.reset();
        host = HostProcess::start(home);
        ASSERT_TRUE(host);
        const auto text = refusal(Json{{name, {{"_0", payload}}}});
        EXPECT_EQ(text, "Waiting for approval on " + host->name() + ending) << name;
    }
}

// A phone's whole session, the panel and the settings window, quibctl's answers and the log
// name the product "Quib" and this computer, never another platform.
TEST_F(QuibHostWords, NothingAPersonReadsNamesAnotherPlatform) {
    auto welcomed = testing::welcomed(*host, {"P1", "First"});
    ASSERT_TRUE(welcomed.phone);
    PhoneClient& phone = *welcomed.phone;
    std::string session = welcomed.welcome.dump() + "\n";
    const std::vector<std::string> requests{
        R"({"key":{"_0":{"chord":{"key":"h"}}}})",
        R"({"text":{"_0":{"text":"hi","targetID":"T2"}}})",
        R"({"text":{"_0":{"text":"hi","targetID":"T3"}}})",
        R"({"focus":{"targetID":"T2"}})",
        R"({"requestWindows":{"targetID":"T1"}})",
        R"({"requestWindows":{"targetID":"T2"}})",
        R"({"focusWindow":{"targetID":"T1","windowID":7}})",
        R"({"openWindow":{"targetID":"T2","windowID":7}})",
        R"({"requestMenu":{"bundleID":"org.example.Editor"}})",
        R"({"requestVocabulary":{"targetID":"T1"}})",
        R"({"requestPanes":{}})",
        R"({"requestRemoteAccess":{}})",
        R"({"requestApps":{"refresh":true}})",
    };
    for (const auto& request : requests) {
        ASSERT_TRUE(phone.sendLine(request)) << request;
        session += heard(phone);
    }
    const std::string screenshot = refusal(Json{{"stillHello", {{"_0", {{"deviceID", "P1"}, {"targetID", "T2"}}}}}});
    EXPECT_EQ(screenshot, "Quib needs an X display with Composite, DAMAGE and XFIXES first \u2014 see the Quib panel");
    session += screenshot + "\n";
    session +=
        refusal(Json{{"stillHello", {{"_0", {{"protocolVersion", 4}, {"deviceID", "P1"}, {"targetID", "T1"}}}}}});

    const std::string panel = shown({"panel"});
    EXPECT_NE(panel.find("header\ttitle\tQuib\t"), std::string::npos) << panel;
    const std::string tool = panel + shown({"settings"}) + shown({"target", "T2"}) + shown({"status"}) +
                             shown({"away"}) + shown({"login-item", "on"}) + shown({"open", "accessibility"}) +
                             shown({"open", "screen-recording"}) + shown({"targets"}) + shown({"devices"}) +
                             shown({"help"});
    EXPECT_NE(session.find("Quib can't type or click without a desktop display"), std::string::npos) << session;
    EXPECT_EQ(foreignWords(session), "") << session;
    EXPECT_EQ(foreignWords(tool), "") << tool;
    EXPECT_EQ(foreignWords(host->log()), "") << host->log();
}

}  // namespace
}  // namespace quib
