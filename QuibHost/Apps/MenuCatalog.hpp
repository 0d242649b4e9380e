#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "QuibHost/Apps/MenuCatalogService.hpp"
#include "QuibHost/Apps/MenuScanner.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Shared/MenuProfilePayload.hpp"

namespace quib {

// The shortcut buttons another app's own menu bar offers, for a phone that asks: the scanner
// reads the menus, the menu vocabulary picks the commands worth a button, and the answer says
// how it went in a sentence for the user. Answers are kept per app (whatever the letter case of
// its identifier) for five minutes while the same process runs, so a phone switching between
// targets does not have the host walk the same menu bar again and again.
//
// One per process. Requests come one at a time on the server's menu queue (labelled
// queueLabel), which `profile` asserts; the cache is locked only to read or replace an answer,
// never during a scan.
class MenuCatalog final : public MenuCatalogService {
public:
    static constexpr Duration cacheLifetime = std::chrono::seconds(300);
    static constexpr std::string_view notRunningNote = "Not running, so it has no menus to read yet.";

    explicit MenuCatalog(MenuScanner::Config scanner);

    // The profile read from the app's menus, or why there is none. A kept answer is returned as
    // it was stored, unless `refresh` asks for a fresh read; an app that has since quit, started
    // or been started again is read again at once. Blocks while the menus are read.
    MenuProfilePayload profile(const std::string& bundleID, bool refresh) override;

private:
    // An answer as it was given.
    struct Entry {
        MenuProfilePayload payload;
        std::int64_t processID = -1;  // -1: the app was not running
        MonoTime readAt;
    };

    // Reads the menus and makes the answer, keeping nothing.
    MenuProfilePayload build(const std::string& bundleID) const;
    std::optional<Entry> held(const std::string& key) const;

    MenuScanner scanner_;
    std::shared_ptr<Clock> clock_;
    mutable Mutex mutex_;
    std::unordered_map<std::string, Entry> entries_ GUARDED_BY(mutex_);  // by the lower-cased identifier
};

}  // namespace quib
