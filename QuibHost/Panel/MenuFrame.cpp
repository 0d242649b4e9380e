#include "QuibHost/Panel/MenuFrame.hpp"

#include "QuibHost/Panel/MenuApprovals.hpp"
#include "QuibHost/Panel/MenuAway.hpp"
#include "QuibHost/Panel/MenuBanners.hpp"
#include "QuibHost/Panel/MenuControls.hpp"
#include "QuibHost/Panel/MenuDevices.hpp"
#include "QuibHost/Panel/MenuHeader.hpp"
#include "QuibHost/Panel/MenuPairing.hpp"
#include "QuibHost/Panel/MenuTarget.hpp"

namespace quib {
namespace {

bool always(const MenuViewState&) { return true; }

}  // namespace

// The first divider follows the approvals when they show, else the pairing section: none
// separates the header from the banners.
const std::array<MenuSlot, 9>& MenuFrame::slots() {
    static const std::array<MenuSlot, 9> frame{{
        {MenuSection::header, always, false},
        {MenuSection::accessibilityBanner, [](const MenuViewState& s) { return !s.accessibilityGranted; }, false},
        {MenuSection::screenRecordingBanner, [](const MenuViewState& s) { return !s.screenRecordingGranted; }, false},
        {MenuSection::approvals, [](const MenuViewState& s) { return !s.pendingApprovals.empty(); }, true},
        {MenuSection::pairing, always, true},
        {MenuSection::away, always, true},
        {MenuSection::devices, always, true},
        {MenuSection::target, always, true},
        {MenuSection::controls, always, false},
    }};
    return frame;
}

std::vector<MenuItem> MenuFrame::section(MenuSection section, const MenuViewState& state) {
    switch (section) {
        case MenuSection::header: return MenuHeader::items(state);
        case MenuSection::accessibilityBanner: return MenuBanners::accessibility();
        case MenuSection::screenRecordingBanner: return MenuBanners::screenRecording();
        case MenuSection::approvals: return MenuApprovals::items(state);
        case MenuSection::pairing: return MenuPairing::items(state);
        case MenuSection::away: return MenuAway::items(state);
        case MenuSection::devices: return MenuDevices::items(state);
        case MenuSection::target: return MenuTarget::items(state);
        case MenuSection::controls: return MenuControls::items(state);
    }
    return {};
}

MenuViewModel buildMenuView(const MenuViewState& state) { return buildMenuView(state, MenuFrame::section); }

MenuViewModel buildMenuView(const MenuViewState& state, const MenuSectionBuilder& sections) {
    MenuViewModel model;
    model.title = std::string(MenuHeader::productName);
    model.menuBarSymbol =
        std::string(state.connectedDevices.empty() ? MenuSymbol::pointer : MenuSymbol::pointerWithClock);
    for (const auto& slot : MenuFrame::slots()) {
        if (!slot.shown(state)) continue;
        auto items = sections(slot.section, state);
        if (items.empty()) continue;
        model.sections.push_back({slot.section, std::move(items), slot.dividerAfter});
    }
    return model;
}

}  // namespace quib
