#include "Platform/HeadlessDesktop.hpp"

#include "Platform/MemoryPasteboard.hpp"

namespace quib {

DesktopServices HeadlessDesktop::services() {
    auto desktop = std::make_shared<HeadlessDesktop>();
    return {desktop, desktop, desktop, desktop, std::make_shared<MemoryPasteboard>()};
}

}  // namespace quib
