// Filling the gaps of a desktop that offers only some services.

#include "Platform/Headless/HeadlessDesktop.hpp"

namespace quib {

DesktopServices HeadlessDesktop::fillGaps(DesktopServices all) {
    const DesktopServices headless = HeadlessDesktop::services();
    if (!all.events) all.events = headless.events;
    if (!all.pointer) all.pointer = headless.pointer;
    if (!all.displays) all.displays = headless.displays;
    if (!all.accessibility) all.accessibility = headless.accessibility;
    if (!all.pasteboard) all.pasteboard = headless.pasteboard;
    if (!all.workspace) all.workspace = headless.workspace;
    if (!all.roster) all.roster = headless.roster;
    if (!all.menus) all.menus = headless.menus;
    if (!all.documents) all.documents = headless.documents;
    if (!all.windowSource) all.windowSource = headless.windowSource;
    return all;
}

}  // namespace quib
