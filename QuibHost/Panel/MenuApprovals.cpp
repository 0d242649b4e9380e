#include "QuibHost/Panel/MenuApprovals.hpp"

namespace quib {
namespace {

void appendCard(std::vector<MenuItem>& items, const ApprovalRequest& request, std::int64_t now, bool first) {
    const auto answer = [&](ApprovalDecision decision) {
        return MenuAction(MenuControl::AnswerRequest{request.id, decision});
    };
    items.push_back({.kind = MenuItemKind::text,
                     .text = request.targetName + " — " + request.title,
                     .font = TextStyle::captionBold,
                     .lines = 2,
                     .key = request.id,
                     .fill = Fill::card});
    items.push_back({.kind = MenuItemKind::code,
                     .text = request.detail,
                     .font = TextStyle::monospaced11,
                     .tone = Tone::secondary,
                     .lines = MenuApprovals::detailLines,
                     .key = request.id,
                     .fill = Fill::card});
    items.push_back({.kind = MenuItemKind::button,
                     .text = "Deny",
                     .action = answer(ApprovalDecision::deny),
                     .key = request.id,
                     .fill = Fill::card,
                     .small = true});
    items.push_back({.kind = MenuItemKind::button,
                     .text = "Approve",
                     .action = answer(ApprovalDecision::approve),
                     .isDefault = first,
                     .key = request.id,
                     .place = Placement::beside,
                     .fill = Fill::card,
                     .small = true});
    items.push_back({.kind = MenuItemKind::text,
                     .text = MenuApprovals::countdown(request, now),
                     .font = TextStyle::caption2,
                     .tone = Tone::secondary,
                     .key = request.id,
                     .place = Placement::end,
                     .fill = Fill::card});
}

}  // namespace

std::vector<MenuItem> MenuApprovals::items(const MenuViewState& state) {
    if (state.pendingApprovals.empty()) return {};
    std::vector<MenuItem> items{sectionTitle("WAITING ON YOU")};
    bool first = true;
    for (const auto& request : state.pendingApprovals) {
        appendCard(items, request, state.nowEpochMillis, first);
        first = false;
    }
    return items;
}

// Says what the request's expiry will do: a request that is approved on expiry approves.
std::string MenuApprovals::countdown(const ApprovalRequest& request, std::int64_t nowEpochMillis) {
    const char* verb = request.onExpiry == ApprovalDecision::approve ? "approves in " : "denies in ";
    return verb + std::to_string(request.secondsRemaining(nowEpochMillis)) + " s";
}

}  // namespace quib
