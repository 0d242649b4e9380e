#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib {

// The agents' requests waiting for an answer, one yellow card each in the broker's order: what
// asks and for what, the request's detail as the agent wrote it (at most four lines, cut in the
// middle), Deny and Approve, and the seconds left. The first card's Approve is the panel's
// default. The countdown is worked out when the model is built; nothing ticks it.
class MenuApprovals {
public:
    // The most lines a card's detail takes.
    static constexpr int detailLines = 4;

    static std::vector<MenuItem> items(const MenuViewState& state);
    // "denies in N s", whatever the request does on expiry.
    static std::string countdown(const ApprovalRequest& request, std::int64_t nowEpochMillis);
};

}  // namespace quib
