// Pointing app targets at windows and bringing minimised windows back, on the simulated desktop.

#include "ApprovedPhone.hpp"
#include "HostServerFixture.hpp"

#include "QuibHost/Streaming/WindowListing.hpp"

namespace quib::testing {

namespace {

using Pin = FakeTargetStore::Pin;

constexpr const char* editorID = "org.example.editor";

QuibTarget target(const std::string& id, const std::string& name, QuibTarget::Kind kind,
                  std::optional<std::string> bundleID = std::nullopt,
                  std::optional<std::uint32_t> pinned = std::nullopt) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = kind;
    target.bundleID = std::move(bundleID);
    target.pinnedWindowID = pinned;
    return target;
}

std::string request(const std::string& name, const std::string& targetID, std::optional<std::uint32_t> windowID) {
    Json payload{{"targetID", targetID}};
    if (windowID) payload["windowID"] = *windowID;
    return Json{{name, payload}}.dump() + "\n";
}

// One reply's case and text, "toast: Showing notes.txt", say.
std::string said(const Json& message) {
    const std::string name = caseOf(message);
    return name.empty() ? "nothing" : name + ": " + message[name]["_0"].get<std::string>();
}

}  // namespace

// The editor runs with a titled window, an untitled one and a minimised one, on one display;
// its target "A" is not pinned, "P" is pinned to the titled window.
class HostServerWindows : public HostServer {
protected:
    void SetUp() override {
        HostServer::SetUp();
        desktop->setTrusted(true);
        desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
        desktop->start(editorID);
        desktop->openWindow(editorID, {7, "notes.txt", {100, 100, 400, 300}, false});
        desktop->openWindow(editorID, {8, "", {600, 100, 400, 300}, false});
        desktop->openWindow(editorID, {9, "draft", {0, 500, 400, 300}, true});
        targets->setSnapshot(
            {{target("A", "Editor", QuibTarget::Kind::app, editorID),
              target("P", "Pinned", QuibTarget::Kind::app, editorID, 7), target("T", "Work", QuibTarget::Kind::tmux),
              target("N", "Nameless", QuibTarget::Kind::app, "")},
             {}});
        approve("D-A", "Phone");
        phone = std::make_unique<ApprovedPhone>(main, startServer());
    }

    std::string answer(const std::string& line) {
        phone->write(line);
        return said(phone->nextReply());
    }

    bool activityIs(const std::string& text) {
        return eventually([&] { return server->lastActivity().value() == text; });
    }

    std::unique_ptr<ApprovedPhone> phone;
};

TEST_F(HostServerWindows, PickingAWindowRaisesItPinsTheTargetAndLandsThePointerInIt) {
    EXPECT_EQ(answer(request("focusWindow", "A", 7)), "toast: Showing notes.txt");
    EXPECT_TRUE(activityIs("Editor: notes.txt"));
    EXPECT_EQ(desktop->app(editorID)->mainWindow, 7u);
    EXPECT_TRUE((Rect{100, 100, 400, 300}).contains(desktop->pointerLocation()));

    // An untitled window is shown by the target's name and noted by its number.
    EXPECT_EQ(answer(request("focusWindow", "A", 8)), "toast: Showing Editor");
    EXPECT_TRUE(activityIs("Editor: window 8"));
    EXPECT_EQ(targets->recorded().pinned, (std::vector<Pin>{{7, "notes.txt", "A"}, {8, "", "A"}}));
    EXPECT_EQ(targets->activations(), (std::vector<std::optional<std::string>>{"A", "A"}));

    EXPECT_EQ(answer(request("focusWindow", "P", std::nullopt)), "toast: Pinned follows its front window again");
    EXPECT_EQ(targets->recorded().pinned.back(), (Pin{std::nullopt, std::nullopt, "P"}));
    EXPECT_EQ(targets->activations().back(), "P");
}

