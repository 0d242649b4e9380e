// The real quib-host typing and pasting into an xterm on the shared test display, launching an
// app target from its desktop entry, pasting into it once its window comes and pointing the
// target at that window, and the same host without a display.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"
#include "Tests/Support/X11/Xclip.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::TempHome;

std::string key(const std::string& name) { return R"({"key":{"_0":{"chord":{"key":")" + name + R"("}}}})"; }

Json error(const std::string& text) { return Json{{"error", {{"_0", text}}}}; }

// Whether a window of class `className` has the keyboard of `display`.
bool focused(X11Connection& display, const std::string& className) {
    bool focused = false;
    display.use([&](Display* d) {
        const auto window = X11Properties::focusedWindow(d);
        const auto windowClass = window ? X11Properties::windowClass(d, *window) : std::nullopt;
        focused = windowClass && windowClass->className == className;
    });
    return focused;
}

// An xterm of class `className` on `display` running `cat` into `file`, once the shell has made
// the file and the window has the keyboard; none (with a test failure) when that does not come
// about. Control-Shift-V pastes the clipboard there.
std::optional<testing::ChildProcess> catInXterm(const std::string& display, const std::filesystem::path& file,
                                                const std::filesystem::path& log,
                                                const std::string& className = "XTerm") {
    const std::string paste =
        className + "*VT100.translations: #override Shift Ctrl <Key>V: insert-selection(CLIPBOARD)";
    auto xterm = testing::ChildProcess::start(
        {"xterm", "-class", className, "-xrm", paste, "-e", "sh", "-c", "exec cat >\"$0\"", file.string()},
        {{"DISPLAY", display}}, log);
    auto connection = X11Connection::open(display);
    if (!xterm || !connection) {
        ADD_FAILURE() << "cannot start xterm on " << display;
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (std::filesystem::exists(file) && focused(*connection, className)) return xterm;
        std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "the xterm did not get the keyboard; its log:\n" << testing::fileContents(log);
    return std::nullopt;
}

std::string fileShowing(const std::filesystem::path& file, const std::string& text) {
    std::string shown;
    for (int attempt = 0; attempt < 200; ++attempt) {
        shown = testing::fileContents(file);
        if (shown == text) break;
        std::this_thread::sleep_for(50ms);
    }
    return shown;
}

// On a display with XTEST, Composite, DAMAGE and XFIXES the host may type and capture.
TEST(QuibHost, TypesKeyChordsIntoTheWindowInFrontOfItsDisplay) {
    QUIB_REQUIRE_TEST_DISPLAY();
    TempHome home;
    const auto typed = home.root() / "typed.txt";
    auto xterm = catInXterm(testing::testDisplayName(), typed, home.root() / "xterm.log");
    ASSERT_TRUE(xterm);
    auto [host, ada] = testing::startWithApprovedPhone(home, testing::testDisplayName());
    ASSERT_TRUE(ada.phone);
    EXPECT_EQ(ada.welcome["status"]["accessibilityGranted"], true);
    EXPECT_EQ(ada.welcome["status"]["screenRecordingGranted"], true);

    for (const char* name : {"h", "i", "enter"}) ASSERT_TRUE(ada.phone->sendLine(key(name)));
    // Keys are answered only when they fail: the first answer is the unknown key's.
    ASSERT_TRUE(ada.phone->sendLine(key("F1")));
    EXPECT_EQ(testing::nextReply(*ada.phone), error("F1 isn't a key Quib knows how to press"));
    EXPECT_EQ(fileShowing(typed, "hi\n"), "hi\n") << host->log();
}

// The xterm is known as a terminal by its desktop entry alone, so the paste is Control-Shift-V.
TEST(QuibHost, PastesTextIntoTheFocusedTerminalAndPutsTheClipboardBack) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const std::string display = testing::testDisplayName();
    TempHome home;
    std::filesystem::create_directories(home.dataHome() / "applications");
    std::ofstream(home.dataHome() / "applications" / "quib-paste-term.desktop")
        << "[Desktop Entry]\nType=Application\nName=Paste Term\nExec=xterm\nStartupWMClass=QuibPasteTerm\n"
           "Categories=System;TerminalEmulator;\n";
    const auto typed = home.root() / "typed.txt";
    auto xterm = catInXterm(display, typed, home.root() / "xterm.log", "QuibPasteTerm");
    ASSERT_TRUE(xterm);
    QuibTarget focusedApp;
    focusedApp.id = "F";
    focusedApp.name = "Focused";
    focusedApp.kind = QuibTarget::Kind::frontmost;
    testing::saveTargetsBeforeStart(home, {focusedApp});
    auto before = testing::Xclip::hold(display, bytesOf("before"));
    ASSERT_TRUE(before);
    auto [host, ada] = testing::startWithApprovedPhone(home, display);
    ASSERT_TRUE(ada.phone);

    ASSERT_TRUE(ada.phone->sendLine(R"({"text":{"_0":{"text":"hello world","targetID":"F","submit":true}}})"));
    const Json delivered = testing::nextReply(*ada.phone)["delivered"]["_0"];
    EXPECT_EQ(delivered["ok"], true);
    EXPECT_EQ(delivered["submitted"], true);
    EXPECT_EQ(delivered["message"], "Sent 2 words to Focused");
    EXPECT_EQ(fileShowing(typed, "hello world\n"), "hello world\n") << host->log();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(testing::Xclip::readText(display), "before") << host->log();
}

