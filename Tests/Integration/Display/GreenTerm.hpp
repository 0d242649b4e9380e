#pragma once

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/Process/HostProcess.hpp"

// Windows of apps of the tests' own for a host on the test display: xterms painted all in one
// green, doing nothing.
namespace quib::testing {

// An app of its own desktop entry: an xterm of class `className`, titled `title`, painted
// all in one green (text, cursor and background) and doing nothing.
inline void installGreenTerm(TempHome& home, const std::string& desktopID, const std::string& name,
                             const std::string& className, const std::string& geometry) {
    const auto folder = home.dataHome() / "applications";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / (desktopID + ".desktop"))
        << "[Desktop Entry]\nType=Application\nName=" << name << "\nStartupWMClass=" << className
        << "\nExec=xterm -class " << className << " -T \"" << name << " Window\" -geometry " << geometry
        << " -bg #00c000 -fg #00c000 -cr #00c000 -e sleep 600\n";
}

inline QuibTarget appTarget(const std::string& id, const std::string& name, const std::string& bundleID) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = QuibTarget::Kind::app;
    target.bundleID = bundleID;
    return target;
}

// The client window of class `className`, once there is one within a few seconds.
inline std::optional<Window> windowOfClass(const std::string& display, const std::string& className) {
    auto connection = X11Connection::open(display);
    std::optional<Window> found;
    for (int attempt = 0; connection && !found && attempt < 200; ++attempt) {
        connection->use([&](Display* d) {
            for (const Window window : X11ClientWindows::clients(d)) {
                const auto windowClass = X11Properties::windowClass(d, window);
                if (windowClass && windowClass->className == className) found = window;
            }
        });
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return found;
}

inline std::optional<ChildProcess> startTerm(const std::string& display, const std::string& className,
                                             const std::string& geometry, const std::string& title,
                                             const std::filesystem::path& log) {
    return ChildProcess::start({"xterm", "-class", className, "-T", title, "-geometry", geometry, "-bg", "#00c000",
                                "-fg", "#00c000", "-cr", "#00c000", "-e", "sleep", "600"},
                               {{"DISPLAY", display}}, log);
}

}  // namespace quib::testing
