#pragma once

#include <filesystem>
#include <optional>

namespace quib {

// Asks which application a target should raise: a file dialog on the display, or a path given
// by the control tool or a test. Main executor; a dialog runs modally.
class AppChooser {
public:
    virtual ~AppChooser() = default;
    // The chosen file, which is meant to be a desktop entry; none when the user cancelled.
    virtual std::optional<std::filesystem::path> chooseApplication() = 0;
};

}  // namespace quib
