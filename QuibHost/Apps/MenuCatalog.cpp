#include "QuibHost/Apps/MenuCatalog.hpp"

#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/MenuVocabulary.hpp"

namespace quib {
namespace {

using Outcome = MenuProfilePayload::Outcome;

// Tab, Delete and dictation, which every menu profile ends with.
constexpr std::size_t fixedActions = 3;

MenuProfilePayload answerRead(const std::string& bundleID, const MenuScanner::Read& read) {
    const std::size_t scanned = read.commands.size();
    auto profile = MenuVocabulary::profile(read.appName, bundleID, read.commands);
    if (!profile) {
        return {bundleID, Outcome::nothingUseful, std::nullopt,
                read.appName + " publishes " + std::to_string(scanned) + (scanned == 1 ? " shortcut" : " shortcuts") +
                    ", and too few of them are things worth a button."};
    }
    const std::size_t kept = profile->actions.size();
    quibLog().info("read ", scanned, " shortcuts from ", pub(bundleID), ", kept ", kept);
    std::string note = "Read from " + read.appName + "'s own menu bar \u2014 " + std::to_string(scanned) +
                       " shortcuts, " + std::to_string(kept - fixedActions) + " of them worth a button.";
    return {bundleID, Outcome::read, std::move(profile), std::move(note)};
}

}  // namespace

MenuCatalog::MenuCatalog(MenuScanner::Config scanner) : scanner_(scanner), clock_(scanner.clock) {}

MenuProfilePayload MenuCatalog::profile(const std::string& bundleID, bool refresh) {
    assertOnQueueLabelled(queueLabel);
    const std::string key = unicode::lower(bundleID);
    const std::int64_t processID = scanner_.processID(bundleID).value_or(-1);
    if (!refresh) {
        const auto entry = held(key);
        if (entry && entry->processID == processID && clock_->now() - entry->readAt < cacheLifetime)
            return entry->payload;
    }
    MenuProfilePayload payload = build(bundleID);
    MutexLock lock(mutex_);
    entries_.insert_or_assign(key, Entry{payload, processID, clock_->now()});
    return payload;
}

MenuProfilePayload MenuCatalog::build(const std::string& bundleID) const {
    const MenuScanner::Outcome outcome = scanner_.scan(bundleID);
    if (const auto* read = std::get_if<MenuScanner::Read>(&outcome)) return answerRead(bundleID, *read);
    if (const auto* unreadable = std::get_if<MenuScanner::Unreadable>(&outcome))
        return {bundleID, Outcome::unreadable, std::nullopt, unreadable->note};
    return {bundleID, Outcome::notRunning, std::nullopt, std::string(notRunningNote)};
}

std::optional<MenuCatalog::Entry> MenuCatalog::held(const std::string& key) const {
    MutexLock lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end()) return std::nullopt;
    return found->second;
}

}  // namespace quib
