// A phone asks the real quib-host for the apps it can make targets of and their icons; the host
// finds them in application folders, an icon theme and a GNOME Shell usage file of the test's own.

#include <gtest/gtest.h>

#include <fstream>

#include "Shared/MacApp.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Platform/Linux/TestPictures.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TempHome;

void application(const fs::path& folder, const std::string& relative, const std::string& keys) {
    testing::writeFile(folder / relative, "[Desktop Entry]\nType=Application\nExec=true\n" + keys);
}

QuibTarget target(const std::string& id, QuibTarget::Kind kind, const std::string& bundleID) {
    QuibTarget made;
    made.id = id;
    made.name = id;
    made.kind = kind;
    made.bundleID = bundleID;
    if (kind == QuibTarget::Kind::tmux) made.tmuxTarget = "%99";
    return made;
}

// The apps of the one "apps" line, of purpose "suggestions", that answers a request.
Json suggestions(PhoneClient& phone, bool refresh) {
    EXPECT_TRUE(phone.sendLine(std::string(R"({"requestApps":{"refresh":)") + (refresh ? "true" : "false") + "}}"));
    const auto apps = phone.receiveCase("apps", 10s);
    if (!apps) {
        ADD_FAILURE() << apps.error().message;
        return Json::array();
    }
    EXPECT_EQ((*apps)["_0"]["purpose"], "suggestions");
    EXPECT_EQ((*apps)["_0"]["sequence"], 0);
    EXPECT_EQ((*apps)["_0"]["isFinal"], true);
    return (*apps)["_0"]["apps"];
}

std::vector<std::string> idsOf(const Json& apps) {
    std::vector<std::string> ids;
    for (const auto& app : apps) ids.push_back(app["bundleID"]);
    return ids;
}

TEST(QuibHost, SuggestsInstalledAppsRankedByUseAndWalksAgainOnRefresh) {
    TempHome home;
    const fs::path system = home.root() / "share" / "applications";
    const fs::path user = home.dataHome() / "applications";
    application(system, "org.example.Editor.desktop", "Name=Editor\n");
    application(system, "org.example.Viewer.desktop", "Name=Viewer\n");
    application(system, "kitty.desktop", "Name=kitty\n");
    application(system, "tools/probe.desktop", "Name=Probe\n");
    application(system, "tools/deeper/lost.desktop", "Name=Lost\n");
    application(system, "hidden.desktop", "Name=Hidden\nHidden=true\n");
    application(system, "menuless.desktop", "Name=Menuless\nNoDisplay=true\n");
    application(system, "top.desktop", "Name=Top\nTerminal=true\n");
    application(system, "gone.desktop", "Name=Gone\n");
    application(user, "gone.desktop", "Name=Gone\nHidden=true\n");
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    testing::writeFile(
        home.dataHome() / "gnome-shell" / "application_state",
        "<?xml version=\"1.0\"?>\n<application-state>\n<context id=\"\">\n"
        "<application id=\"org.example.Editor.desktop\" open-window-count=\"1\" score=\"1023.9\" last-seen=\"" +
            std::to_string(now) +
            "\"/>\n"
            "<application id=\"org.example.viewer.desktop\" score=\"3\" last-seen=\"0\"/>\n"
            "</context>\n</application-state>\n");
    // Only saved app targets count as added, whatever letter case they spell the app in.
    testing::saveTargetsBeforeStart(home, {target("T-viewer", QuibTarget::Kind::app, "ORG.EXAMPLE.VIEWER"),
                                           target("T-pane", QuibTarget::Kind::tmux, "org.example.Editor")});

    auto [host, ada] =
        testing::startWithApprovedPhone(home, std::nullopt, {{"XDG_DATA_DIRS", (home.root() / "share").string()}});
    ASSERT_TRUE(ada.phone);
    PhoneClient& phone = *ada.phone;

    const Json apps = suggestions(phone, false);
    ASSERT_EQ(idsOf(apps),
              (std::vector<std::string>{"org.example.Editor", "kitty", "org.example.Viewer", "tools-probe"}))
        << host->log();
    EXPECT_EQ(apps[0]["useCount"], 1023);
    EXPECT_EQ(apps[0]["lastUsedEpochMillis"], now * 1000);
    EXPECT_EQ(apps[0]["isAdded"], false);
    EXPECT_EQ(apps[1]["name"], "Kitty");
    EXPECT_EQ(apps[1]["symbol"], "terminal");
    EXPECT_EQ(apps[2]["useCount"], 3);
    EXPECT_FALSE(apps[2].contains("lastUsedEpochMillis"));
    EXPECT_EQ(apps[2]["isAdded"], true);
    EXPECT_EQ(apps[3]["name"], "Probe");
    EXPECT_EQ(apps[3]["symbol"], "app");
    for (const auto& app : apps) EXPECT_EQ(app["isRunning"], false) << "nothing runs on a headless host";

    // The file time is set ahead so that the new entry is seen however coarse the file clock.
    application(system, "late.desktop", "Name=Late\n");
    fs::last_write_time(system, fs::file_time_type::clock::now() + 5s);
    EXPECT_EQ(idsOf(suggestions(phone, false)).size(), 4u);
    EXPECT_EQ(idsOf(suggestions(phone, true)),
              (std::vector<std::string>{"org.example.Editor", "kitty", "org.example.Viewer", "late", "tools-probe"}));
}

