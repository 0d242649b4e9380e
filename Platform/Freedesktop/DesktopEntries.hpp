#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Platform/Freedesktop/InstalledApps.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The applications installed on this desktop, read from the ".desktop" files of the XDG
// application folders. An app's bundle identifier is its desktop-file ID without ".desktop"; an
// app is installed when its entry is of type Application, not hidden, and its TryExec program
// (if it names one) is found.
//
// Folders are searched in order, and the first file of an ID wins, so an entry in the user's
// own folder overrides (or, marked hidden, removes) the system's. A file in a sub-folder gets
// the sub-folder's name and "-" in front of its ID. A folder is read again when its
// modification time (or that of one of its sub-folders) changes. Any thread may ask.
class DesktopEntries final : public InstalledApps {
public:
    // applications/ under $XDG_DATA_HOME (default ~/.local/share), then under each folder of
    // $XDG_DATA_DIRS (default /usr/local/share:/usr/share); relative folders are ignored.
    static std::vector<std::filesystem::path> standardFolders();

    // Reads `folders` in order; TryExec programs without a "/" are looked for on `searchPath`.
    explicit DesktopEntries(std::vector<std::filesystem::path> folders = standardFolders(),
                            std::string searchPath = defaultSearchPath());
    DesktopEntries(const DesktopEntries&) = delete;
    DesktopEntries& operator=(const DesktopEntries&) = delete;

    // The first entry of every ID, installed or not: folder by folder, by ID within a folder.
    std::vector<DesktopEntry> all() const;
    // InstalledApps: the entries of installed applications, in the same order.
    std::vector<DesktopEntry> installed() const override;
    bool isInstalled(const DesktopEntry& entry) const override;
    // InstalledApps: the first entry of every ID at most one sub-folder down, hidden files and
    // folders left out, in the same order.
    std::vector<DesktopEntry> listed() const override;
    // The installed application with this bundle identifier.
    std::optional<DesktopEntry> application(std::string_view bundleID) const;
    // The ID a ".desktop" file has by its place below the first of the folders that holds it
    // ("kde-konsole" for kde/konsole.desktop); none for a file outside them. Lexical only: the
    // file need not exist, and links are not followed.
    std::optional<std::string> idOfFile(const std::filesystem::path& file) const;

    // The entry with this ID: an exact match, else one that differs only in ASCII letter case.
    static std::optional<DesktopEntry> find(std::span<const DesktopEntry> entries, std::string_view id);
    // The entry that owns windows of this X class and instance: the first whose StartupWMClass
    // is the class, else the one whose ID is the lower-cased class, then the lower-cased
    // instance, else the first whose Exec program's base name is the instance.
    static std::optional<DesktopEntry> owner(std::span<const DesktopEntry> entries, std::string_view windowClass,
                                             std::string_view instance);

private:
    static std::string defaultSearchPath();

    // One application folder as last read.
    struct Folder {
        std::filesystem::path root;
        bool read = false;
        // The folder and its sub-folders, with the modification times they had.
        std::map<std::filesystem::path, std::filesystem::file_time_type> stamps;
        std::vector<DesktopEntry> entries;  // by ID
    };
    // The first entry of every ID that `admits`, given its path below its folder.
    template <class Admits>
    std::vector<DesktopEntry> firstOfEachID(Admits admits) const;
    static bool isStale(const Folder& folder);
    static void scan(Folder& folder);

    std::string searchPath_;
    mutable Mutex mutex_;
    mutable std::vector<Folder> folders_ GUARDED_BY(mutex_);
};

}  // namespace quib
