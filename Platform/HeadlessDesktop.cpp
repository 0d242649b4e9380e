#include "Platform/HeadlessDesktop.hpp"

#include "Platform/EmptyWindowRoster.hpp"
#include "Platform/HeadlessMenuReader.hpp"
#include "Platform/HeadlessPermissions.hpp"
#include "Platform/HeadlessWorkspace.hpp"
#include "Platform/MemoryPasteboard.hpp"

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
            desktop};
}

}  // namespace quib
