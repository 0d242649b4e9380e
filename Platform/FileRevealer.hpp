#pragma once

#include <filesystem>

#include "Runtime/Result.hpp"

namespace quib {

// Shows a file or folder to the person at the computer, in the desktop's file manager.
class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    // Shows `item` selected in its folder or, where the file manager cannot select, opens the
    // folder that holds it (a trailing separator makes that folder `item` itself). Where there
    // is no desktop nothing is shown, and that is no failure. Fails, with why, when the desktop
    // could show nothing.
    virtual Result<void> reveal(const std::filesystem::path& item) = 0;
};

}  // namespace quib
