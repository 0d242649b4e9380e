#pragma once

#include <filesystem>
#include <optional>
#include <utility>

#include "QuibHost/Panel/AppChooser.hpp"

namespace quib {

// Chooses the file it was given, every time; none stands for a cancelled dialog.
class GivenAppChooser final : public AppChooser {
public:
    explicit GivenAppChooser(std::optional<std::filesystem::path> file) : file_(std::move(file)) {}
    std::optional<std::filesystem::path> chooseApplication() override { return file_; }

private:
    std::optional<std::filesystem::path> file_;
};

}  // namespace quib
