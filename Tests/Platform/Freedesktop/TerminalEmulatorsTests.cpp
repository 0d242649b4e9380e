#include "Platform/Freedesktop/TerminalEmulators.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

TEST(TerminalEmulators, KnowsTheCommonTerminalsByClassInAnyCase) {
    EXPECT_TRUE(TerminalEmulators::isKnownClass("XTerm"));
    EXPECT_TRUE(TerminalEmulators::isKnownClass("urxvt"));
    EXPECT_TRUE(TerminalEmulators::isKnownClass("Gnome-terminal"));
    EXPECT_FALSE(TerminalEmulators::isKnownClass("Firefox"));
    EXPECT_FALSE(TerminalEmulators::isKnownClass(""));
}

// The installed app that owns the window says whether it is a terminal; the well-known
// classes count even when no entry says so.
TEST(TerminalEmulators, AskTheDesktopEntryThatOwnsTheWindow) {
    testing::ScratchFolder folder("quib-terminals");
    std::ofstream(folder.path / "tide.desktop") << "[Desktop Entry]\nType=Application\nName=Tide\nExec=tide\n"
                                                   "StartupWMClass=TideTerm\nCategories=System;TerminalEmulator;\n";
    std::ofstream(folder.path / "org.example.Editor.desktop")
        << "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor\nCategories=Utility;TextEditor;\n";
    std::ofstream(folder.path / "xterm.desktop") << "[Desktop Entry]\nType=Application\nName=XTerm\nExec=xterm\n";
    const DesktopEntries apps({folder.path});

    EXPECT_TRUE(TerminalEmulators::ownsWindow(apps, "TideTerm", "tide"));
    EXPECT_FALSE(TerminalEmulators::ownsWindow(apps, "Editor", "org.example.Editor"));
    EXPECT_TRUE(TerminalEmulators::ownsWindow(apps, "XTerm", "xterm"));
    EXPECT_FALSE(TerminalEmulators::ownsWindow(apps, "Unknown", "unknown"));
}

}  // namespace
}  // namespace quib
