#pragma once

#include <chrono>

#include "Platform/FileRevealer.hpp"

namespace quib {

// Shows an item in the user's file manager: selected in its folder through the session bus's
// org.freedesktop.FileManager1.ShowItems, else its folder opened with the desktop's default
// handler for folders (GIO). Without a display (DISPLAY or WAYLAND_DISPLAY) nothing is shown.
class FileManagerRevealer final : public FileRevealer {
public:
    // How long the file manager has to answer before its folder is opened instead.
    static constexpr std::chrono::milliseconds showItemsTimeout{1000};

    Result<void> reveal(const std::filesystem::path& item) override;

    // Asks the file manager on the session bus to select the item; fails with why.
    static Result<void> showItem(const std::filesystem::path& item);
    // Opens the folder with its default handler; fails with why.
    static Result<void> openFolder(const std::filesystem::path& folder);
};

}  // namespace quib
