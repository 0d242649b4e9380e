#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Shared/AgentAlert.hpp"
#include "Shared/Json.hpp"

namespace quib {

// What a phone's alert policy decided: the alert to post (already carrying its badge), the
// alerts the phone should take back, the badge after the decision, and why nothing was posted
// when that was a refusal rather than the nature of the operation.
struct AlertOutcome {
    enum class Suppression {
        duplicate,   // the same report or request was already handled
        stale,       // the event is too old
        foreground,  // the phone is showing this already
        disabled,    // the settings turn this kind off
        muted,       // the target is muted
        expired,     // the request has already expired
    };

    std::optional<AgentAlert> post{};
    std::vector<std::string> withdraw{};  // alert ids, ascending unless an operation says otherwise
    std::int64_t badge = 0;               // alerts outstanding for the phone afterwards
    std::optional<Suppression> suppression{};

    bool operator==(const AlertOutcome&) const = default;
};

template <>
struct EnumNames<AlertOutcome::Suppression> {
    static constexpr std::array<std::pair<AlertOutcome::Suppression, std::string_view>, 6> table{{
        {AlertOutcome::Suppression::duplicate, "duplicate"},
        {AlertOutcome::Suppression::stale, "stale"},
        {AlertOutcome::Suppression::foreground, "foreground"},
        {AlertOutcome::Suppression::disabled, "disabled"},
        {AlertOutcome::Suppression::muted, "muted"},
        {AlertOutcome::Suppression::expired, "expired"},
    }};
};

}  // namespace quib
