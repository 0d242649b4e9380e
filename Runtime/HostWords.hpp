#pragma once

#include "Runtime/Phrase.hpp"

namespace quib {

// The words every text a person reads uses for the product, the computer it runs on and what the
// desktop gives it, in one place: a backend for another kind of desktop words them here, and the
// sentences that use them (joined with `said<...>`) follow. The sentences around them say the
// same on every desktop.
struct HostWords {
    // The product's one name: the panel, the windows, and every sentence that names it.
    static constexpr Phrase product{"Quib"};

    // The machine the host runs on, as a phone's user thinks of it.
    static constexpr Phrase computer{"computer"};
    static constexpr auto thisComputer = phrase<"this ", computer>;
    static constexpr auto yourComputer = phrase<"your ", computer>;
    static constexpr auto theComputer = phrase<"the ", computer>;

    // Where a person finds the host's switches, its phones and its state.
    static constexpr auto panel = phrase<"the ", product, " panel">;

    // Where the host keeps secrets, and the folder of its own files.
    static constexpr Phrase secretStore{"secret store"};
    static constexpr Phrase dataFolder{"data folder"};

    // What starts the host when the user logs in.
    static constexpr Phrase autostart{"autostart"};

    // The target editor's fields for an app's symbol and its identifier (the desktop entry's).
    static constexpr Phrase symbolField{"Symbol"};
    static constexpr Phrase appIDField{"Application ID"};
    static constexpr Phrase appID{"application ID"};

    // What typing and clicking into other apps needs, and the step that gives it.
    static constexpr Phrase inputNeed{"a desktop display"};
    static constexpr Phrase inputStep{"start it in your desktop session"};

    // What capturing windows needs (the audio that goes to a listener waits on it too).
    static constexpr Phrase captureNeed{"an X display with Composite, DAMAGE and XFIXES"};

    // What reading another app's menus needs.
    static constexpr Phrase menusNeed{"the accessibility bus (AT-SPI)"};

    // Starting the host anew, for what it learns only as it starts.
    static constexpr Phrase restart{"restart"};
};

}  // namespace quib
