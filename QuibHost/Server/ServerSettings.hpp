#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"

namespace quib {

// The connection server's settings and the name under which the host shows itself.
struct ServerSettings {
    static constexpr auto portKey = setting<"quib.port">;
    static constexpr auto serviceNameKey = setting<"quib.serviceName">;
    static constexpr auto awayPortKey = setting<"quib.awayPort">;
    static constexpr std::uint16_t defaultPort = portKey.rule().fallback;
    static constexpr std::int64_t lowestPort = portKey.rule().lowest;
    static constexpr std::int64_t highestPort = portKey.rule().highest;
    static inline const std::filesystem::path machineInfoPath = "/etc/machine-info";

    // The local listener's port: "quib.port" when it lies in 1025...65535, else 61413
    // (also when it is missing or not a whole number).
    static std::uint16_t localPort(const Settings& settings);
    // The away listener's port: "quib.awayPort" when it lies in 1025...65535, else 61423.
    static std::uint16_t awayPort(const Settings& settings);

    // "quib.serviceName" as stored, when it is present and not blank once spaces and tabs are
    // trimmed from both ends.
    static std::optional<std::string> serviceName(const Settings& settings);

    // The name phones see: the service-name setting, else the computer's pretty name (the
    // PRETTY_HOSTNAME of `machineInfo`), else the system host name.
    static std::string hostDisplayName(const Settings& settings,
                                       const std::filesystem::path& machineInfo = machineInfoPath);

    // PRETTY_HOSTNAME of a machine-info file (shell-style KEY=VALUE lines), unquoted; nothing
    // when the file or the key is missing or the value is empty.
    static std::optional<std::string> prettyHostName(const std::filesystem::path& machineInfo);

    // gethostname(), or "localhost" when even that fails.
    static std::string systemHostName();
};

}  // namespace quib
