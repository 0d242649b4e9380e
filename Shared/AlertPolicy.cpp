#include "Shared/AlertPolicy.hpp"

#include <algorithm>
#include <utility>

#include "Runtime/UnicodeText.hpp"
#include "Shared/EpochMillis.hpp"

namespace quib {

namespace {

// Alert bodies are cut to this many characters.
constexpr std::size_t kBodyLimit = 200;

constexpr std::string_view kLineSeparator = " \u00B7 ";
constexpr std::string_view kEllipsis = "\u2026";

AgentAlert::Kind alertKind(AgentEvent::Kind kind) {
    switch (kind) {
        case AgentEvent::Kind::waiting: return AgentAlert::Kind::waiting;
        case AgentEvent::Kind::failed: return AgentAlert::Kind::failed;
        case AgentEvent::Kind::done: return AgentAlert::Kind::done;
    }
    return AgentAlert::Kind::waiting;
}

std::string_view defaultBody(AgentEvent::Kind kind) {
    switch (kind) {
        case AgentEvent::Kind::waiting: return "Waiting for you";
        case AgentEvent::Kind::failed: return "Something failed";
        case AgentEvent::Kind::done: return "Finished";
    }
    return "Waiting for you";
}

double relevance(AgentEvent::Kind kind) {
    switch (kind) {
        case AgentEvent::Kind::waiting: return 0.9;
        case AgentEvent::Kind::failed: return 0.8;
        case AgentEvent::Kind::done: return 0.3;
    }
    return 0.9;
}

std::string eventBody(const AgentEvent& event) {
    const std::string_view note = event.note ? unicode::trimWhiteSpace(*event.note) : std::string_view();
    if (note.empty()) return std::string(defaultBody(event.kind));
    return AlertPolicy::firstLines(note, kBodyLimit);
}

// The alert for an event, silent and without its badge until the policy sets them.
AgentAlert eventAlert(const AgentEvent& event, std::string_view targetName) {
    return AgentAlert{
        .id = AlertPolicy::eventID(event.targetID),
        .threadID = AlertPolicy::threadID(event.targetID),
        .title = std::string(targetName),
        .subtitle = std::nullopt,
        .body = eventBody(event),
        .kind = alertKind(event.kind),
        .targetID = event.targetID,
        .approvalID = std::nullopt,
        .isSilent = true,
        .isTimeSensitive = event.kind != AgentEvent::Kind::done,
        .relevance = relevance(event.kind),
        .badge = 0,
    };
}

AgentAlert approvalAlert(const ApprovalRequest& request) {
    return AgentAlert{
        .id = AlertPolicy::approvalID(request.id),
        .threadID = AlertPolicy::threadID(request.targetID),
        .title = request.targetName,
        .subtitle = request.title,
        .body = AlertPolicy::firstLines(request.detail, kBodyLimit),
        .kind = AgentAlert::Kind::approval,
        .targetID = request.targetID,
        .approvalID = request.id,
        .isSilent = true,
        .isTimeSensitive = true,
        .relevance = 1.0,
        .badge = 0,
    };
}

bool isSpaceOrTab(const std::string& cluster) { return cluster == " " || cluster == "\t"; }

}  // namespace

std::string AlertPolicy::eventID(std::string_view targetID) { return "agent.event." + std::string(targetID); }

std::string AlertPolicy::approvalID(std::string_view requestID) { return "agent.approval." + std::string(requestID); }

std::string AlertPolicy::threadID(const std::optional<std::string>& targetID) {
    return "target." + targetID.value_or("unknown");
}

AlertPolicy::AlertPolicy(AlertSettings settings) : settings_(std::move(settings)) {}

template <class Predicate>
std::vector<std::string> AlertPolicy::drop(Predicate where) {
    // The map is ordered by id, so the ids come out ascending.
    std::vector<std::string> ids;
    for (auto it = outstanding_.begin(); it != outstanding_.end();) {
        if (where(it->second)) {
            ids.push_back(it->first);
            it = outstanding_.erase(it);
        } else {
            ++it;
        }
    }
    return ids;
}

template <class Predicate>
AlertOutcome AlertPolicy::withdrawing(Predicate where) {
    auto ids = drop(std::move(where));
    return AlertOutcome{.withdraw = std::move(ids), .badge = badge()};
}

AlertOutcome AlertPolicy::receive(const AgentEvent& event, std::string_view targetName, bool isActive,
                                  std::int64_t now) {
    if (isDuplicate(event)) return suppressed(AlertOutcome::Suppression::duplicate, {});
    lastReport_[event.targetID] = Report{event.atEpochMillis, event.kind};
    // The target's earlier event alerts go whatever becomes of this one; its approvals stay.
    auto dropped = drop([&](const AgentAlert& alert) {
        return alert.kind != AgentAlert::Kind::approval && alert.targetID == event.targetID;
    });
    if (const auto why = eventSuppression(event, isActive, now)) return suppressed(*why, std::move(dropped));
    AgentAlert alert = eventAlert(event, targetName);
    alert.isSilent = !allowSound(alert.threadID, now, true);
    // The new alert replaces the one of the same id on the phone; it is not taken back.
    std::erase(dropped, alert.id);
    return post(std::move(alert), std::move(dropped));
}

AlertOutcome AlertPolicy::receive(const ApprovalRequest& request, bool isActive, std::int64_t now) {
    if (const auto why = requestSuppression(request, isActive, now)) return suppressed(*why, {});
    AgentAlert alert = approvalAlert(request);
    // An approval is worth hearing even inside its thread's quiet window, but not twice within the gap.
    alert.isSilent = !allowSound(alert.threadID, now, false);
    return post(std::move(alert), {});
}

AlertOutcome AlertPolicy::resolved(std::string_view approvalID) {
    return withdrawing([&](const AgentAlert& alert) { return alert.approvalID == approvalID; });
}

AlertOutcome AlertPolicy::retainApprovals(const std::set<std::string>& requestIDs) {
    return withdrawing(
        [&](const AgentAlert& alert) { return alert.approvalID && !requestIDs.contains(*alert.approvalID); });
}

AlertOutcome AlertPolicy::expireApprovals(const std::vector<ApprovalRequest>& pending, std::int64_t now) {
    std::set<std::string> live;
    for (const auto& request : pending)
        if (!request.isExpired(now)) live.insert(request.id);
    return retainApprovals(live);
}

AlertOutcome AlertPolicy::opened() {
    return withdrawing([](const AgentAlert&) { return true; });
}

AlertOutcome AlertPolicy::reset() {
    AlertOutcome outcome = opened();
    lastReport_.clear();
    lastSoundAt_.clear();
    lastAnySoundAt_.reset();
    return outcome;
}

AlertOutcome AlertPolicy::undo(std::string_view id) {
    outstanding_.erase(std::string(id));
    return AlertOutcome{.badge = badge()};
}

AlertOutcome AlertPolicy::apply(AlertSettings settings) {
    settings_ = std::move(settings);
    return withdrawing([&](const AgentAlert& alert) { return !allowsAlert(alert); });
}

std::string AlertPolicy::firstLines(std::string_view text, std::size_t limit) {
    // Line feeds are found among grapheme clusters, so a CR LF pair, one character, never splits.
    const auto clusters = unicode::graphemeClusters(text);
    std::string joined;
    bool first = true;
    for (auto start = clusters.begin(); start != clusters.end();) {
        const auto end = std::find(start, clusters.end(), "\n");
        if (start != end) {
            auto from = std::find_if_not(start, end, isSpaceOrTab);
            auto to = end;
            while (to != from && isSpaceOrTab(*(to - 1))) --to;
            if (!first) joined += kLineSeparator;
            first = false;
            for (; from != to; ++from) joined += *from;
        }
        start = end == clusters.end() ? end : end + 1;
    }
    // Every character takes at least one byte, so a short text needs no counting.
    if (joined.size() <= limit || unicode::graphemeCount(joined) <= limit) return joined;
    std::string cut = unicode::prefixGraphemes(joined, limit);
    cut += kEllipsis;
    return cut;
}

bool AlertPolicy::isDuplicate(const AgentEvent& event) const {
    const auto last = lastReport_.find(event.targetID);
    if (last == lastReport_.end()) return false;
    const Report& report = last->second;
    return event.atEpochMillis < report.millis || (event.atEpochMillis == report.millis && event.kind == report.kind);
}

std::optional<AlertOutcome::Suppression> AlertPolicy::eventSuppression(const AgentEvent& event, bool isActive,
                                                                       std::int64_t now) const {
    using enum AlertOutcome::Suppression;
    if (!settings_.allows(event.kind)) return disabled;
    if (settings_.isMuted(event.targetID)) return muted;
    // The event's time comes from the agent and may lie anywhere in the 64-bit range, so the
    // cut-off is computed from "now" with saturation rather than subtracting the event's time.
    if (event.atEpochMillis < saturatingSubtract(now, staleAfter.count())) return stale;
    if (isActive) return foreground;
    return std::nullopt;
}

std::optional<AlertOutcome::Suppression> AlertPolicy::requestSuppression(const ApprovalRequest& request, bool isActive,
                                                                         std::int64_t now) const {
    using enum AlertOutcome::Suppression;
    if (outstanding_.contains(approvalID(request.id))) return duplicate;
    if (!settings_.isEnabled || !settings_.approvals) return disabled;
    if (settings_.isMuted(request.targetID)) return muted;
    if (request.isExpired(now)) return expired;
    if (isActive) return foreground;
    return std::nullopt;
}

bool AlertPolicy::allowsAlert(const AgentAlert& alert) const {
    if (!settings_.isEnabled || settings_.isMuted(alert.targetID)) return false;
    switch (alert.kind) {
        case AgentAlert::Kind::waiting: return settings_.waiting;
        case AgentAlert::Kind::failed: return settings_.failed;
        case AgentAlert::Kind::done: return settings_.done;
        case AgentAlert::Kind::approval: return settings_.approvals;
    }
    return false;
}

bool AlertPolicy::allowSound(const std::string& thread, std::int64_t now, bool respectingQuietWindow) {
    if (!settings_.playsSound) return false;
    if (respectingQuietWindow && settings_.quietSeconds > 0) {
        // Whole milliseconds, truncated; the clamp keeps the product far inside 64 bits.
        const auto quietMillis =
            static_cast<std::int64_t>(AlertSettings::clampedQuietSeconds(settings_.quietSeconds) * 1000);
        const auto last = lastSoundAt_.find(thread);
        if (last != lastSoundAt_.end() && saturatingSubtract(now, last->second) < quietMillis) return false;
    }
    if (lastAnySoundAt_ && saturatingSubtract(now, *lastAnySoundAt_) < soundGap.count()) return false;
    lastSoundAt_[thread] = now;
    lastAnySoundAt_ = now;
    return true;
}

AlertOutcome AlertPolicy::post(AgentAlert alert, std::vector<std::string> alsoWithdrawing) {
    auto& stored = outstanding_.insert_or_assign(alert.id, std::move(alert)).first->second;
    stored.badge = badge();
    return AlertOutcome{.post = stored, .withdraw = std::move(alsoWithdrawing), .badge = stored.badge};
}

AlertOutcome AlertPolicy::suppressed(AlertOutcome::Suppression why, std::vector<std::string> withdraw) const {
    return AlertOutcome{.withdraw = std::move(withdraw), .badge = badge(), .suppression = why};
}

}  // namespace quib
