// The checks every new or edited saved target passes: the limits that keep the list one that
// phones can be sent and the settings can hold, and the rules of what a target needs and may not
// share with another.

#include "QuibHost/Targets/TargetStoreChecks.hpp"

#include <algorithm>

#include "Platform/Tmux/Tmux.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {
namespace {

// Decoded text is well-formed UTF-8, whose characters are the bytes that do not continue one.
std::size_t characterCount(std::string_view utf8) {
    return static_cast<std::size_t>(std::ranges::count_if(utf8, [](char c) { return (c & 0xC0) != 0x80; }));
}

std::optional<std::string> fieldRefusal(const QuibTarget& target) {
    if (target.name.size() > TargetStore::longestName && characterCount(target.name) > TargetStore::longestName)
        return "That name is longer than " + std::to_string(TargetStore::longestName) + " characters";
    const std::pair<const std::string*, const char*> fields[] = {
        {&target.id, "identifier"},
        {target.bundleID ? &*target.bundleID : nullptr, HostWords::appID.chars},
        {target.tmuxTarget ? &*target.tmuxTarget : nullptr, "pane"},
        {&target.symbol, "symbol"},
        {target.profileID ? &*target.profileID : nullptr, "shortcut profile"},
        {target.pinnedWindowTitle ? &*target.pinnedWindowTitle : nullptr, "window title"},
    };
    for (const auto& [value, what] : fields) {
        if (value && value->size() > TargetStore::longestField)
            return std::string("That target's ") + what + " is longer than " +
                   std::to_string(TargetStore::longestField) + " bytes";
    }
    return std::nullopt;
}

}  // namespace

TargetStore::Checks::Checks(const DesktopEntries& apps, const std::vector<const QuibTarget*>& others, std::size_t bytes)
    : apps_(apps), bytes_(bytes) {
    for (const auto* target : others) count(*target);
}

void TargetStore::Checks::take(const QuibTarget& target) {
    count(target);
    if (auto json = QuibCoder::encode(target)) bytes_ += json->size() + 1;
}

void TargetStore::Checks::count(const QuibTarget& target) {
    names_.insert(unicode::caselessKey(target.name));
    if (target.kind == QuibTarget::Kind::tmux && target.tmuxTarget) panes_.emplace(*target.tmuxTarget, target.name);
    ++count_;
}

std::optional<std::string> TargetStore::Checks::refusal(const QuibTarget& target, bool isAddition) {
    if (auto refusal = fieldRefusal(target)) return refusal;
    if (target.name.empty()) return "A target needs a name";
    if (auto refusal = kindRefusal(target, isAddition)) return refusal;
    if (names_.contains(unicode::caselessKey(target.name))) return "There is already a target called " + target.name;
    return roomRefusal(target, isAddition);
}

std::optional<std::string> TargetStore::Checks::limitRefusal(const QuibTarget& target, bool isAddition) const {
    if (auto refusal = fieldRefusal(target)) return refusal;
    return roomRefusal(target, isAddition);
}

// Whether the pane still exists is not asked: the caller has already turned addresses that
// tmux knows into identifiers, so an address left over names no pane.
std::optional<std::string> TargetStore::Checks::kindRefusal(const QuibTarget& target, bool isAddition) {
    switch (target.kind) {
        case QuibTarget::Kind::app:
            if (!target.bundleID || target.bundleID->empty())
                return std::string(said<"An app target needs an ", HostWords::appID>);
            if (!installed_) installed_ = apps_.installed();
            if (!DesktopEntries::find(*installed_, *target.bundleID)) return *target.bundleID + " is not installed";
            return std::nullopt;
        case QuibTarget::Kind::tmux: {
            if (!target.tmuxTarget || target.tmuxTarget->empty()) return "A tmux target needs a pane";
            const std::string& pane = *target.tmuxTarget;
            if (!Tmux::isPaneID(pane)) return "No tmux pane matches " + pane;
            if (const auto holder = panes_.find(pane); holder != panes_.end())
                return holder->second + " already points at " + pane;
            return std::nullopt;
        }
        case QuibTarget::Kind::frontmost:
            if (isAddition) return std::string(said<"A frontmost target has to be added on ", HostWords::theComputer>);
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> TargetStore::Checks::roomRefusal(const QuibTarget& target, bool isAddition) const {
    if (isAddition && count_ >= mostTargets)
        return "There are already " + std::to_string(mostTargets) + " targets \u2014 remove some first";
    const auto json = QuibCoder::encode(target);
    if (!json || bytes_ + json->size() + 1 > largestList)
        return "The saved targets have no room left for that one \u2014 remove some first";
    return std::nullopt;
}

}  // namespace quib
