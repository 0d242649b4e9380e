#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Tmux/Tmux.hpp"
#include "QuibHost/Panel/MenuViewModel.hpp"
#include "Runtime/HostWords.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// A running app the "Pick a running app" picker offers: its entry's name and its identifier.
struct RunningAppChoice {
    std::string name;
    std::string bundleID;
    bool operator==(const RunningAppChoice&) const = default;
};

// What the target editor shows: one target's fields in three grouped sections, with the lists
// of running apps and tmux panes its pickers offer.
//
// Each control is an item named by its label (fields, pickers, values) or its text (buttons,
// toggles); a picker's rows follow it as `choice` items tagged (`key`) with the value choosing
// them stores. A section's header, when it has one, is its first item, a `headline` text.
struct TargetEditorModel {
    // The form's fixed texts.
    static constexpr std::string_view name = "Name";
    static constexpr std::string_view symbol = HostWords::symbolField;
    static constexpr std::string_view symbolHelp = "Any symbol name the phone knows, e.g. sparkle, terminal, brain";
    static constexpr std::string_view delivery = "Delivery";
    static constexpr std::string_view applicationHeader = "Application";
    static constexpr std::string_view bundleIdentifier = HostWords::appIDField;
    static constexpr std::string_view runningApp = "Pick a running app";
    static constexpr std::string_view chooseApp = "Choose an app…";
    static constexpr std::string_view buttons = "Buttons";
    static constexpr std::string_view buttonsHelp =
        said<"Chosen from the app's ", HostWords::appID, ", and pinnable per target from the phone.">;
    static constexpr std::string_view tmuxHeader = "tmux";
    static constexpr std::string_view pane = "Pane";
    static constexpr std::string_view paneID = "Pane id";
    static constexpr std::string_view refreshPanes = "Refresh panes";
    static constexpr std::string_view tmuxMissing = "tmux not found in /opt/homebrew/bin, /usr/local/bin or /usr/bin.";
    static constexpr std::string_view frontmostNote =
        "Text is pasted into whatever already has keyboard focus. Useful as a catch-all button.";
    static constexpr std::string_view allowReturn = "Allow pressing Return";
    static constexpr std::string_view allowReturnHelp =
        "Off for a pane sitting at a shell prompt: text still arrives, but nothing submits it";
    static constexpr std::string_view pressReturn = "Press Return after sending";
    // The picker row that stores the empty text, and what "Pane id" shows for no pane.
    static constexpr std::string_view none = "—";
    static constexpr std::string_view notRunning = " (not running)";

    // The "Delivery" rows, in order, each with the kind it stores.
    struct KindRow {
        std::string_view text;
        QuibTarget::Kind kind;
    };
    static constexpr std::array<KindRow, 3> kindRows{{
        {"Raise app, then paste", QuibTarget::Kind::app},
        {"tmux send-keys", QuibTarget::Kind::tmux},
        {"Whatever is focused", QuibTarget::Kind::frontmost},
    }};

    // What the model is made from.
    struct Input {
        QuibTarget target;
        std::vector<RunningAppChoice> runningApps;
        std::vector<Tmux::Pane> tmuxPanes;
        bool tmuxAvailable = false;
    };

    // The sections in order: the target's name, symbol and kind; the kind's own controls; the
    // Return switches. The control tool names them editor1 to editor3.
    std::array<std::vector<MenuItem>, 3> sections;

    static TargetEditorModel build(const Input& input);

    // The first item of this kind labelled (fields, pickers, values) or titled (buttons,
    // toggles) so, in any section; null when it is not shown.
    const MenuItem* control(MenuItemKind kind, std::string_view labelOrText) const;
    // The rows of the picker so labelled, in order; empty when it is not shown.
    std::vector<MenuItem> rows(std::string_view picker) const;
    // Its dump: one line per item, as the panel's (MenuDump), then "end".
    std::vector<std::string> lines() const;

    bool operator==(const TargetEditorModel&) const = default;
};

}  // namespace quib
