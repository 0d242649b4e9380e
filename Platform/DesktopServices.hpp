#pragma once

#include <memory>

#include "Platform/AccessibilityProbe.hpp"
#include "Platform/DisplayList.hpp"
#include "Platform/EventPoster.hpp"
#include "Platform/MenuReader.hpp"
#include "Platform/OpenDocuments.hpp"
#include "Platform/Pasteboard.hpp"
#include "Platform/PointerLocation.hpp"
#include "Platform/WindowRoster.hpp"
#include "Platform/WindowSource.hpp"
#include "Platform/Workspace.hpp"

namespace quib {

// What the host uses of the desktop it drives, one backend chosen at start for all of them:
// input posting, the pointer's location, the displays, the accessibility probe, the pasteboard,
// the applications, their windows and their menus, the documents apps show, window capture.
struct DesktopServices {
    std::shared_ptr<EventPoster> events;
    std::shared_ptr<PointerLocation> pointer;
    std::shared_ptr<DisplayList> displays;
    std::shared_ptr<AccessibilityProbe> accessibility;
    std::shared_ptr<Pasteboard> pasteboard;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<WindowRoster> roster;
    std::shared_ptr<MenuReader> menus;
    std::shared_ptr<OpenDocuments> documents;
    std::shared_ptr<WindowSource> windowSource;
    // The selection that some terminals paste by default (X's PRIMARY); none where the desktop
    // has no such thing.
    std::shared_ptr<Pasteboard> selection;
};

}  // namespace quib
