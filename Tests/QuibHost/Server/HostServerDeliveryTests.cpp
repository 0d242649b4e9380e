// Text, key chords and focus from a phone, as the dispatch hands them to the router.

#include "ApprovedPhone.hpp"
#include "HostServerFixture.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

QuibTarget named(const std::string& id, const std::string& name, QuibTarget::Kind kind = QuibTarget::Kind::frontmost) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = kind;
    return target;
}

std::string wrapped(const std::string& name, const Json& value) {
    return Json{{name, Json{{"_0", value}}}}.dump() + "\n";
}
std::string text(const Json& payload) { return wrapped("text", payload); }
std::string key(const Json& payload) { return wrapped("key", payload); }
std::string focus(const std::string& id) { return Json{{"focus", {{"targetID", id}}}}.dump() + "\n"; }

}  // namespace

// Every line the phone gets for a text that reaches no router: the failed receipt, with an
// error only when a target was named.
TEST_F(HostServer, TextForNoTargetIsAnsweredWithoutReachingTheRouter) {
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());
    phone.write(text({{"text", "h\u00e9llo"}, {"targetID", "nope"}}) + ping(1));
    EXPECT_EQ(phone.nextReply()["delivered"]["_0"],
              (Json{{"ok", false},
                    {"targetID", "nope"},
                    {"targetName", "nope"},
                    {"characters", 5},
                    {"submitted", false},
                    {"message", "No target with that id \u2014 it may have been removed"}}));
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "Unknown target"}}}}));
    EXPECT_EQ(caseOf(phone.nextReply()), "pong");

    phone.write(text({{"text", "hi"}}) + ping(2));
    EXPECT_EQ(phone.nextReply()["delivered"]["_0"], (Json{{"ok", false},
                                                          {"targetName", "\u2014"},
                                                          {"characters", 2},
                                                          {"submitted", false},
                                                          {"message", "No target is selected on the computer"}}));
    EXPECT_EQ(caseOf(phone.nextReply()), "pong");
    EXPECT_TRUE(router->calls().empty());
    EXPECT_TRUE(targets->activations().empty());
}

TEST_F(HostServer, ANamedTargetBecomesActiveEvenWhenItsDeliveryFails) {
    targets->setSnapshot({{named("T-1", "Editor"), named("T-2", "Notes")}, {}}, "T-2");
    router->failing = {"T-1"};
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());

    phone.write(text({{"text", "hi"}, {"targetID", "T-1"}, {"submit", true}}));
    EXPECT_EQ(phone.nextReply()["delivered"]["_0"]["message"], "Could not reach Editor");
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "Could not reach Editor"}}}}));
    EXPECT_TRUE(eventually([&] { return !targets->activations().empty(); }));
    EXPECT_EQ(targets->activations(), std::vector<std::optional<std::string>>{"T-1"});

    // Without a name the active target takes it and stays active as it was.
    phone.write(text({{"text", "there"}}));
    EXPECT_EQ(phone.nextReply()["delivered"]["_0"]["message"], "Sent to Notes");
    EXPECT_TRUE(eventually([&] { return server->lastActivity().value() == "Sent to Notes"; }));
    EXPECT_EQ(targets->activations().size(), 1u);
    const auto calls = router->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].caption, "hi");
    EXPECT_EQ(calls[0].submit, true);
    EXPECT_EQ(calls[1].targetID, "T-2");
    EXPECT_EQ(calls[1].submit, std::nullopt);
}

// Key presses and focusing share the injection queue, so the toast of a focus sent after a key
// shows that the key was not answered.
TEST_F(HostServer, OnlyAFailedKeyIsAnsweredAndAKeyNeverChangesTheActiveTarget) {
    targets->setSnapshot({{named("T-1", "Editor")}, {}});
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());
    const Json chord{{"key", "a"},     {"control", false}, {"option", false},
                     {"shift", false}, {"command", false}, {"repeatCount", 1}};
    phone.write(key({{"chord", chord}, {"targetID", "T-1"}}) + key({{"chord", chord}}) + focus("T-1"));
    EXPECT_EQ(phone.nextReply(), (Json{{"toast", {{"_0", "Focused Editor"}}}}));

    router->pressFails = true;
    phone.write(key({{"chord", chord}, {"targetID", "T-1"}}));
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "The key did not go through"}}}}));
    phone.write(key({{"chord", chord}, {"targetID", "T-9"}}));
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "Unknown target"}}}}));

    const auto calls = router->calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].targetID, "T-1");
    EXPECT_EQ(calls[1].targetID, "");  // whatever window is in front
    EXPECT_TRUE(eventually([&] { return !targets->activations().empty(); }));
    EXPECT_EQ(targets->activations(), std::vector<std::optional<std::string>>{"T-1"});  // by the focus only
}

// The phone has just been told which target failed, so the roster's note goes unchanged.
TEST_F(HostServer, AFailedFocusOfAPinnedAppTargetIsFollowedByItsWindows) {
    QuibTarget pinned = named("T-1", "Editor", QuibTarget::Kind::app);
    pinned.bundleID = "org.example.Editor";
    pinned.pinnedWindowID = 7;
    targets->setSnapshot({{pinned, named("T-2", "Notes")}, {}});
    router->failing = {"T-1", "T-2"};
    windowList->list({{}, "is running but has no windows open."});
    approve("D-A", "Phone");
    ApprovedPhone phone(main, startServer());

    phone.write(focus("T-1"));
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "Could not reach Editor"}}}}));
    EXPECT_EQ(phone.nextReply()["windows"]["_0"], (Json{{"targetID", "T-1"},
                                                        {"windows", Json::array()},
                                                        {"note", "is running but has no windows open."},
                                                        {"sequence", 0},
                                                        {"isFinal", true}}));
    EXPECT_TRUE(phone.saw("status"));

    phone.write(focus("T-3") + ping(1));
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "Unknown target"}}}}));
    EXPECT_EQ(caseOf(phone.nextReply()), "pong");

    // A target without a pinned window gets no list: by the time the second list of T-1 comes,
    // any list asked for in between would have been made.
    phone.write(focus("T-2") + focus("T-1"));
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "Could not reach Notes"}}}}));
    EXPECT_EQ(phone.nextReply(), (Json{{"error", {{"_0", "Could not reach Editor"}}}}));
    EXPECT_EQ(phone.nextReply()["windows"]["_0"]["targetID"], "T-1");
    EXPECT_EQ(windowList->listed(), (std::vector<std::string>{"org.example.Editor", "org.example.Editor"}));
    EXPECT_TRUE(eventually([&] { return targets->activations().size() == 3; }));
    EXPECT_EQ(targets->activations(), (std::vector<std::optional<std::string>>{"T-1", "T-2", "T-1"}));
}

}  // namespace quib::testing
