#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "Shared/Json.hpp"
#include "Shared/MacApp.hpp"
#include "Shared/PayloadChunker.hpp"

namespace quib {

// One chunk of the app catalog: the ranked suggestions, or icons asked for by bundle
// identifier. Decoded tolerantly; a purpose other than "icons" reads as `suggestions`.
struct AppCatalogPayload {
    enum class Purpose { suggestions, icons };

    Purpose purpose = Purpose::suggestions;
    std::vector<MacApp> apps;
    std::int64_t sequence = 0;
    bool isFinal = true;

    // The apps split under `budget` (see PayloadChunker); never empty.
    static std::vector<AppCatalogPayload> chunked(std::vector<MacApp> apps, Purpose purpose,
                                                  std::int64_t budget = PayloadChunker::messageBudget);

    static AppCatalogPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AppCatalogPayload&) const = default;
};

template <>
struct EnumNames<AppCatalogPayload::Purpose> {
    static constexpr std::array<std::pair<AppCatalogPayload::Purpose, std::string_view>, 2> table{{
        {AppCatalogPayload::Purpose::suggestions, "suggestions"},
        {AppCatalogPayload::Purpose::icons, "icons"},
    }};
};

}  // namespace quib
