#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Tests/Support/ChildProcess.hpp"

namespace quib::testing {

// An X server of one test's own (Xvfb on a number it picks itself), for tests that must stop or
// disturb a server: the shared test display stays untouched. Killed when destroyed.
class PrivateXServer {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Starts a screen of `screen` (width × height × depth) with the server's `options` (say,
    // "-extension" and a name to leave one out) and waits until it takes connections; none (with
    // a test failure) when it does not start.
    static std::unique_ptr<PrivateXServer> start(const std::string& screen = "1920x1080x24",
                                                 const std::vector<std::string>& options = {});

    PrivateXServer(Passkey, ChildProcess server, std::string name, std::filesystem::path log);
    ~PrivateXServer();

    // ":N".
    const std::string& name() const { return name_; }
    // Starts jwm on the server with `configuration` (the whole of a jwmrc) and waits until it
    // manages the screen; false (with a test failure) when it does not. It ends with the server.
    bool startWindowManager(const std::string& configuration);
    // Ends the server; its clients find the connection closed, as after a crash.
    void kill();

private:
    ChildProcess server_;
    std::optional<ChildProcess> windowManager_;
    std::string name_;
    std::filesystem::path log_;
};

}  // namespace quib::testing
