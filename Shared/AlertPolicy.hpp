#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Shared/AgentAlert.hpp"
#include "Shared/AgentEvent.hpp"
#include "Shared/AlertOutcome.hpp"
#include "Shared/AlertSettings.hpp"
#include "Shared/ApprovalRequest.hpp"

namespace quib {

// Decides, for one phone, which agent events and approval requests become alerts, whether they
// sound, which earlier alerts they replace or take back, and what the badge shows.
//
// A plain value: no clock, threads or I/O. Every decision takes "now" in epoch milliseconds and
// returns an AlertOutcome for the caller to deliver. The host keeps one per subscribed phone; a
// phone keeps its own copy with the same operations.
class AlertPolicy {
public:
    // An event older than this is not alerted about.
    static constexpr std::chrono::milliseconds staleAfter{300'000};
    // No two sounding alerts come closer together than this, whatever their threads.
    static constexpr std::chrono::milliseconds soundGap{3'000};

    // Every event alert of one target shares one id, so a newer one replaces the older.
    static std::string eventID(std::string_view targetID);
    static std::string approvalID(std::string_view requestID);
    // "target." + the target id; "target.unknown" without one.
    static std::string threadID(const std::optional<std::string>& targetID);

    explicit AlertPolicy(AlertSettings settings);

    // An agent event. `targetName` is the target's display name; `isActive` says whether the
    // phone is showing that target right now.
    AlertOutcome receive(const AgentEvent& event, std::string_view targetName, bool isActive, std::int64_t now);
    // A new approval request.
    AlertOutcome receive(const ApprovalRequest& request, bool isActive, std::int64_t now);

    // The request has ended: its alert goes.
    AlertOutcome resolved(std::string_view approvalID);
    // Keeps only the approval alerts of these request ids; alerts of no request stay.
    AlertOutcome retainApprovals(const std::set<std::string>& requestIDs);
    // Keeps only the approval alerts of the requests in `pending` that have not expired at `now`.
    AlertOutcome expireApprovals(const std::vector<ApprovalRequest>& pending, std::int64_t now);
    // The user opened the app: every alert goes; what was heard and sounded is remembered.
    AlertOutcome opened();
    // Forgets everything: alerts, the reports seen and the sound clocks.
    AlertOutcome reset();
    // Forgets one alert without asking the phone to take it back.
    AlertOutcome undo(std::string_view id);
    // New settings; the alerts they no longer allow go.
    AlertOutcome apply(AlertSettings settings);

    // The one-line form of a text: its non-empty lines, each trimmed of spaces and tabs, joined
    // with " · " and cut to `limit` characters (grapheme clusters) followed by "…".
    static std::string firstLines(std::string_view text, std::size_t limit);

    const AlertSettings& settings() const { return settings_; }
    // Alerts posted and not yet withdrawn, by id.
    const std::map<std::string, AgentAlert>& outstanding() const { return outstanding_; }
    std::int64_t badge() const { return static_cast<std::int64_t>(outstanding_.size()); }

private:
    // The newest event accepted for a target, kept even when it was then suppressed.
    struct Report {
        std::int64_t millis;
        AgentEvent::Kind kind;
    };

    bool isDuplicate(const AgentEvent& event) const;
    std::optional<AlertOutcome::Suppression> eventSuppression(const AgentEvent& event, bool isActive,
                                                              std::int64_t now) const;
    std::optional<AlertOutcome::Suppression> requestSuppression(const ApprovalRequest& request, bool isActive,
                                                                std::int64_t now) const;
    bool allowsAlert(const AgentAlert& alert) const;
    bool allowSound(const std::string& thread, std::int64_t now, bool respectingQuietWindow);
    AlertOutcome post(AgentAlert alert, std::vector<std::string> alsoWithdrawing);
    AlertOutcome suppressed(AlertOutcome::Suppression why, std::vector<std::string> withdraw) const;

    // Removes the outstanding alerts that match and returns their ids in ascending order.
    template <class Predicate>
    std::vector<std::string> drop(Predicate where);
    // drop(where:) as an outcome that withdraws what went.
    template <class Predicate>
    AlertOutcome withdrawing(Predicate where);

    AlertSettings settings_;
    std::map<std::string, AgentAlert> outstanding_;
    std::map<std::string, Report> lastReport_;         // by target id
    std::map<std::string, std::int64_t> lastSoundAt_;  // by thread id
    std::optional<std::int64_t> lastAnySoundAt_;
};

}  // namespace quib
