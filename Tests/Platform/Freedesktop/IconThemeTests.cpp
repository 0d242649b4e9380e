#include "Platform/Freedesktop/IconTheme.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view hicolorIndex = R"([Icon Theme]
Name=Hicolor
Directories=32x32/apps,48x48/apps,128x128/apps,scalable/apps

[32x32/apps]
Size=32
Type=Threshold

[48x48/apps]
Size=48
Type=Fixed

[128x128/apps]
Size=128
Type=Fixed

[scalable/apps]
Size=16
MinSize=8
MaxSize=512
Type=Scalable
)";

// Two base folders of themes, the user's first, and a pixmaps folder, all of the test's own; the
// current theme is what a stand-in gsettings prints.
class ThemeFixture {
public:
    fs::path user() const { return scratch.path / "user"; }
    fs::path system() const { return scratch.path / "system"; }
    fs::path pixmaps() const { return scratch.path / "pixmaps"; }

    void write(const fs::path& file, std::string_view text) const {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    void index(const std::string& theme, std::string_view text, const fs::path& base = {}) const {
        write((base.empty() ? system() : base) / theme / "index.theme", text);
    }
    fs::path icon(const std::string& theme, const std::string& relative, const fs::path& base = {}) const {
        const auto file = (base.empty() ? system() : base) / theme / relative;
        write(file, "picture");
        return file;
    }

    IconTheme& theme() {
        if (!theme_) {
            IconTheme::Config config{{user(), system()}, pixmaps(), [this](const std::vector<std::string>& arguments) {
                                         ++asked;
                                         EXPECT_EQ(arguments, (std::vector<std::string>{
                                                                  "get", "org.gnome.desktop.interface", "icon-theme"}));
                                         return gsettings;
                                     }};
            theme_ = std::make_unique<IconTheme>(std::move(config));
        }
        return *theme_;
    }
    std::optional<fs::path> find(std::string_view icon) { return theme().find(icon); }

    testing::ScratchFolder scratch{"icons"};
    Subprocess::Result gsettings{false, "No such schema"};
    int asked = 0;

private:
    std::unique_ptr<IconTheme> theme_;
};

TEST(IconTheme, ChoosesThePictureNearestTo128Pixels) {
    ThemeFixture both;
    both.index("hicolor", hicolorIndex);
    both.icon("hicolor", "48x48/apps/editor.png");
    const auto large = both.icon("hicolor", "128x128/apps/editor.png");
    EXPECT_EQ(both.find("editor"), large);

    ThemeFixture scalable;
    scalable.index("hicolor", hicolorIndex);
    scalable.icon("hicolor", "48x48/apps/editor.png");
    const auto svg = scalable.icon("hicolor", "scalable/apps/editor.svg");
    EXPECT_EQ(scalable.find("editor"), svg);

    ThemeFixture small;
    small.index("hicolor", hicolorIndex);
    const auto only = small.icon("hicolor", "32x32/apps/editor.png");
    EXPECT_EQ(small.find("editor"), only);

    // Within one folder a PNG comes before an SVG and an SVG before an XPM; a threshold folder
    // covers the sizes near its own.
    ThemeFixture formats;
    formats.index("hicolor",
                  "[Icon Theme]\nDirectories=near,other\n[near]\nSize=120\nThreshold=10\n"
                  "[other]\nSize=128\nType=Fixed\nScale=2\n");
    formats.icon("hicolor", "other/editor.png");
    formats.icon("hicolor", "near/editor.xpm");
    const auto png = formats.icon("hicolor", "near/editor.png");
    formats.icon("hicolor", "near/editor.svg");
    EXPECT_EQ(formats.find("editor"), png);
}

TEST(IconTheme, SearchesTheCurrentThemeItsParentsThenHicolor) {
    ThemeFixture fixture;
    fixture.gsettings = {true, "'Fancy'"};
    fixture.index("Fancy", "[Icon Theme]\nInherits=Missing, Base\nDirectories=apps\n[apps]\nSize=128\nType=Fixed\n");
    // A loop back to the first theme ends the search instead of running forever.
    fixture.index("Base", "[Icon Theme]\nInherits=Fancy\nDirectories=apps\n[apps]\nSize=64\n");
    fixture.index("hicolor", hicolorIndex);
    const auto mine = fixture.icon("Fancy", "apps/both.png");
    fixture.icon("hicolor", "128x128/apps/both.png");
    const auto inherited = fixture.icon("Base", "apps/parent.svg");
    const auto fallback = fixture.icon("hicolor", "48x48/apps/plain.png");
    // A theme's folders under every base folder count, whichever holds its index.
    const auto users = fixture.icon("hicolor", "128x128/apps/users.png", fixture.user());

    EXPECT_EQ(fixture.find("both"), mine);
    EXPECT_EQ(fixture.find("parent"), inherited);
    EXPECT_EQ(fixture.find("plain"), fallback);
    EXPECT_EQ(fixture.find("users"), users);
    EXPECT_EQ(fixture.find("nowhere"), std::nullopt);
    EXPECT_EQ(fixture.asked, 1) << "the current theme is asked for once";
}

TEST(IconTheme, TakesIconValuesAsPathsNamesOrFileNames) {
    ThemeFixture fixture;
    fixture.index("hicolor", hicolorIndex);
    const auto kitty = fixture.icon("hicolor", "128x128/apps/kitty.png");
    const auto xpm = fixture.pixmaps() / "oldie.xpm";
    fixture.write(xpm, "/* XPM */");
    fixture.write(fixture.pixmaps() / "mini.xterm_48x48.xpm", "/* XPM */");
    fixture.write(fixture.scratch.path / "escape.png", "picture");

    EXPECT_EQ(fixture.find("/opt/app/logo.svg"), fs::path("/opt/app/logo.svg"));
    EXPECT_EQ(fixture.find("kitty.png"), kitty);
    EXPECT_EQ(fixture.find("kitty.svg"), kitty);
    const auto dotted = fixture.icon("hicolor", "128x128/apps/logo.svg.png");
    fixture.icon("hicolor", "128x128/apps/logo.png");
    EXPECT_EQ(fixture.find("logo.svg.png"), dotted);
    EXPECT_EQ(fixture.find("oldie"), xpm);
    EXPECT_EQ(fixture.find("oldie.xpm"), xpm);
    // Sized pixmaps are not guessed at.
    EXPECT_EQ(fixture.find("mini.xterm"), std::nullopt);
    // A relative path is no name, and must not climb out of the theme.
    EXPECT_EQ(fixture.find("../escape"), std::nullopt);
    EXPECT_EQ(fixture.find(""), std::nullopt);
}

TEST(IconTheme, ReadsAThemesIndexAgainWhenItChanges) {
    ThemeFixture fixture;
    fixture.index("hicolor", "[Icon Theme]\nDirectories=old\n[old]\nSize=48\n");
    const auto added = fixture.icon("hicolor", "new/editor.png");
    EXPECT_EQ(fixture.find("editor"), std::nullopt);

    const auto file = fixture.system() / "hicolor" / "index.theme";
    fixture.index("hicolor", "[Icon Theme]\nDirectories=old,new\n[old]\nSize=48\n[new]\nSize=128\n");
    fs::last_write_time(file, fs::last_write_time(file) + 5s);
    EXPECT_EQ(fixture.find("editor"), added);
}

// An index of more than a megabyte is no real theme's: it is not read, and the search goes on
// as if the folder had no index, in the next base folder or the next theme.
TEST(IconTheme, AnIndexTooLargeToBeOneIsSkipped) {
    ThemeFixture fixture;
    fixture.gsettings = {true, "'Huge'"};
    std::string huge = "[Icon Theme]\nDirectories=apps\n[apps]\nSize=128\nType=Fixed\n#";
    huge.resize((1 << 20) + 1, '#');
    fixture.index("Huge", huge);
    fixture.icon("Huge", "apps/editor.png");
    fixture.index("hicolor", huge, fixture.user());
    fixture.icon("hicolor", "apps/editor.png", fixture.user());
    fixture.index("hicolor", hicolorIndex);
    const auto found = fixture.icon("hicolor", "128x128/apps/editor.png");
    EXPECT_EQ(fixture.find("editor"), found);

    // Just under the limit it is read as usual.
    huge.resize(1 << 20);
    fixture.index("Huge", huge);
    EXPECT_EQ(fixture.find("editor"), fixture.system() / "Huge" / "apps" / "editor.png");
}

TEST(IconTheme, IgnoresIndexFoldersAndThemeNamesThatLeaveTheBaseFolder) {
    ThemeFixture fixture;
    fixture.gsettings = {true, "'../system/hicolor'"};
    fixture.index("hicolor",
                  "[Icon Theme]\nInherits=..\nDirectories=../../outside,apps,sizeless\n"
                  "[../../outside]\nSize=128\n[apps]\nSize=16\n[sizeless]\nType=Fixed\n");
    fixture.write(fixture.scratch.path / "outside" / "editor.png", "picture");
    fixture.icon("hicolor", "sizeless/editor.png");
    const auto inside = fixture.icon("hicolor", "apps/editor.png");
    EXPECT_EQ(fixture.find("editor"), inside);
}

TEST(IconTheme, ReadsTheThemeNameGsettingsPrints) {
    EXPECT_EQ(IconTheme::parseThemeName("'Adwaita'"), "Adwaita");
    EXPECT_EQ(IconTheme::parseThemeName(" \"Papirus-Dark\"\n"), "Papirus-Dark");
    EXPECT_EQ(IconTheme::parseThemeName(R"('it\'s')"), "it's");
    for (const char* refused : {"", "''", "Adwaita", "'Adwaita", "'a/b'", "'..'", "No such key"})
        EXPECT_EQ(IconTheme::parseThemeName(refused), std::nullopt) << refused;
}

}  // namespace
}  // namespace quib
