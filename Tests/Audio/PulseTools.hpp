#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quib::testing {

// The sound server the environment names (PULSE_SERVER), through `pactl`.
struct PulseTools {
    // What `pactl` printed, trimmed, or none when it failed.
    static std::optional<std::string> pactl(const std::vector<std::string>& arguments);
    static std::string defaultSink();
    // The sink's monitor source as the server lists it.
    static std::string monitorOf(const std::string& sink);
    // Whether the environment names a server: the shared one of the test run.
    static bool hasServer();
};

}  // namespace quib::testing
