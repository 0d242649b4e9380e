#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Shared/MacWindow.hpp"

namespace quib {

// What the connection server asks of the window roster.
class WindowListService {
public:
    // The windows of an app that a phone picks from, and a note for the phone about the list.
    struct WindowList {
        std::vector<MacWindow> windows;
        std::optional<std::string> note;
    };

    virtual ~WindowListService() = default;
    // The app's windows, the pinned one marked, with pictures when asked. Any thread but the
    // main one; it may take a while. Every problem becomes the note.
    virtual WindowList windows(const std::string& bundleID, std::optional<std::uint32_t> pinned, bool withPreviews) = 0;
};

}  // namespace quib
