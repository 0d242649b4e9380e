#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Mutex.hpp"
#include "Runtime/Subprocess.hpp"

namespace quib {

// Finds the file of an application's icon, as its desktop entry's Icon key names it, in the
// desktop's icon themes, choosing the picture closest to 128 pixels at scale 1.
//
// An absolute path is taken as it is. A name ("org.gnome.Terminal", or "kitty.png" with the
// extension dropped) is looked up in the user's current theme, then in the themes it inherits
// from, depth first, then in "hicolor"; each theme's folders are the theme's folder under every
// base folder. Within a theme a folder of the wanted size wins, else the one nearest to it; in
// a folder a PNG is preferred to an SVG, an SVG to an XPM. Last comes the pixmaps folder, with
// the plain name.
//
// Each theme's index.theme is read once and again when its modification time changes; one over
// 1 MiB is not read, as if the folder held none. The
// current theme comes from GNOME's settings, asked once. Any thread may ask.
class IconTheme {
public:
    static constexpr int size = 128;
    static constexpr int scale = 1;
    // How long gsettings may take.
    static constexpr std::chrono::seconds timeout{5};
    // Runs gsettings with these arguments.
    using Runner = std::function<Subprocess::Result(const std::vector<std::string>& arguments)>;

    struct Config {
        // Where themes are looked for, in order.
        std::vector<std::filesystem::path> baseFolders = standardBaseFolders();
        // Where an icon found in no theme is looked for last.
        std::filesystem::path pixmaps = "/usr/share/pixmaps";
        // None: the gsettings program on $PATH.
        Runner gsettings = nullptr;
    };

    // $XDG_DATA_HOME/icons, $HOME/.icons, then icons under each $XDG_DATA_DIRS folder.
    static std::vector<std::filesystem::path> standardBaseFolders();
    // The desktop's themes in the standard folders, shared by the whole process, so that the
    // current theme is asked for once.
    static std::shared_ptr<IconTheme> standard();

    explicit IconTheme(Config config);
    IconTheme(const IconTheme&) = delete;
    IconTheme& operator=(const IconTheme&) = delete;

    // The file for an Icon value; none when no theme or the pixmaps folder has it.
    std::optional<std::filesystem::path> find(std::string_view icon) const;

    // The theme name in a string value as gsettings prints it ("'Adwaita'"); none for anything
    // else, an empty name, or a name that could leave the base folders.
    static std::optional<std::string> parseThemeName(std::string_view printed);

    // One folder of a theme as its index describes it.
    struct Directory {
        enum class Type { fixed, scalable, threshold };
        std::string path;
        Type type = Type::threshold;
        int size = 0;
        int scale = 1;
        int minSize = 0;
        int maxSize = 0;
        int threshold = 2;

        bool matchesSize() const;
        int sizeDistance() const;
    };
    struct Index {
        std::filesystem::file_time_type stamp;
        std::vector<Directory> directories;
        std::vector<std::string> inherits;
    };

    // What an index.theme says: the folders with a usable size that stay inside the theme, and
    // the themes it inherits from.
    static Index parseIndex(std::string_view text);

private:
    // The theme's index from the first base folder that has one, read again when it changed.
    std::optional<Index> index(const std::string& theme) const;
    std::optional<std::filesystem::path> findInTheme(const std::string& name, const std::string& theme,
                                                     std::set<std::string>& visited) const;
    std::optional<std::filesystem::path> lookup(const std::string& name, const std::string& theme,
                                                const Index& index) const;
    std::optional<std::filesystem::path> inPixmaps(const std::string& name) const;
    const std::optional<std::string>& currentTheme() const;

    Config config_;
    mutable std::once_flag themeAsked_;
    mutable std::optional<std::string> theme_;
    mutable Mutex mutex_;  // guards indexes_
    mutable std::map<std::filesystem::path, Index> indexes_ GUARDED_BY(mutex_);
};

}  // namespace quib
