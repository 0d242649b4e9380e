#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Tests/Support/ChildProcess.hpp"

namespace quib::testing {

// A PulseAudio daemon of one test's own, with a null sink as its default output, for tests that
// must kill a server: the test run's shared one stays untouched. Killed when destroyed.
class PrivatePulseServer {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Starts it and waits until it answers; none (with a test failure) when it does not.
    static std::unique_ptr<PrivatePulseServer> start();

    PrivatePulseServer(Passkey, ChildProcess daemon, std::filesystem::path folder);
    ~PrivatePulseServer();

    // What PULSE_SERVER names it by.
    std::string address() const;
    // Ends the daemon at once; its clients find the connection gone.
    void kill();

private:
    std::optional<ChildProcess> daemon_;
    std::filesystem::path folder_;
};

}  // namespace quib::testing
