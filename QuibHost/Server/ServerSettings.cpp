#include "QuibHost/Server/ServerSettings.hpp"

#include <unistd.h>

#include <array>
#include <fstream>

namespace quib {

// Both rows keep their values within 1025...65535.
std::uint16_t ServerSettings::localPort(const Settings& settings) {
    return static_cast<std::uint16_t>(settings.get(portKey));
}

std::uint16_t ServerSettings::awayPort(const Settings& settings) {
    return static_cast<std::uint16_t>(settings.get(awayPortKey));
}

std::optional<std::string> ServerSettings::serviceName(const Settings& settings) {
    auto stored = settings.get(serviceNameKey);
    if (!stored) return std::nullopt;
    if (stored->find_first_not_of(" \t") == std::string::npos) return std::nullopt;
    return stored;
}

std::string ServerSettings::hostDisplayName(const Settings& settings, const std::filesystem::path& machineInfo) {
    if (auto name = serviceName(settings)) return *name;
    if (auto pretty = prettyHostName(machineInfo)) return *pretty;
    return systemHostName();
}

namespace {

// The value of a shell-style assignment: quotes removed, backslash escapes honoured inside
// double quotes and outside quotes.
std::string unquoteShellValue(std::string_view raw) {
    std::string value;
    char quote = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else value.push_back(c);
        } else if (c == '\\' && i + 1 < raw.size()) {
            value.push_back(raw[++i]);
        } else if (quote == '"' && c == '"') {
            quote = 0;
        } else if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else {
            value.push_back(c);
        }
    }
    return value;
}

}  // namespace

std::optional<std::string> ServerSettings::prettyHostName(const std::filesystem::path& machineInfo) {
    std::ifstream file(machineInfo);
    if (!file) return std::nullopt;
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    std::optional<std::string> found;
    std::string line;
    while (std::getline(file, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string_view raw(line);
        raw.remove_prefix(start + key.size());
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\r')) raw.remove_suffix(1);
        found = unquoteShellValue(raw);
    }
    if (!found || found->empty()) return std::nullopt;
    return found;
}

std::string ServerSettings::systemHostName() {
    std::array<char, 256> buffer{};
    if (gethostname(buffer.data(), buffer.size() - 1) != 0 || buffer[0] == '\0') return "localhost";
    return std::string(buffer.data());
}

}  // namespace quib
