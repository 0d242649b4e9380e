#include <gtest/gtest.h>

#include <filesystem>

#include "QuibHost/App/ControlCommand.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::apptests {
namespace {

// The README's list of commands is the usage quibctl prints, word for word.
TEST(ControlCommand, UsageIsTheReadmes) {
    const std::string usage = ControlCommand::usage();
    ASSERT_NE(usage.find("\n  approve DEVICE-ID    let a waiting or revoked phone drive this computer\n"),
              std::string::npos)
        << usage;
    EXPECT_NE(
        testing::fileContents(std::filesystem::path(QUIB_SOURCE_DIR) / "README.md").find("```\n" + usage + "```\n"),
        std::string::npos)
        << "the README's Using it should hold, fenced, the command lines quibctl --help prints:\n"
        << usage;
}

TEST(ControlCommand, NamesTheCommandsInTheListsOrder) {
    EXPECT_EQ(ControlCommand::knownList(),
              "status, devices, approve, revoke, code, pause, resume, watch, targets, target, refresh, use, reveal, "
              "away, listen, login-item, requests, answer, push, panel, settings, show, open and quit");
    EXPECT_EQ(ControlCommand::usageOf("reveal"),
              "usage: quibctl reveal ...\n"
              "  reveal log           show the delivery log and print its path\n"
              "  reveal inbox         show the folder of images phones sent and print its path\n");
    EXPECT_EQ(ControlCommand::usageOf("reboot"), "");
}

// Each form's words make its request; words that fit no form of their command make none.
TEST(ControlCommand, CommandLinesMakeTheirRequests) {
    struct Case {
        ControlCommand::Arguments arguments;
        std::optional<Json> request;
    };
    const auto made = [](const char* json) { return std::optional<Json>(Json::parse(json)); };
    const std::string chooser = std::filesystem::absolute("app.desktop").string();
    const Case cases[] = {
        {{"status"}, made(R"({"command":"status"})")},
        {{"status", "now"}, std::nullopt},
        {{"quit"}, made(R"({"command":"quit"})")},
        {{"approve", "P-1"}, made(R"({"command":"approve","device":"P-1"})")},
        {{"approve"}, std::nullopt},
        {{"approve", ""}, std::nullopt},
        {{"revoke", "P-1"}, made(R"({"command":"revoke","device":"P-1"})")},
        {{"code"}, made(R"({"command":"code"})")},
        {{"code", "--rotate"}, made(R"({"command":"code","rotate":true})")},
        {{"code", "--spin"}, std::nullopt},
        {{"targets"}, made(R"({"command":"targets"})")},
        {{"targets", "add"}, made(R"({"command":"targets","add":true})")},
        {{"targets", "remove", "T-1", "T-2"}, made(R"({"command":"targets","remove":["T-1","T-2"]})")},
        {{"targets", "remove"}, std::nullopt},
        {{"targets", "move", "0", "2", "--to", "1"}, made(R"({"command":"targets","move":[0,2],"to":1})")},
        {{"targets", "move", "-1", "--to", "1"}, std::nullopt},
        {{"targets", "move", "0", "--to"}, std::nullopt},
        {{"target", "T-1"}, made(R"({"command":"target","target":"T-1"})")},
        {{"target", "T-1", "refresh"}, made(R"({"command":"target","target":"T-1","refresh":true})")},
        {{"target", "T-1", "set", "name", "Mail"},
         made(R"({"command":"target","target":"T-1","set":"name","value":"Mail"})")},
        {{"target", "T-1", "choose-app", "app.desktop"},
         Json{{"command", "target"}, {"target", "T-1"}, {"chooseApp", chooser}}},
        {{"target", "T-1", "choose-app", ""}, std::nullopt},
        {{"target", "T-1", "set", "name"}, std::nullopt},
        {{"target"}, std::nullopt},
        {{"use", "T-1"}, made(R"({"command":"use","target":"T-1"})")},
        {{"reveal", "log"}, made(R"({"command":"reveal","item":"log"})")},
        {{"reveal", "inbox"}, made(R"({"command":"reveal","item":"inbox"})")},
        {{"reveal", "trash"}, std::nullopt},
        {{"away"}, made(R"({"command":"away"})")},
        {{"away", "on"}, made(R"({"command":"away","enabled":true})")},
        {{"away", "retry"}, made(R"({"command":"away","retry":true})")},
        {{"away", "sideways"}, std::nullopt},
        {{"listen", "off"}, made(R"({"command":"listen","enabled":false})")},
        {{"listen"}, std::nullopt},
        {{"login-item", "status"}, made(R"({"command":"login-item","change":"status"})")},
        {{"login-item", "maybe"}, std::nullopt},
        {{"answer", "R1", "deny"}, made(R"({"command":"answer","request":"R1","decision":"deny"})")},
        {{"answer", "R1", "perhaps"}, std::nullopt},
        {{"settings"}, made(R"({"command":"settings"})")},
        {{"settings", "--select", "T-1,,T-2"}, made(R"({"command":"settings","select":["T-1","T-2"]})")},
        {{"settings", "--select", ","}, std::nullopt},
        {{"show", "panel"}, made(R"({"command":"show","item":"panel"})")},
        {{"show", "settings"}, made(R"({"command":"show","item":"settings"})")},
        {{"show", "settings", "--select", "T-1"}, made(R"({"command":"show","item":"settings","select":"T-1"})")},
        {{"show", "settings", "--select", "T-1,T-2"}, std::nullopt},
        {{"show"}, std::nullopt},
        {{"open", "screen-recording"}, made(R"({"command":"open","item":"screen-recording"})")},
        {{"open", "camera"}, std::nullopt},
        {{"reboot"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case& c : cases) {
        const Json line(c.arguments);
        EXPECT_EQ(ControlCommand::requestFor(c.arguments), c.request) << line.dump();
    }
}

}  // namespace
}  // namespace quib::apptests
