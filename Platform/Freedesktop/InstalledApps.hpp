#pragma once

#include <vector>

#include "Platform/Freedesktop/DesktopEntry.hpp"

namespace quib {

// The applications installed on this desktop, as the app catalog reads them. Any thread may ask.
class InstalledApps {
public:
    virtual ~InstalledApps() = default;

    // What a person finds by looking through the application folders: the entries of each
    // folder and of its sub-folders, but not of theirs, leaving out hidden files and folders
    // (names beginning with "."). The first file of each ID, installed or not, folder by
    // folder.
    virtual std::vector<DesktopEntry> listed() const = 0;
    // The installed applications in every folder, as the workspace knows them.
    virtual std::vector<DesktopEntry> installed() const = 0;
    // The entry is of type Application, not hidden, and its TryExec program, if any, is found.
    virtual bool isInstalled(const DesktopEntry& entry) const = 0;
};

}  // namespace quib
