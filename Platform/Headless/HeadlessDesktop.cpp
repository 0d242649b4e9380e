#include "Platform/Headless/HeadlessDesktop.hpp"

#include "Platform/Headless/EmptyWindowRoster.hpp"
#include "Platform/Headless/HeadlessMenuReader.hpp"
#include "Platform/Headless/HeadlessPermissions.hpp"
#include "Platform/Headless/HeadlessWorkspace.hpp"
#include "Platform/Headless/MemoryPasteboard.hpp"

namespace quib {

DesktopServices HeadlessDesktop::services() {
    auto desktop = std::make_shared<HeadlessDesktop>();
    return {desktop,
            desktop,
            desktop,
            desktop,
            std::make_shared<MemoryPasteboard>(),
            std::make_shared<HeadlessWorkspace>(),
            std::make_shared<EmptyWindowRoster>(std::make_shared<HeadlessPermissions>()),
            std::make_shared<HeadlessMenuReader>(),
            desktop,
            desktop,
            nullptr};  // no selection besides the pasteboard
}

}  // namespace quib
