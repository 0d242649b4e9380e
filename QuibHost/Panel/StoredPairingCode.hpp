#pragma once

#include <string>
#include <string_view>

#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"

namespace quib {

// The pairing code kept in the user defaults across launches.
struct StoredPairingCode {
    static constexpr auto key = setting<"quib.pairingCode.v1">;

    // The stored code, exactly as stored, when it is a valid pairing code; otherwise a newly
    // drawn code, which is stored first. Phones paired before keep working across launches.
    static std::string loadOrCreate(Settings& settings);
};

}  // namespace quib
