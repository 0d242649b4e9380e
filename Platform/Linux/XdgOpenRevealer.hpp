#pragma once

#include "Platform/FileRevealer.hpp"

namespace quib {

// Opens the file's folder with xdg-open when a display is set (DISPLAY or WAYLAND_DISPLAY).
// xdg-open runs detached: the host neither waits for the file manager nor keeps a child behind.
class XdgOpenRevealer final : public FileRevealer {
public:
    void reveal(const std::filesystem::path& file) override;
};

}  // namespace quib