constexpr const char* termClass = "QuibBarsTerm";

// "Bars Term": an xterm of its own class that pastes the clipboard on Control-Shift-V and runs
// `cat` into `file`.
void installBarsTerm(TempHome& home, const std::filesystem::path& file) {
    const auto folder = home.dataHome() / "applications";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "quibbars-term.desktop")
        << "[Desktop Entry]\nType=Application\nName=Bars Term\nStartupWMClass=" << termClass
        << "\nCategories=System;TerminalEmulator;\nExec=xterm -class " << termClass << " -xrm \"" << termClass
        << "*VT100.translations: #override Shift Ctrl <Key>V: insert-selection(CLIPBOARD)\" -e sh -c "
           "\"exec cat >\\\\\"\\\\$0\\\\\"\" "
        << file.string() << "\n";
}

// Ends the processes behind the windows of class `className`: the host launched them detached.
void closeApp(const std::string& display, const std::string& className) {
    auto connection = X11Connection::open(display);
    if (!connection) return;
    connection->use([&](Display* d) {
        for (Window window : X11ClientWindows::clients(d)) {
            const auto windowClass = X11Properties::windowClass(d, window);
            const auto pid = X11ClientWindows::processID(d, window);
            if (windowClass && windowClass->className == className && pid) ::kill(static_cast<pid_t>(*pid), SIGTERM);
        }
    });
}

// Sends the line; then the text of the next toast or error.
std::string answer(PhoneClient& phone, const std::string& line) {
    EXPECT_TRUE(phone.sendLine(line));
    return testing::nextToastOrError(phone);
}

std::string addApp(const std::string& id, const std::string& name, const std::string& bundleID) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = QuibTarget::Kind::app;
    target.bundleID = bundleID;
    return R"({"addTarget":{"_0":)" + *QuibCoder::encode(target) + "}}";
}

// The client window of class `className` on `display`; none when there is none.
std::optional<Window> clientOfClass(const std::string& display, const std::string& className) {
    auto connection = X11Connection::open(display);
    std::optional<Window> found;
    if (!connection) return found;
    connection->use([&](Display* d) {
        for (const Window window : X11ClientWindows::clients(d)) {
            const auto windowClass = X11Properties::windowClass(d, window);
            if (windowClass && windowClass->className == className) found = window;
        }
    });
    return found;
}

