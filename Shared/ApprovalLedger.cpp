#include "Shared/ApprovalLedger.hpp"

#include <algorithm>

#include "Runtime/HostWords.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {

namespace {

using Reason = ApprovalResolution::Reason;

ApprovalResolution resolution(const std::string& id, ApprovalDecision decision, Reason reason,
                              std::optional<std::string> by, std::int64_t now, std::optional<std::string> note) {
    return ApprovalResolution{id, decision, reason, std::move(by), now, std::move(note)};
}

std::optional<std::string> trimmedNote(const std::optional<std::string>& reason) {
    if (!reason) return std::nullopt;
    const std::string_view trimmed = unicode::trimWhiteSpace(*reason);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

}  // namespace

ApprovalLedger::AddOutcome ApprovalLedger::add(ApprovalRequest request, std::int64_t now) {
    if (this->request(request.id)) return AddOutcome::duplicate();
    if (request.isExpired(now)) {
        return AddOutcome::refused(resolution(request.id, request.onExpiry, Reason::expired, std::nullopt, now,
                                              std::string(said<"Expired before it reached ", HostWords::theComputer>)));
    }
    if (pending_.size() < maxPending) {
        pending_.push_back(std::move(request));
        return AddOutcome::added();
    }
    return AddOutcome::refused(resolution(request.id, ApprovalDecision::deny, Reason::refused, std::nullopt, now,
                                          std::to_string(maxPending) + " requests are already waiting"));
}

std::optional<ApprovalResolution> ApprovalLedger::resolve(const std::string& id, ApprovalDecision decision,
                                                          const std::optional<std::string>& reason,
                                                          const std::optional<std::string>& by, std::int64_t now) {
    const auto found = std::find_if(pending_.begin(), pending_.end(), [&](const auto& r) { return r.id == id; });
    if (found == pending_.end()) return std::nullopt;
    const ApprovalRequest request = std::move(*found);
    pending_.erase(found);
    if (request.isExpired(now)) {
        return resolution(id, request.onExpiry, Reason::expired, by, now, "The answer arrived after it expired");
    }
    return resolution(id, decision, Reason::answered, by, now, trimmedNote(reason));
}

template <class Ends, class Resolution>
std::vector<ApprovalResolution> ApprovalLedger::end(Ends ends, Resolution resolution) {
    std::vector<ApprovalResolution> ended;
    std::vector<ApprovalRequest> kept;
    for (auto& request : pending_) {
        if (ends(request)) ended.push_back(resolution(request));
        else kept.push_back(std::move(request));
    }
    pending_ = std::move(kept);
    return ended;
}

std::vector<ApprovalResolution> ApprovalLedger::withdraw(const std::set<std::string>& ids, std::int64_t now) {
    return end([&](const ApprovalRequest& request) { return ids.contains(request.id); },
               [&](const ApprovalRequest& request) {
                   return resolution(request.id, request.onExpiry, Reason::withdrawn, std::nullopt, now,
                                     "The agent that asked is gone");
               });
}

std::vector<ApprovalResolution> ApprovalLedger::expire(std::int64_t now) {
    return end([&](const ApprovalRequest& request) { return request.isExpired(now); },
               [&](const ApprovalRequest& request) {
                   return resolution(request.id, request.onExpiry, Reason::expired, std::nullopt, now,
                                     "Nobody answered in time");
               });
}

std::optional<std::int64_t> ApprovalLedger::nextExpiry() const {
    if (pending_.empty()) return std::nullopt;
    return std::min_element(
               pending_.begin(), pending_.end(),
               [](const auto& a, const auto& b) { return a.expiresAtEpochMillis < b.expiresAtEpochMillis; })
        ->expiresAtEpochMillis;
}

std::optional<ApprovalRequest> ApprovalLedger::request(const std::string& id) const {
    const auto found = std::find_if(pending_.begin(), pending_.end(), [&](const auto& r) { return r.id == id; });
    if (found == pending_.end()) return std::nullopt;
    return *found;
}

}  // namespace quib
