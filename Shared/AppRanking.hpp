#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Clock.hpp"

namespace quib {

// What the host knows about well-known apps, and how apps are ranked in the phone's picker.
//
// The curated apps (AI agents, terminals, code editors, Xcode, browsers) keep their own name and
// symbol wherever they are shown, rank higher, and are the only apps the first default targets
// are made from. The score ranks apps by how often and how recently they were used, whether they
// run, sit in the dock, or are curated. Constants and pure functions: any thread may call them.
class AppRanking {
public:
    AppRanking() = delete;

    struct Known {
        std::string name;      // the name shown for the app
        std::string bundleID;  // with the capitalisation the app declares
        std::string symbol;    // system symbol name the phone draws
        bool operator==(const Known&) const = default;
    };

    // The nineteen curated apps, in the order default targets are made from them.
    static const std::vector<Known>& curated();
    // The curated app with this bundle identifier, ignoring letter case; null for any other.
    static const Known* known(std::string_view bundleID);
    // The curated app's symbol, or "app".
    static std::string symbol(std::string_view bundleID);

    // Higher ranks first. Use frequency (log2 of uses + 1, at most 10) times recency (halving
    // every 14 days since the last use, at least 0.02, and 0.02 without a date), plus 2.5 when
    // running, 1.5 when in the dock and 3.0 when curated. One ranking pass passes one `now`.
    static double score(std::int64_t useCount, std::optional<WallTime> lastUsed, bool isRunning, bool isDocked,
                        bool isCurated, WallTime now);
};

}  // namespace quib
