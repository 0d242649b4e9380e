#include "Tests/Audio/PulseTools.hpp"

#include <cstdlib>
#include <sstream>

#include "Runtime/Subprocess.hpp"

namespace quib::testing {

std::optional<std::string> PulseTools::pactl(const std::vector<std::string>& arguments) {
    static const auto tool = quib::Subprocess::onPath("pactl", quib::Subprocess::searchPath());
    if (!tool) return std::nullopt;
    const auto result = quib::Subprocess::run(*tool, arguments, std::nullopt, std::chrono::seconds(10));
    if (!result.ok) return std::nullopt;
    return result.output;
}

std::string PulseTools::defaultSink() { return pactl({"get-default-sink"}).value_or(""); }

std::string PulseTools::monitorOf(const std::string& sink) {
    std::istringstream listing(pactl({"list", "sinks"}).value_or(""));
    bool inSink = false;
    for (std::string line; std::getline(listing, line);) {
        const auto text = line.substr(std::min(line.find_first_not_of(" \t"), line.size()));
        if (text.rfind("Name: ", 0) == 0) inSink = text.substr(6) == sink;
        if (inSink && text.rfind("Monitor Source: ", 0) == 0) return text.substr(16);
    }
    return {};
}

bool PulseTools::hasServer() {
    const char* server = std::getenv("PULSE_SERVER");
    return server != nullptr && *server != '\0';
}

}  // namespace quib::testing
