#pragma once

#include "Platform/MenuReader.hpp"

namespace quib {

// Without a display there is no app whose menus could be read.
class HeadlessMenuReader final : public MenuReader {
public:
    bool isTrusted() override { return false; }
    std::shared_ptr<Element> menuBar(std::int64_t, Duration) override { return nullptr; }
    bool firstTopLevelItemIsSystemMenu() override { return false; }
};

}  // namespace quib