// Whether `xprop -root _NET_ACTIVE_WINDOW` comes to name `window` within a few seconds.
bool xpropNamesActive(const std::string& display, Window window, const std::filesystem::path& log) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "window id # 0x%lx", window);
    for (int attempt = 0; attempt < 50; ++attempt) {
        auto xprop =
            testing::ChildProcess::start({"xprop", "-display", display, "-root", "_NET_ACTIVE_WINDOW"}, {}, log);
        if (!xprop) return false;
        if (xprop->readUntil(expected, 1s)) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// Then the target is pointed at the terminal's window, and back at its front window, which
// leaves no window to open.
TEST(QuibHost, LaunchesAnAppTargetWaitsForItsWindowAndPastesIntoIt) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const std::string display = testing::testDisplayName();
    TempHome home;
    const auto typed = home.root() / "typed.txt";
    installBarsTerm(home, typed);
    auto [host, ada] = testing::startWithApprovedPhone(home, display);
    ASSERT_TRUE(ada.phone);
    auto& phone = *ada.phone;

    EXPECT_EQ(answer(phone, addApp("A1", "Bars Term", "quibbars-term")), "toast: Added Bars Term");
    EXPECT_EQ(answer(phone, addApp("A2", "Nothing", "no.such.app")), "error: no.such.app is not installed");
    ASSERT_TRUE(phone.sendLine(R"({"requestWindows":{"targetID":"A1"}})"));
    auto windows = phone.receiveCase("windows", 6s);
    ASSERT_TRUE(windows) << windows.error().message;
    EXPECT_EQ((*windows)["_0"]["note"], "Bars Term isn't running, so it has no windows open yet.");

    ASSERT_TRUE(phone.sendLine(R"({"text":{"_0":{"text":"hello there","targetID":"A1","submit":true}}})"));
    const auto delivered = phone.receiveCase("delivered", 6s);
    ASSERT_TRUE(delivered) << delivered.error().message << "\n" << host->log();
    EXPECT_EQ((*delivered)["_0"]["ok"], true) << host->log();
    EXPECT_EQ((*delivered)["_0"]["message"], "Sent 2 words to Bars Term");
    EXPECT_EQ(fileShowing(typed, "hello there\n"), "hello there\n") << host->log();

    EXPECT_EQ(answer(phone, R"({"focus":{"targetID":"A1"}})"), "toast: Focused Bars Term") << host->log();

    const auto window = clientOfClass(display, termClass);
    ASSERT_TRUE(window);
    // The running terminal's window is listed, with its picture.
    ASSERT_TRUE(phone.sendLine(R"({"requestWindows":{"targetID":"A1"}})"));
    windows = phone.receiveCase("windows", 6s);
    ASSERT_TRUE(windows) << windows.error().message;
    ASSERT_EQ((*windows)["_0"]["windows"].size(), 1u) << windows->dump();
    EXPECT_EQ((*windows)["_0"]["windows"][0]["id"], *window);
    EXPECT_TRUE((*windows)["_0"]["windows"][0].contains("preview")) << windows->dump();
    const std::string pick = R"({"focusWindow":{"targetID":"A1","windowID":)" + std::to_string(*window) + "}}";
    EXPECT_TRUE(answer(phone, pick).starts_with("toast: Showing ")) << host->log();
    EXPECT_TRUE(xpropNamesActive(display, *window, home.root() / "xprop.log"));
    EXPECT_EQ(answer(phone, R"({"focusWindow":{"targetID":"A1"}})"), "toast: Bars Term follows its front window again");
    EXPECT_EQ(answer(phone, R"({"openWindow":{"targetID":"A1"}})"), "error: Bars Term isn't pointed at a window");
    closeApp(display, termClass);
}

TEST(QuibHost, WithoutADisplayIsNotTrustedToPressKeysOrCapture) {
    TempHome home;
    auto [host, ada] = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(ada.phone);
    EXPECT_EQ(ada.welcome["status"]["accessibilityGranted"], false);
    EXPECT_EQ(ada.welcome["status"]["screenRecordingGranted"], false);
    ASSERT_TRUE(ada.phone->sendLine(key("h")));
    EXPECT_EQ(testing::nextReply(*ada.phone),
              error("Quib can't type or click without a desktop display \u2014 start it in your desktop session"));
}

}  // namespace
}  // namespace quib