// After a refused raise the phone gets the app's windows again, the roster's note unchanged.
TEST_F(HostServerWindows, ARefusedPickIsAnErrorFollowedByAFreshWindowList) {
    windowList->list(WindowListService::WindowList{{}, "is running but has no windows open."});
    EXPECT_EQ(answer(request("focusWindow", "A", 9)),
              "error: draft is minimised \u2014 open it on your computer, or pick another");
    EXPECT_EQ(phone->expect("windows")["_0"]["note"], "is running but has no windows open.");
    EXPECT_EQ(answer(request("focusWindow", "A", 42)), "error: The window you picked has closed \u2014 pick another");
    EXPECT_EQ(phone->expect("windows")["_0"]["targetID"], "A");
    desktop->setTrusted(false);
    EXPECT_EQ(answer(request("focusWindow", "A", 7)),
              "error: Quib can't type or click without a desktop display \u2014 start it in your desktop session");
    EXPECT_TRUE(phone->expect("windows").is_object());

    EXPECT_EQ(windowList->listed(), (std::vector<std::string>{editorID, editorID, editorID}));
    EXPECT_TRUE(targets->recorded().pinned.empty());
    EXPECT_TRUE(targets->activations().empty());
}

// With the host's own listing, the fresh list after a refused raise holds the app's windows.
TEST_F(HostServerWindows, TheListAfterARefusedPickHoldsTheAppsWindows) {
    phone.reset();
    remakeServerWith([&](quib::HostServer::Config& config) {
        config.neighbours.windowList = std::make_shared<WindowListing>(
            WindowListing::Config{.desktop = desktop->services(), .permissions = desktop});
    });
    phone = std::make_unique<ApprovedPhone>(main, startServer());
    EXPECT_EQ(answer(request("focusWindow", "A", 9)),
              "error: draft is minimised \u2014 open it on your computer, or pick another");
    const Json list = phone->expect("windows")["_0"];
    std::vector<std::uint32_t> ids;
    for (const auto& window : list["windows"]) ids.push_back(window["id"].get<std::uint32_t>());
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{8, 7, 9}));
    EXPECT_EQ(list["note"], WindowListing::screenRecordingNote);
}

TEST_F(HostServerWindows, OpeningBringsAMinimisedWindowBackAndDefaultsToThePinnedOne) {
    EXPECT_EQ(answer(request("openWindow", "A", 9)), "toast: Opened draft");
    EXPECT_TRUE(activityIs("Editor: opened draft"));
    EXPECT_FALSE(desktop->app(editorID)->windows.at(2).minimised);
    EXPECT_EQ(answer(request("openWindow", "A", 8)), "toast: Opened Editor");
    EXPECT_TRUE(activityIs("Editor: opened window 8"));
    EXPECT_EQ(answer(request("openWindow", "P", std::nullopt)), "toast: Opened notes.txt");
    EXPECT_EQ(targets->recorded().pinned, (std::vector<Pin>{{9, "draft", "A"}, {8, "", "A"}, {7, "notes.txt", "P"}}));
    EXPECT_EQ(targets->activations(), (std::vector<std::optional<std::string>>{"A", "A", "P"}));

    EXPECT_EQ(answer(request("openWindow", "A", std::nullopt)), "error: Editor isn't pointed at a window");
    EXPECT_EQ(answer(request("openWindow", "A", 42)), "error: The window you picked has closed \u2014 pick another");
    desktop->quit(editorID);
    EXPECT_EQ(answer(request("openWindow", "P", std::nullopt)), "error: Pinned isn't running");
    EXPECT_TRUE(windowList->listed().empty());
}

TEST_F(HostServerWindows, OnlyAKnownAppTargetHasWindows) {
    for (const char* id : {"T", "N"}) {
        EXPECT_EQ(answer(request("focusWindow", id, 7)), "error: Only an app can be pointed at a window") << id;
        EXPECT_EQ(answer(request("openWindow", id, 7)), "error: Only an app has windows to open") << id;
    }
    EXPECT_EQ(answer(request("focusWindow", "gone", 7)), "error: Unknown target");
    EXPECT_EQ(answer(request("openWindow", "gone", std::nullopt)), "error: Unknown target");
    EXPECT_TRUE(targets->recorded().pinned.empty());
    EXPECT_EQ(desktop->app(editorID)->mainWindow, std::nullopt);
}

}  // namespace quib::testing
