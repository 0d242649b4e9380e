#include "QuibHost/Panel/MenuControls.hpp"

#include "QuibHost/Panel/LoginItem.hpp"
#include "Runtime/HostWords.hpp"

namespace quib {
namespace {

MenuItem toggle(std::string text, std::string help, bool on, MenuAction action) {
    return {.kind = MenuItemKind::toggle,
            .text = std::move(text),
            .font = TextStyle::caption,
            .help = std::move(help),
            .action = std::move(action),
            .on = on,
            .small = true};
}

MenuItem plainButton(std::string text, std::string help, MenuAction action, Placement place = Placement::line) {
    return {.kind = MenuItemKind::button,
            .text = std::move(text),
            .help = std::move(help),
            .action = std::move(action),
            .place = place,
            .borderless = true,
            .small = true};
}

void appendLoginItem(std::vector<MenuItem>& items, const MenuViewState& state) {
    if (!state.loginItemOffered) {
        items.push_back({.kind = MenuItemKind::markdown,
                         .text = MenuControls::installHint(),
                         .font = TextStyle::caption2,
                         .tone = Tone::secondary});
        return;
    }
    items.push_back(
        toggle("Launch at login", "", state.launchAtLogin, MenuControl::SetLaunchAtLogin{!state.launchAtLogin}));
    if (state.loginItemError)
        items.push_back({.kind = MenuItemKind::text,
                         .text = *state.loginItemError,
                         .font = TextStyle::caption2,
                         .tone = Tone::orange});
}

}  // namespace

std::string MenuControls::installHint() {
    return "Run `make install-host` to install to " + LoginItem::installPrefix().string() +
           " and enable launch at login.";
}

std::vector<MenuItem> MenuControls::items(const MenuViewState& state) {
    std::vector<MenuItem> items{
        toggle("Pause injection", "Stay connected but stop moving the cursor and typing", state.injectionPaused,
               MenuControl::SetInjectionPaused{!state.injectionPaused}),
        toggle("Let phones listen",
               std::string(said<"Send ", HostWords::thisComputer, "'s audio to an approved phone when it asks for it">),
               state.audioAllowed, MenuControl::SetAudioAllowed{!state.audioAllowed}),
    };
    appendLoginItem(items, state);
    items.push_back(plainButton("Reveal delivery log…",
                                "Every delivery, with a timestamp and a character count — never the text",
                                MenuControl::RevealDeliveryLog{}));
    items.push_back(plainButton("Reveal image inbox…",
                                "Images sent from the phone. They are kept because the agent is sent their paths — a "
                                "week, or 512 MB, whichever comes first",
                                MenuControl::RevealImageInbox{}));
    auto settings = plainButton("Settings…", "", MenuControl::OpenSettings{});
    settings.small = false;
    auto quit = plainButton("Quit", "", MenuControl::Quit{}, Placement::end);
    quit.small = false;
    items.push_back(std::move(settings));
    items.push_back(std::move(quit));
    return items;
}

}  // namespace quib
