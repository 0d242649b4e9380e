// The real quib-host typing into an xterm on the shared test display, and the same host
// without a display.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "Platform/Linux/X11Connection.hpp"
#include "Platform/Linux/X11Properties.hpp"
#include "Tests/Display/TestDisplay.hpp"
#include "Tests/Integration/HostProcess.hpp"
#include "Tests/QuibHost/App/ScratchFolder.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::TempHome;

std::string key(const std::string& name) { return R"({"key":{"_0":{"chord":{"key":")" + name + R"("}}}})"; }

Json error(const std::string& text) { return Json{{"error", {{"_0", text}}}}; }

// Whether an xterm has the keyboard of `display`.
bool xtermFocused(X11Connection& display) {
    bool focused = false;
    display.use([&](Display* d) {
        const auto window = X11Properties::focusedWindow(d);
        const auto windowClass = window ? X11Properties::windowClass(d, *window) : std::nullopt;
        focused = windowClass && windowClass->className == "XTerm";
    });
    return focused;
}

// An xterm on `display` running `cat` into `file`, once the shell has made the file and the
// window has the keyboard; none (with a test failure) when that does not come about.
std::optional<testing::Subprocess> catInXterm(const std::string& display, const std::filesystem::path& file,
                                              const std::filesystem::path& log) {
    auto xterm = testing::Subprocess::start({"xterm", "-e", "sh", "-c", "exec cat >\"$0\"", file.string()},
                                            {{"DISPLAY", display}}, log);
    auto connection = X11Connection::open(display);
    if (!xterm || !connection) {
        ADD_FAILURE() << "cannot start xterm on " << display;
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (std::filesystem::exists(file) && xtermFocused(*connection)) return xterm;
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

TEST(QuibHost, TypesKeyChordsIntoTheWindowInFrontOfItsDisplay) {
    QUIB_REQUIRE_TEST_DISPLAY();
    TempHome home;
    const auto typed = home.root() / "typed.txt";
    auto xterm = catInXterm(testing::testDisplayName(), typed, home.root() / "xterm.log");
    ASSERT_TRUE(xterm);
    testing::approveBeforeStart(home, "PHONE-1", "Ada's phone");
    auto host = HostProcess::start(home, testing::testDisplayName());
    ASSERT_TRUE(host);
    auto ada = testing::welcomed(*host, "PHONE-1", "Ada's phone");
    ASSERT_TRUE(ada.phone);
    EXPECT_EQ(ada.welcome["status"]["accessibilityGranted"], true);

    for (const char* name : {"h", "i", "enter"}) ASSERT_TRUE(ada.phone->sendLine(key(name)));
    // Keys are answered only when they fail: the first answer is the unknown key's.
    ASSERT_TRUE(ada.phone->sendLine(key("F1")));
    EXPECT_EQ(testing::nextReply(*ada.phone), error("F1 isn't a key Fennic knows how to press"));
    EXPECT_EQ(fileShowing(typed, "hi\n"), "hi\n") << host->log();
}

TEST(QuibHost, WithoutADisplayIsNotTrustedToPressKeys) {
    TempHome home;
    testing::approveBeforeStart(home, "PHONE-1", "Ada's phone");
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto ada = testing::welcomed(*host, "PHONE-1", "Ada's phone");
    ASSERT_TRUE(ada.phone);
    EXPECT_EQ(ada.welcome["status"]["accessibilityGranted"], false);
    ASSERT_TRUE(ada.phone->sendLine(key("h")));
    EXPECT_EQ(testing::nextReply(*ada.phone), error("Grant Accessibility to Fennic first"));
}

}  // namespace
}  // namespace quib
