// Key chords typed on the shared test display, as a focused window receives them.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "Platform/Linux/X11/X11Keymap.hpp"
#include "Tests/Platform/Linux/X11/X11DesktopFixture.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

constexpr unsigned int modifierMask = ShiftMask | ControlMask | Mod1Mask;

class X11EventPosterKeys : public X11DesktopTest {
protected:
    // Types `chord` into the probe, which must receive `keys` presses and releases (the
    // modifiers, then the key); the press of the key itself, as the probe read it.
    ProbeWindow::Event type(const KeyChord& chord, std::size_t keys) {
        const auto outcome = injector->postKey(chord, "the probe");
        EXPECT_TRUE(outcome.ok) << outcome.message;
        const auto presses = probe->waitForType(KeyPress, keys);
        EXPECT_EQ(presses.size(), keys);
        EXPECT_EQ(probe->waitForType(KeyRelease, keys).size(), keys);
        EXPECT_EQ(queryPointer().mask & modifierMask, 0u) << "a modifier stayed down";
        return presses.empty() ? ProbeWindow::Event{} : presses.back();
    }
};

// The keyboard map as the server has it: every keysym of every keycode.
std::vector<KeySym> keyboardMap(X11Connection& connection) {
    std::vector<KeySym> map;
    connection.use([&](Display* display) {
        int min = 0, max = 0, per = 0;
        XDisplayKeycodes(display, &min, &max);
        KeySym* symbols = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &per);
        map.assign(symbols, symbols + (max - min + 1) * per);
        XFree(symbols);
    });
    return map;
}

// Gives one keycode other keysyms for the length of a test, then puts its own back.
class RemappedKey {
public:
    RemappedKey(std::shared_ptr<X11Connection> connection, KeySym original, std::vector<KeySym> replacement)
        : connection_(std::move(connection)) {
        connection_->use([&](Display* display) {
            keycode_ = XKeysymToKeycode(display, original);
            int per = 0;
            KeySym* symbols = XGetKeyboardMapping(display, keycode_, 1, &per);
            saved_.assign(symbols, symbols + per);
            XFree(symbols);
            if (replacement.empty()) replacement.push_back(NoSymbol);
            XChangeKeyboardMapping(display, keycode_, static_cast<int>(replacement.size()), replacement.data(), 1);
            XSync(display, False);
        });
    }
    ~RemappedKey() {
        connection_->use([&](Display* display) {
            XChangeKeyboardMapping(display, keycode_, static_cast<int>(saved_.size()), saved_.data(), 1);
            XSync(display, False);
        });
    }
    KeyCode keycode() const { return keycode_; }

private:
    std::shared_ptr<X11Connection> connection_;
    KeyCode keycode_ = 0;
    std::vector<KeySym> saved_;
};

TEST_F(X11EventPosterKeys, EveryKeyOfTheKeyTableHasAKeycodeOnTheLiveMap) {
    X11Keymap keymap;
    ASSERT_EQ(KeyChord::keyCodes().size(), 73u);
    control->use([&](Display* display) {
        for (const auto& [name, code] : KeyChord::keyCodes()) {
            const KeySym keysym = X11Keymap::keysymForKeyName(name);
            EXPECT_NE(keysym, static_cast<KeySym>(NoSymbol)) << name;
            EXPECT_TRUE(keymap.find(display, keysym)) << name;
        }
    });
    EXPECT_EQ(X11Keymap::keysymForKeyName("F1"), static_cast<KeySym>(NoSymbol));
}

TEST_F(X11EventPosterKeys, ControlShiftATypesCapitalAWithBothModifiersThenLetsGoOfThem) {
    openDesktop();
    openProbe();
    const auto key = type(KeyChord("a", true, false, true), 3);
    EXPECT_EQ(key.keysym, static_cast<KeySym>(XK_A));
    EXPECT_EQ(key.state & modifierMask, static_cast<unsigned int>(ControlMask | ShiftMask));
}

TEST_F(X11EventPosterKeys, CommandCIsControlCInAPlainWindow) {
    openDesktop();
    openProbe();
    const auto key = type(KeyChord("c", false, false, false, true), 2);
    EXPECT_EQ(key.keysym, static_cast<KeySym>(XK_c));
    EXPECT_EQ(key.state & modifierMask, static_cast<unsigned int>(ControlMask));
}

TEST_F(X11EventPosterKeys, CommandAndControlTogetherPressControlOnce) {
    openDesktop();
    openProbe();
    const auto key = type(KeyChord("k", true, true, false, true), 3);  // Control, Alt, the key
    EXPECT_EQ(key.keysym, static_cast<KeySym>(XK_k));
    EXPECT_EQ(key.state & modifierMask, static_cast<unsigned int>(ControlMask | Mod1Mask));
}

TEST_F(X11EventPosterKeys, CommandCIsControlShiftCInATerminal) {
    ScratchFolder apps("quib-terminal");
    std::ofstream(apps.path / "quib-probe-term.desktop") << "[Desktop Entry]\nType=Application\nName=Probe Terminal\n"
                                                            "Exec=quib-probe-term\nStartupWMClass=QuibProbeTerm\n"
                                                            "Categories=System;TerminalEmulator;\n";
    openDesktop(std::make_shared<DesktopEntries>(std::vector{apps.path}));
    openProbe({.instance = "quib-probe-term", .className = "QuibProbeTerm"});
    const auto key = type(KeyChord("c", false, false, false, true), 3);
    EXPECT_EQ(key.keysym, static_cast<KeySym>(XK_C));
    EXPECT_EQ(key.state & modifierMask, static_cast<unsigned int>(ControlMask | ShiftMask));
}

// The map is read again after another client changed it: the key then goes through a spare
// keycode, bound only for the press.
TEST_F(X11EventPosterKeys, TypesAKeysymMissingFromTheMapThroughASpareKeycodeAndRestoresTheMap) {
    openDesktop();
    openProbe();
    type(KeyChord("a"), 1);
    probe->clear();
    RemappedKey removed(control, XK_grave, {});
    const auto before = keyboardMap(*control);

    const unsigned int spare = type(KeyChord("`"), 1).keycode;
    EXPECT_EQ(keyboardMap(*control), before);
    EXPECT_NE(spare, removed.keycode());
    const auto events = probe->events();
    const auto bound = std::find_if(events.begin(), events.end(), [&](const ProbeWindow::Event& event) {
        return event.type == MappingNotify && event.keycode <= spare && spare < event.keycode + event.count;
    });
    EXPECT_NE(bound, events.end()) << "the spare keycode was not bound before the press";
}

TEST_F(X11EventPosterKeys, HoldsShiftForAKeysymAtTheSecondLevelOnly) {
    RemappedKey shifted(control, XK_grave, {XK_asciitilde, XK_grave});
    openDesktop();
    openProbe();
    const auto key = type(KeyChord("`"), 2);
    EXPECT_EQ(key.keycode, shifted.keycode());
    EXPECT_EQ(key.keysym, static_cast<KeySym>(XK_grave));
    EXPECT_EQ(key.state & modifierMask, static_cast<unsigned int>(ShiftMask));
}

}  // namespace
}  // namespace quib::testing
