#include "Platform/Linux/GnomeFavourites.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(GnomeFavourites, ReadsTheArraysGsettingsPrints) {
    EXPECT_EQ(GnomeFavourites::parseStrings("['firefox-esr.desktop', 'org.gnome.Terminal.desktop']"),
              (Strings{"firefox-esr.desktop", "org.gnome.Terminal.desktop"}));
    EXPECT_EQ(GnomeFavourites::parseStrings("@as []"), Strings{});
    EXPECT_EQ(GnomeFavourites::parseStrings("[]\n"), Strings{});
    EXPECT_EQ(GnomeFavourites::parseStrings(R"( ["it's.desktop",'say \'hi\'.desktop', 'back\\slash'] )"),
              (Strings{"it's.desktop", "say 'hi'.desktop", "back\\slash"}));

    for (const char* garbage : {"", "No such schema", "['a.desktop'", "['a.desktop',]", "['a.desktop'] x",
                                "[a.desktop]", "['unclosed]", "['a' 'b']", "@as", "['trailing\\"})
        EXPECT_EQ(GnomeFavourites::parseStrings(garbage), std::nullopt) << garbage;
}

// A stand-in gsettings that prints `output` and exits with `status`.
fs::path fakeGsettings(const fs::path& folder, const std::string& output, int status) {
    const auto path = folder / "gsettings";
    std::ofstream(path) << "#!/bin/sh\n[ \"$*\" = 'get org.gnome.shell favorite-apps' ] || exit 3\ncat <<'END'\n"
                        << output << "\nEND\nexit " << status << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

TEST(GnomeFavourites, AsksGsettingsForTheDashAndKeepsLowerCasedIds) {
    testing::ScratchFolder scratch("favourites");
    const auto pinned =
        fakeGsettings(scratch.path, "['firefox-esr.desktop', 'org.gnome.Terminal.desktop', 'plain']", 0);
    EXPECT_EQ(GnomeFavourites(pinned).dockedIDs(),
              (std::set<std::string>{"firefox-esr", "org.gnome.terminal", "plain"}));

    fs::create_directory(scratch.path / "schema");
    const auto noSchema = fakeGsettings(scratch.path / "schema", "No such schema “org.gnome.shell”", 1);
    EXPECT_TRUE(GnomeFavourites(noSchema).dockedIDs().empty());
    fs::create_directory(scratch.path / "garbage");
    EXPECT_TRUE(GnomeFavourites(fakeGsettings(scratch.path / "garbage", "['a.desktop', oops", 0)).dockedIDs().empty());
    EXPECT_TRUE(GnomeFavourites(scratch.path / "no-gsettings").dockedIDs().empty());
}

}  // namespace
}  // namespace quib