// Checks that an app row carries an icon that is a 128 × 128 PNG.
void expectIcon(const Json& row) {
    const auto app = MacApp::fromJson(row);
    ASSERT_TRUE(app.icon) << app.bundleID << " has no icon";
    EXPECT_EQ(testing::ihdrSize(*app.icon), (std::pair<std::uint32_t, std::uint32_t>{128, 128})) << app.bundleID;
    const auto picture = testing::decodePng(*app.icon);
    ASSERT_TRUE(picture) << app.bundleID;
    EXPECT_EQ(gdk_pixbuf_get_width(picture.get()), 128);
    EXPECT_EQ(gdk_pixbuf_get_height(picture.get()), 128);
}

// kitty has only a small PNG and GNOME Terminal only an SVG holding text; the host has no
// display, and its current theme is none of the test's.
TEST(QuibHost, DrawsAppIconsFromTheIconThemeWithoutADisplay) {
    TempHome home;
    const fs::path share = home.root() / "share";
    application(share / "applications", "kitty.desktop", "Name=kitty\nIcon=kitty\n");
    application(share / "applications", "org.gnome.Terminal.desktop", "Name=Terminal\nIcon=org.gnome.Terminal\n");
    testing::writeFile(
        share / "icons" / "hicolor" / "index.theme",
        "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps,scalable/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n\n"
        "[scalable/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    testing::writePng(share / "icons" / "hicolor" / "48x48" / "apps" / "kitty.png", 48, 48);
    testing::writeFile(
        share / "icons" / "hicolor" / "scalable" / "apps" / "org.gnome.Terminal.svg",
        R"(<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64"><rect width="64" height="64"/>)"
        R"(<text x="8" y="40" font-size="24" fill="white">&gt;_</text></svg>)");
    // gdk-pixbuf tells picture formats apart through the shared MIME database, which it looks
    // for in the data folders like everything else.
    fs::create_directory_symlink("/usr/share/mime", share / "mime");

    auto [host, ada] = testing::startWithApprovedPhone(
        home, std::nullopt,
        {{"XDG_DATA_DIRS", share.string()}, {"HOME", home.root().string()}, {"GSETTINGS_BACKEND", "memory"}});
    ASSERT_TRUE(ada.phone);
    PhoneClient& phone = *ada.phone;

    ASSERT_TRUE(phone.sendLine(R"({"requestAppIcons":{"bundleIDs":["org.gnome.Terminal","nope","kitty"]}})"));
    const auto icons = phone.receiveCase("apps", 10s);
    ASSERT_TRUE(icons) << icons.error().message << host->log();
    EXPECT_EQ((*icons)["_0"]["purpose"], "icons");
    EXPECT_EQ((*icons)["_0"]["isFinal"], true);
    const Json& rows = (*icons)["_0"]["apps"];
    ASSERT_EQ(idsOf(rows), (std::vector<std::string>{"org.gnome.Terminal", "kitty"})) << host->log();
    EXPECT_EQ(rows[0]["name"], "Terminal");
    EXPECT_EQ(rows[0]["symbol"], "terminal");
    for (const auto& row : rows) expectIcon(row);

    const Json apps = suggestions(phone, false);
    ASSERT_EQ(apps.size(), 2u);
    for (const auto& app : apps) {
        expectIcon(app);
        const auto& asked = app["bundleID"] == rows[0]["bundleID"] ? rows[0] : rows[1];
        EXPECT_EQ(app["icon"], asked["icon"]) << "drawn once, served from the cache";
    }
}

}  // namespace
}  // namespace quib
