#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Shared/ApprovalDecision.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/ApprovalResolution.hpp"

namespace quib {

// The approval requests waiting for an answer, in arrival order, and the rules by which each one
// ends. Pure bookkeeping: every operation is told the time (epoch milliseconds) and returns what
// happened; it has no clock, no threads and no effects of its own.
//
// At most `maxPending` requests wait, and no two share an id. A request waits from a successful
// `add` until exactly one of `resolve`, `withdraw` or `expire` ends it, each giving its one
// resolution; a request refused at `add` never waits.
class ApprovalLedger {
public:
    static constexpr std::size_t maxPending = 8;

    struct AddOutcome {
        enum class Kind { added, duplicate, refused };
        Kind kind = Kind::added;
        std::optional<ApprovalResolution> resolution;  // set for `refused` only

        static AddOutcome added() { return {Kind::added, std::nullopt}; }
        static AddOutcome duplicate() { return {Kind::duplicate, std::nullopt}; }
        static AddOutcome refused(ApprovalResolution resolution) { return {Kind::refused, std::move(resolution)}; }
        bool operator==(const AddOutcome&) const = default;
    };

    // In this order: an id already waiting is a duplicate (even when the ledger is full or the
    // request has expired); a request expired at `now` is refused with its own fallback
    // decision; a full ledger refuses with `deny`; otherwise the request waits at the end.
    AddOutcome add(ApprovalRequest request, std::int64_t now);
    // Ends the request with that id with the answer given, or, when the answer comes at or after
    // its expiry, with its fallback decision as expired. The reason becomes the note, trimmed of
    // white space at both ends; nothing left means no note. None when no such request waits.
    std::optional<ApprovalResolution> resolve(const std::string& id, ApprovalDecision decision,
                                              const std::optional<std::string>& reason,
                                              const std::optional<std::string>& by, std::int64_t now);
    // Ends the waiting requests among `ids` as withdrawn, in their order; others are ignored.
    std::vector<ApprovalResolution> withdraw(const std::set<std::string>& ids, std::int64_t now);
    // Ends every request whose expiry is `now` or earlier, in their order.
    std::vector<ApprovalResolution> expire(std::int64_t now);

    // The earliest expiry among the waiting requests; none when nothing waits.
    std::optional<std::int64_t> nextExpiry() const;
    std::optional<ApprovalRequest> request(const std::string& id) const;
    const std::vector<ApprovalRequest>& pending() const { return pending_; }

private:
    // Removes the waiting requests that `ends` picks and gives each one's resolution, made by
    // `resolution`, in their order.
    template <class Ends, class Resolution>
    std::vector<ApprovalResolution> end(Ends ends, Resolution resolution);

    std::vector<ApprovalRequest> pending_;
};

}  // namespace quib
