// The real quib-host launching, waiting for and pasting into an app target on the shared test
// display: a terminal of its own class whose desktop entry the host finds in its data folder.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "Platform/Linux/X11ClientWindows.hpp"
#include "Platform/Linux/X11Connection.hpp"
#include "Platform/Linux/X11Properties.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Display/TestDisplay.hpp"
#include "Tests/Integration/HostProcess.hpp"
#include "Tests/QuibHost/App/ScratchFolder.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::TempHome;

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

// The text of the next toast or error, as "toast: ..." or "error: ...".
std::string answer(PhoneClient& phone, const std::string& line) {
    EXPECT_TRUE(phone.sendLine(line));
    while (auto reply = phone.receiveLine(10s)) {
        const Json message = Json::parse(*reply);
        for (const char* name : {"toast", "error"})
            if (message.contains(name)) return std::string(name) + ": " + message[name]["_0"].get<std::string>();
    }
    return "nothing";
}

std::string addApp(const std::string& id, const std::string& name, const std::string& bundleID) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = QuibTarget::Kind::app;
    target.bundleID = bundleID;
    return R"({"addTarget":{"_0":)" + *QuibCoder::encode(target) + "}}";
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

TEST(QuibHost, LaunchesAnAppTargetWaitsForItsWindowAndPastesIntoIt) {
    QUIB_REQUIRE_TEST_DISPLAY();
    const std::string display = testing::testDisplayName();
    TempHome home;
    const auto typed = home.root() / "typed.txt";
    installBarsTerm(home, typed);
    testing::approveBeforeStart(home, "PHONE-1", "Ada's phone");
    auto host = HostProcess::start(home, display);
    ASSERT_TRUE(host);
    auto ada = testing::welcomed(*host, "PHONE-1", "Ada's phone");
    ASSERT_TRUE(ada.phone);
    auto& phone = *ada.phone;

    EXPECT_EQ(answer(phone, addApp("A1", "Bars Term", "quibbars-term")), "toast: Added Bars Term");
    EXPECT_EQ(answer(phone, addApp("A2", "Nothing", "no.such.app")), "error: no.such.app is not installed");

    ASSERT_TRUE(phone.sendLine(R"({"text":{"_0":{"text":"hello there","targetID":"A1","submit":true}}})"));
    const auto delivered = phone.receiveCase("delivered", 6s);
    ASSERT_TRUE(delivered) << delivered.error().message << "\n" << host->log();
    EXPECT_EQ((*delivered)["_0"]["ok"], true) << host->log();
    EXPECT_EQ((*delivered)["_0"]["message"], "Sent 2 words to Bars Term");
    EXPECT_EQ(fileShowing(typed, "hello there\n"), "hello there\n") << host->log();

    EXPECT_EQ(answer(phone, R"({"focus":{"targetID":"A1"}})"), "toast: Focused Bars Term") << host->log();
    closeApp(display, termClass);
}

}  // namespace
}  // namespace quib
