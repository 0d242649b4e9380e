// A phone lists tmux panes and adds targets to the real quib-host, which checks them against a
// tmux server of the test's own and the installed applications.

#include <gtest/gtest.h>

#include "Shared/ClientMessage.hpp"
#include "Shared/QuibCoder.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/TmuxServer.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::TempHome;

QuibTarget made(QuibTarget::Kind kind, const std::string& name) {
    QuibTarget target;
    target.id = "T-" + name;
    target.name = name;
    target.kind = kind;
    return target;
}

QuibTarget pane(const std::string& name, const std::string& spec) {
    QuibTarget target = made(QuibTarget::Kind::tmux, name);
    target.tmuxTarget = spec;
    return target;
}

// Sends the message; then the text of the next toast or error.
std::string answer(PhoneClient& phone, const ClientMessage& message) {
    EXPECT_TRUE(phone.send(message));
    return testing::nextToastOrError(phone);
}

TEST(QuibHost, ListsPanesAndAddsOnlyTargetsThatPassItsChecks) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    ASSERT_TRUE(tmux.startSession("work", home.root(), 2));
    const std::string first = tmux.idOf("work:0.0");
    const std::string second = tmux.idOf("work:0.1");
    testing::approveBeforeStart(home, {testing::adasPhone});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    // The first run's targets come first, so that they are not skipped for the one added here.
    ASSERT_TRUE(testing::eventuallyShows(home, {"targets"}, "Focused"));

    auto ada = testing::welcomed(*host);
    ASSERT_TRUE(ada.phone);
    EXPECT_EQ(ada.welcome["status"]["tmuxAvailable"], true);
    auto& phone = *ada.phone;

    ASSERT_TRUE(phone.sendLine(R"({"requestPanes":{}})"));
    const auto panes = phone.receiveCase("panes", 10s);
    ASSERT_TRUE(panes) << panes.error().message;
    ASSERT_EQ((*panes)["_0"].size(), 2u);
    EXPECT_EQ((*panes)["_0"][0]["id"], first);
    EXPECT_EQ((*panes)["_0"][0]["spec"], "work:0.0");
    EXPECT_EQ((*panes)["_0"][1]["id"], second);
    EXPECT_EQ((*panes)["_0"][1]["spec"], "work:0.1");

    const auto add = [](QuibTarget target) { return ClientMessage{ClientMessage::AddTarget{std::move(target)}}; };
    QuibTarget app = made(QuibTarget::Kind::app, "Mail");
    app.bundleID = "no.such.app";
    EXPECT_EQ(answer(phone, add(pane("Work", "work:0.1"))), "toast: Added Work");
    EXPECT_EQ(answer(phone, add(pane("Stale", "work:0.5"))), "error: No tmux pane matches work:0.5");
    EXPECT_EQ(answer(phone, add(pane("Twin", "work:0.1"))), "error: Work already points at " + second);
    EXPECT_EQ(answer(phone, add(pane("work", "work:0.0"))), "error: There is already a target called work");
    EXPECT_EQ(answer(phone, add(made(QuibTarget::Kind::frontmost, "Desk"))),
              "error: A frontmost target has to be added on the computer");
    EXPECT_EQ(answer(phone, add(app)), "error: no.such.app is not installed");
    EXPECT_EQ(answer(phone, ClientMessage{ClientMessage::RemoveTarget{"T-Nope"}}),
              "error: That target no longer exists");
    phone.close();

    // Stored under the pane's identifier, not its address.
    auto again = testing::welcomed(*host);
    ASSERT_TRUE(again.phone);
    const Json& kept = again.welcome["targets"];
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back()["name"], "Work");
    EXPECT_EQ(kept.back()["tmuxTarget"], second);
    auto listed = testing::ChildProcess::start(
        {QUIB_CTL_PATH, "targets"}, {{"XDG_RUNTIME_DIR", home.runtimeDir().string()}}, home.root() / "quibctl.err");
    ASSERT_TRUE(listed);
    EXPECT_TRUE(listed->readUntil("T-Work  tmux  Work", 10s)) << listed->output();
}

}  // namespace
}  // namespace quib
