#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Runtime/Result.hpp"

namespace quib {

// The applications of the desktop as the host brings them forward: which are installed, which
// run, activating a running one, launching an installed one, and which one is in front. An app
// is named by its bundle identifier (on Linux its desktop-file ID without ".desktop").
//
// Every operation is quick, never prompts, and is safe on any thread: the injection, catalog,
// tmux, menu and vocabulary queues all ask.
class Workspace {
public:
    // One running instance of an app.
    struct RunningApp {
        std::string bundleID;
        std::int64_t processID = 0;
        bool operator==(const RunningApp&) const = default;
    };

    // An app that runs with windows on the desktop.
    struct ListedApp {
        // None when its windows belong to no installed app.
        std::optional<std::string> bundleID;
        std::int64_t processID = 0;  // its first window's
        bool operator==(const ListedApp&) const = default;
    };

    virtual ~Workspace() = default;

    // An app with this bundle identifier is installed.
    virtual bool isInstalled(const std::string& bundleID) = 0;
    // The app's running instances, the one to bring forward first; empty when it does not run.
    virtual std::vector<RunningApp> runningInstances(const std::string& bundleID) = 0;
    // Brings the instance forward with all of its windows; false when the desktop refused.
    virtual bool activate(const RunningApp& app) = 0;
    // Starts the installed app and returns without waiting for it to come up. A failure carries
    // the sentence the user is shown.
    virtual Result<void> launch(const std::string& bundleID) = 0;
    // The app that has keyboard focus now; none when no app has it.
    virtual std::optional<RunningApp> frontmostApp() = 0;
    // Every running app once, in the order the desktop lists their windows.
    virtual std::vector<ListedApp> runningApps() = 0;
};

}  // namespace quib
