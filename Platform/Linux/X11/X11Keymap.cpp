#include "Platform/Linux/X11/X11Keymap.hpp"

#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <utility>

namespace quib {
namespace {

// The keys with names of their own; letters and digits are their own keysyms.
constexpr std::array<std::pair<std::string_view, KeySym>, 37> namedKeysyms{{
    {"escape", XK_Escape},
    {"enter", XK_Return},
    {"tab", XK_Tab},
    {"space", XK_space},
    {"delete", XK_BackSpace},
    {"forwarddelete", XK_Delete},
    {"home", XK_Home},
    {"end", XK_End},
    {"pageup", XK_Prior},
    {"pagedown", XK_Next},
    {"left", XK_Left},
    {"right", XK_Right},
    {"up", XK_Up},
    {"down", XK_Down},
    {",", XK_comma},
    {".", XK_period},
    {"/", XK_slash},
    {";", XK_semicolon},
    {"'", XK_apostrophe},
    {"[", XK_bracketleft},
    {"]", XK_bracketright},
    {"\\", XK_backslash},
    {"-", XK_minus},
    {"=", XK_equal},
    {"`", XK_grave},
    {"f1", XK_F1},
    {"f2", XK_F2},
    {"f3", XK_F3},
    {"f4", XK_F4},
    {"f5", XK_F5},
    {"f6", XK_F6},
    {"f7", XK_F7},
    {"f8", XK_F8},
    {"f9", XK_F9},
    {"f10", XK_F10},
    {"f11", XK_F11},
    {"f12", XK_F12},
}};

}  // namespace

KeySym X11Keymap::keysymForKeyName(std::string_view name) {
    if (name.size() == 1 && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9'))) {
        return static_cast<KeySym>(static_cast<unsigned char>(name[0]));  // Latin-1 keysyms are the characters
    }
    const auto found = std::find_if(namedKeysyms.begin(), namedKeysyms.end(),
                                    [name](const auto& entry) { return entry.first == name; });
    return found == namedKeysyms.end() ? NoSymbol : found->second;
}

void X11Keymap::load(Display* display) {
    XDisplayKeycodes(display, &minKeycode_, &maxKeycode_);
    const int count = maxKeycode_ - minKeycode_ + 1;
    symbols_.clear();
    perKeycode_ = 0;
    loaded_ = true;
    if (count <= 0) return;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode_), count, &perKeycode_);
    if (!map) {
        perKeycode_ = 0;
        return;
    }
    symbols_.assign(map, map + static_cast<std::size_t>(count) * static_cast<std::size_t>(perKeycode_));
    XFree(map);
}

KeySym X11Keymap::at(int keycode, int level) const {
    if (level >= perKeycode_) return NoSymbol;
    return symbols_[static_cast<std::size_t>((keycode - minKeycode_) * perKeycode_ + level)];
}

// Level 1 anywhere beats level 2; among equals the lowest keycode wins. Other groups and
// levels need modifiers the host does not press.
std::optional<X11Keymap::Stroke> X11Keymap::find(Display* display, KeySym keysym) {
    if (!loaded_) load(display);
    if (keysym == NoSymbol || symbols_.empty()) return std::nullopt;
    for (int level = 0; level < 2; ++level) {
        for (int keycode = minKeycode_; keycode <= maxKeycode_; ++keycode) {
            if (at(keycode, level) == keysym) return Stroke{static_cast<KeyCode>(keycode), level == 1};
        }
    }
    return std::nullopt;
}

// The highest free keycode, far from the keys a keyboard really has.
std::optional<KeyCode> X11Keymap::spareKeycode(Display* display) {
    if (!loaded_) load(display);
    if (symbols_.empty()) return std::nullopt;
    for (int keycode = maxKeycode_; keycode >= minKeycode_; --keycode) {
        bool empty = true;
        for (int level = 0; level < perKeycode_ && empty; ++level) empty = at(keycode, level) == NoSymbol;
        if (empty) return static_cast<KeyCode>(keycode);
    }
    return std::nullopt;
}

void X11Keymap::bind(Display* display, KeyCode keycode, KeySym keysym) {
    KeySym both[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, keycode, 2, both, 1);
    loaded_ = false;
}

void X11Keymap::unbind(Display* display, KeyCode keycode) {
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(display, keycode, 1, &none, 1);
    loaded_ = false;
}

}  // namespace quib
