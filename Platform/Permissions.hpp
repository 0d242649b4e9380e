#pragma once

#include <string>
#include <string_view>

#include "Runtime/HostWords.hpp"

namespace quib {

// What the desktop lets the host do. Each check is quick, never prompts, and may be called from
// any thread.
class Permissions {
public:
    // What input that needs accessibility trust is refused with while the host lacks it.
    static constexpr std::string_view accessibilityRefusal =
        said<HostWords::product, " can't type or click without ", HostWords::inputNeed, " \u2014 ",
             HostWords::inputStep>;

    virtual ~Permissions() = default;
    // The host may post keyboard and mouse events.
    virtual bool accessibilityTrusted() const = 0;
    // The host may capture the screen and its windows.
    virtual bool screenRecordingGranted() const = 0;
    // A sentence for the log saying what the host lacks to post input, and what would give it.
    virtual std::string accessibilityHelp() const = 0;
    // A sentence for the log saying what the host lacks to capture the screen, and what would
    // give it.
    virtual std::string screenRecordingHelp() const = 0;
};

}  // namespace quib
