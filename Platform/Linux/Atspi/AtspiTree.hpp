#pragma once

#include <atspi/atspi.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Linux/Atspi/AtspiObject.hpp"

namespace quib {

// Reads of the accessibility tree that the menu and document readers share. Each read asks the
// app over the bus, within libatspi's timeout; a failed read gives nothing. Only on the AT-SPI
// thread.
namespace AtspiTree {

// A node's children are read one request each, so no more than `most` of them are: an app may
// claim billions (a spreadsheet's table counts every cell), which would hold the AT-SPI thread for
// hours and ask for memory for every one.
constexpr int mostChildren = 1024;
std::vector<AtspiNode> children(AtspiAccessible* node, int most = mostChildren);
std::optional<AtspiRole> role(AtspiAccessible* node);
std::optional<std::string> name(AtspiAccessible* node);

// Desktop 0's first application that runs as `processID`. One that has not published itself
// yet is looked for again until `waitUntil`.
AtspiNode application(std::int64_t processID, std::chrono::steady_clock::time_point waitUntil);

// The app's windows to look into, best first: its active frame, then its first frame (once,
// when they are the same).
std::vector<AtspiNode> frames(AtspiAccessible* application);

// The first node below `root`, breadth-first, that `matches`: at most `levels` levels down
// (its children are level 1) and `limit` nodes looked at.
AtspiNode firstBelow(AtspiAccessible* root, int levels, int limit,
                     const std::function<bool(AtspiAccessible*)>& matches);

}  // namespace AtspiTree
}  // namespace quib
