#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <string_view>
#include <variant>

#include "Runtime/SettingKey.hpp"
#include "Runtime/SettingRow.hpp"

namespace quib {

// The STUN servers asked for the public address when the settings name none.
inline constexpr std::string_view builtInStunServers[] = {"stun.cloudflare.com:3478", "stun.l.google.com:19302"};

// Every setting of the user defaults, one row each. A reader names its key as `setting<"KEY">`,
// which fails to compile for a key that has no row here, and reads it with `Settings::get`, so a
// new setting is one more row. The README's list of settings shows this table.
inline constexpr SettingRow settingsTable[] = {
    {.key = "quib.port",
     .about = "the port phones connect to",
     .rule = SettingRow::Whole{1025, 65535, 61413},
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.awayPort",
     .about = "the port of the away listener",
     .rule = SettingRow::Whole{1025, 65535, 61423},
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.serviceName",
     .about = "the name phones see",
     .rule = SettingRow::Text{},
     .ruleWords = "must hold more than spaces and tabs",
     .fallbackWords = "the computer's pretty name, else its host name"},
    {.key = "quib.pairingCode.v1",
     .about = "the pairing code",
     .rule = SettingRow::Text{},
     .ruleWords = "must be a valid pairing code",
     .fallbackWords = "a new code, which is stored"},
    {.key = "quib.devices.approved.v1",
     .about = "the approved devices",
     .rule = SettingRow::Record{},
     .ruleWords = "must decode as a device list",
     .fallbackWords = "none",
     .ignored = "Stored device list {key} was unreadable ({why}); kept it as {aside} and started with an empty list"},
    {.key = "quib.devices.revoked.v1",
     .about = "the revoked devices",
     .rule = SettingRow::Record{},
     .ruleWords = "must decode as a device list",
     .fallbackWords = "none",
     .ignored = "Stored device list {key} was unreadable ({why}); kept it as {aside} and started with an empty list"},
    {.key = "quib.targets.v1",
     .about = "the saved targets",
     .rule = SettingRow::Record{},
     .ruleWords = "must decode as a list of targets",
     .fallbackWords = "targets seeded afresh",
     .ignored = "saved targets did not decode ({why}); raw JSON copied to {aside} before reseeding"},
    {.key = "quib.activeTarget.v1",
     .about = "the active target's id",
     .rule = SettingRow::Text{},
     .ruleWords = "any text, kept even when no target has it",
     .fallbackWords = "the first target"},
    {.key = "quib.seededPanes.v1",
     .about = "panes were seeded once with tmux there",
     .rule = SettingRow::Mark{},
     .ruleWords = "true, else read as false",
     .fallbackWords = "false"},
    {.key = "quib.away.enabled",
     .about = "away access",
     .rule = SettingRow::Flag{false},
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.stunServers",
     .about = "the STUN servers asked for the public address",
     .rule = SettingRow::TextList{builtInStunServers},
     .ruleWords = "must be a list of \"host:port\" texts",
     .fallbackWords = "the built-in servers",
     .ignored = "{key} ignored: {rule}; using {fallback}"},
    {.key = "quib.push.relay",
     .about = "the push relay's URL",
     .rule = SettingRow::Text{},
     .ruleWords = "must be an http or https URL",
     .fallbackWords = "no pushes",
     .ignored = "push: {key} is ignored: {value} is not an http or https URL, so no alert is pushed"},
    {.key = "quib.push.secret",
     .about = "the push relay's bearer secret",
     .rule = SettingRow::Text{},
     .ruleWords = "any text",
     .fallbackWords = "none"},
    {.key = "quib.log.showPrivate",
     .about = "the journal shows private values",
     .rule = SettingRow::Flag{false},
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.listen.allowed",
     .about = "phones may listen to the computer",
     .rule = SettingRow::Flag{true},
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.listenBitrate",
     .about = "the audio's bit rate, in bits a second",
     .rule = SettingRow::Whole{32000, 320000, 96000},
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.maxEncodedSide",
     .about = "the longest side of encoded video, in pixels",
     .rule = SettingRow::Real{[](double side) { return side >= 640; }, 2560},
     .ruleWords = "must be a number from 640 up",
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.viewerAllowance",
     .about = "how long viewers see a new capture before phones point into it",
     .rule = SettingRow::Real{[](double seconds) { return seconds > 0 && seconds < 2; }, 0.12},
     .ruleWords = "must be a number of seconds above 0 and below 2",
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.windowCornerRadius",
     .about = "the corner radius of mirrored windows, in points",
     .rule = SettingRow::Real{[](double radius) { return radius > 0 && radius < 40; },
                              std::numeric_limits<double>::quiet_NaN()},
     .ruleWords = "must be a number above 0 and below 40",
     .fallbackWords = "the desktop's radius",
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.followPointer",
     .about = "the pointer moves onto a raised window",
     .rule = SettingRow::Flag{true},
     .ignored = SettingRow::usualIgnored},
    {.key = "quib.instrument",
     .about = "timing samples of the hot paths are logged",
     .rule = SettingRow::Flag{false},
     .ignored = SettingRow::usualIgnored},
};

// A key as a template argument: `setting<"quib.port">`.
template <std::size_t Size>
struct SettingName {
    char text[Size];
    consteval SettingName(const char (&name)[Size]) { std::copy_n(name, Size, text); }
    constexpr std::string_view view() const { return {text, Size - 1}; }
};

// Where `Name`'s row is; a key without a row does not compile.
template <SettingName Name>
consteval std::size_t settingRowIndex() {
    const auto found = std::ranges::find(settingsTable, Name.view(), &SettingRow::key);
    if (found == std::end(settingsTable)) throw "no row of the settings table has this key";
    return static_cast<std::size_t>(found - std::begin(settingsTable));
}

// The typed key of `Name`'s row.
template <SettingName Name>
inline constexpr auto setting =
    SettingKey<std::variant_alternative_t<settingsTable[settingRowIndex<Name>()].rule.index(), SettingRow::Rule>>(
        settingsTable[settingRowIndex<Name>()]);

}  // namespace quib
