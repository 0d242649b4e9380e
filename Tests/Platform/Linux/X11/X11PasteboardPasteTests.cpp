// Pastes through the host's own clipboard on the shared test display, with the user's
// clipboard held by another app: the event injector's waits run on a fake clock, X for real.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <fstream>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Tests/Platform/Linux/X11/X11PasteboardFixture.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

// A stray count would make the restore's comparison fail only now and then: several rounds.
TEST_F(X11Pasteboard, PutsBackWhatAnotherAppHeldAfterEachPaste) {
    for (int round = 0; round < 4; ++round) {
        const std::string before = "before " + std::to_string(round);
        auto xclip = Xclip::hold(display, bytesOf(before));
        ASSERT_TRUE(xclip);
        injector().paste("sent " + std::to_string(round));
        EXPECT_EQ(Xclip::readText(display), "sent " + std::to_string(round));
        wait(349ms);
        EXPECT_EQ(Xclip::readText(display), "sent " + std::to_string(round));
        wait(1ms);
        EXPECT_EQ(Xclip::readText(display), before) << "round " << round;
    }
}

TEST_F(X11Pasteboard, KeepsACopyMadeInBetween) {
    auto mine = Xclip::hold(display, bytesOf("mine"));
    ASSERT_TRUE(mine);
    injector().paste("sent");
    wait(200ms);
    auto copied = Xclip::hold(display, bytesOf("copied meanwhile"));
    ASSERT_TRUE(copied);
    wait(1s);
    EXPECT_EQ(Xclip::readText(display), "copied meanwhile");
}

// The file's own bytes as its image type, and its percent-encoded URL as a one-line URI list.
TEST_F(X11Pasteboard, PastesAnImageFileAsItsBytesAndItsURL) {
    ScratchFolder folder("quib-paste");
    const auto file = folder.path / "shot 1.png";
    const Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0x00, 0xFF, 0x0D, 0x0A, 0x80};
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    ASSERT_TRUE(injector().paste(file, AttachmentFrame::Format::png));
    const auto targets = Xclip::readText(display, "TARGETS").value_or("");
    EXPECT_NE(targets.find("image/png\n"), std::string::npos) << targets;
    EXPECT_NE(targets.find("text/uri-list\n"), std::string::npos) << targets;
    const auto read = Xclip::read(display, "image/png");
    ASSERT_TRUE(read);
    EXPECT_TRUE(*read == png);
    EXPECT_EQ(Xclip::readText(display, "text/uri-list"), "file://" + folder.path.string() + "/shot%201.png\r\n");
}

TEST_F(X11Pasteboard, LeavesAnEmptyClipboardEmpty) {
    pasteboard->clear();
    injector().paste("sent");
    EXPECT_NE(owner(), None);
    wait(350ms);
    EXPECT_EQ(owner(), None);
}

// A plain xterm, no resources set, pastes only PRIMARY with its default keys: a paste answered
// "Sent" once left nothing there. The shell in it writes what it reads to a file: the pasted
// text as it arrives, then "done" once Return ends the line. PRIMARY is put back afterwards like
// the clipboard.
TEST_F(X11Pasteboard, PastesIntoAPlainXtermThroughPrimaryAndPutsPrimaryBack) {
    ScratchFolder folder("quib-paste-xterm");
    const auto received = folder.path / "received";
    const std::string sent = "sent from the phone";
    const std::string shell = "printf '\\033]2;ready\\007'; stty -icanon; head -c " + std::to_string(sent.size()) +
                              " >\"$0\"; IFS= read -r rest; printf done >>\"$0\"; sleep 60";
    auto xterm = ChildProcess::start({"xterm", "-geometry", "80x5+0+0", "-e", "sh", "-c", shell, received.string()},
                                     {{"DISPLAY", display}}, folder.path / "xterm.log");
    ASSERT_TRUE(xterm);
    const bool ready = eventually(
        [&] {
            bool focused = false;
            control->use([&](Display* d) {
                const auto window = X11Properties::focusedWindow(d);
                const auto windowClass = window ? X11Properties::windowClass(d, *window) : std::nullopt;
                if (!windowClass || windowClass->className != "XTerm") return;
                for (Window client : X11ClientWindows::clients(d))
                    focused = focused || X11ClientWindows::title(d, client) == "ready";
            });
            return focused;
        },
        10s);
    ASSERT_TRUE(ready) << "the xterm did not come up; its log:\n" << fileContents(folder.path / "xterm.log");

    injector().paste(sent);
    EXPECT_EQ(Xclip::readText(display, "UTF8_STRING", "primary"), sent);
    EXPECT_TRUE(eventually([&] { return fileContents(received) == sent; }, 5s))
        << "the xterm received: " << fileContents(received);
    EXPECT_TRUE(injector().postKey(KeyChord("enter"), "xterm").ok);
    EXPECT_TRUE(eventually([&] { return fileContents(received) == sent + "done"; }, 5s))
        << "the xterm received: " << fileContents(received);
    wait(350ms);
    EXPECT_NE(Xclip::readText(display, "UTF8_STRING", "primary"), sent);
}

}  // namespace
}  // namespace quib::testing
