#pragma once

#include <filesystem>

namespace quib {

// Shows a file to the person at the computer, in the desktop's file manager.
class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    // Opens the folder that holds `file`; does nothing where there is no desktop. Returns at once.
    virtual void reveal(const std::filesystem::path& file) = 0;
};

}  // namespace quib
