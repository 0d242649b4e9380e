#include "Platform/Freedesktop/DesktopEntries.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::string> ids(const std::vector<DesktopEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& entry : entries) out.push_back(entry.id);
    return out;
}

// Two application folders, the user's first, with a program folder for TryExec.
class DesktopFixture {
public:
    fs::path user() const { return scratch.path / "user" / "applications"; }
    fs::path system() const { return scratch.path / "system" / "applications"; }
    fs::path bin() const { return scratch.path / "bin"; }

    void write(const fs::path& file, const std::string& text) const {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    void app(const fs::path& folder, const std::string& relative, const std::string& keys = "") const {
        write(folder / relative, "[Desktop Entry]\nType=Application\nName=" + relative + "\n" + keys);
    }
    void program(const std::string& name) const {
        write(bin() / name, "#!/bin/sh\n");
        fs::permissions(bin() / name, fs::perms::owner_all);
    }
    DesktopEntries entries() const { return DesktopEntries({user(), system()}, bin().string()); }

    testing::ScratchFolder scratch{"desktop"};
};

TEST(DesktopEntries, ReadsTheKeysOfTheMainGroupOnly) {
    const auto entry = DesktopEntry::parse(
        "# comment\n[Desktop Entry]\nType = Application\nName=Files\\sand more\nName[de]=Dateien\n"
        "Exec=\"/opt/my apps/files\" --new-window %U\nTryExec=files\nIcon=folder\nStartupWMClass=Files\n"
        "Categories=System;FileManager;Core\\;Utility;\nNoDisplay=true\nName=Second\n"
        "[Desktop Action new]\nName=New window\nHidden=true\n",
        "org.example.Files", "/x/org.example.Files.desktop");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id, "org.example.Files");
    EXPECT_EQ(entry->type, "Application");
    EXPECT_EQ(entry->name, "Files and more");
    EXPECT_EQ(entry->exec, "\"/opt/my apps/files\" --new-window %U");
    EXPECT_EQ(entry->program(), "files");
    EXPECT_EQ(entry->tryExec, "files");
    EXPECT_EQ(entry->icon, "folder");
    EXPECT_EQ(entry->startupWMClass, "Files");
    EXPECT_EQ(entry->categories, (std::vector<std::string>{"System", "FileManager", "Core;Utility"}));
    EXPECT_TRUE(entry->noDisplay);
    EXPECT_FALSE(entry->hidden);
    EXPECT_FALSE(entry->terminal);
    EXPECT_FALSE(entry->isTerminalEmulator());
    EXPECT_EQ(entry->localizedNames, (std::map<std::string, std::string>{{"de", "Dateien"}}));

    EXPECT_FALSE(DesktopEntry::parse("[Desktop Action x]\nName=y\n", "x", "x.desktop"));
    EXPECT_EQ(DesktopEntry::parse("[Desktop Entry]\nExec=  /usr/bin/env  FOO=1 x\n", "e", "e.desktop")->program(),
              "env");
    EXPECT_TRUE(
        DesktopEntry::parse("[Desktop Entry]\nCategories=GTK;TerminalEmulator\n", "t", "t")->isTerminalEmulator());
    EXPECT_TRUE(DesktopEntry::parse("[Desktop Entry]\nTerminal=true\n", "t", "t")->terminal);
    EXPECT_EQ(DesktopEntry::key("Org.Gnome.Terminal.desktop"), "org.gnome.terminal");
}

// The best match of the locale wins; the encoding never counts, and without a match the plain
// name is the name.
TEST(DesktopEntries, LocalizedNamesFollowTheLocaleFromCountryAndModifierDownToLanguage) {
    const auto entry = DesktopEntry::parse(
        "[Desktop Entry]\nName=Editor\nName[de]=Bearbeiter\nName[de_AT]=Editier\\sProgramm\n"
        "Name[sr@latin]=Urednik\nName[sr_RS@latin]=Uređivač\nName[]=none\nName[pt_BR=broken\n",
        "editor", "editor.desktop");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->localizedName("de_AT.UTF-8"), "Editier Programm");
    EXPECT_EQ(entry->localizedName("de_CH.UTF-8"), "Bearbeiter");
    EXPECT_EQ(entry->localizedName("de"), "Bearbeiter");
    EXPECT_EQ(entry->localizedName("sr_RS.UTF-8@latin"), "Uređivač");
    EXPECT_EQ(entry->localizedName("sr_ME@latin"), "Urednik");
    EXPECT_EQ(entry->localizedName("sr_RS"), "Editor");
    EXPECT_EQ(entry->localizedName("pt_BR.UTF-8"), "Editor");
    EXPECT_EQ(entry->localizedName("C"), "Editor");
    EXPECT_EQ(entry->localizedName(""), "Editor");
}

TEST(DesktopEntries, TheMessagesLocaleIsLcAllThenLcMessagesThenLang) {
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto all = saved("LC_ALL"), messages = saved("LC_MESSAGES"), lang = saved("LANG");
    ::setenv("LC_ALL", "", 1);
    ::setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);
    ::setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(DesktopEntry::messagesLocale(), "fr_FR.UTF-8");
    ::setenv("LC_ALL", "sv_SE", 1);
    EXPECT_EQ(DesktopEntry::messagesLocale(), "sv_SE");
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    EXPECT_EQ(DesktopEntry::messagesLocale(), "de_DE.UTF-8");
    const auto restore = [](const char* name, const std::optional<std::string>& value) {
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    };
    restore("LC_ALL", all);
    restore("LC_MESSAGES", messages);
    restore("LANG", lang);
}

// The user's file of an ID overrides the system's, and marked hidden removes the app.
TEST(DesktopEntries, TheFirstFileOfAnIdWinsAndSubFoldersPrefixTheId) {
    DesktopFixture desktop;
    desktop.app(desktop.system(), "org.example.Editor.desktop", "Exec=editor\n");
    desktop.app(desktop.user(), "org.example.Editor.desktop", "Exec=my-editor\n");
    desktop.app(desktop.system(), "gone.desktop");
    desktop.write(desktop.user() / "gone.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n");
    desktop.app(desktop.system(), "kde/konsole.desktop");
    desktop.write(desktop.system() / "notes.txt", "[Desktop Entry]\nType=Application\n");

    const auto entries = desktop.entries();
    EXPECT_EQ(ids(entries.all()), (std::vector<std::string>{"gone", "org.example.Editor", "kde-konsole"}));
    EXPECT_EQ(entries.application("org.example.Editor")->program(), "my-editor");
    EXPECT_EQ(entries.application("gone"), std::nullopt);
    EXPECT_EQ(entries.application("kde-konsole")->file, desktop.system() / "kde" / "konsole.desktop");

    // A file's ID by its place alone: the first folder that holds it counts.
    EXPECT_EQ(entries.idOfFile(desktop.system() / "kde" / "konsole.desktop"), "kde-konsole");
    EXPECT_EQ(entries.idOfFile(desktop.user() / ".." / "applications" / "new.desktop"), "new");
    EXPECT_EQ(entries.idOfFile(desktop.scratch.path / "elsewhere" / "new.desktop"), std::nullopt);
    EXPECT_EQ(entries.idOfFile(desktop.system() / ".." / "applications-old" / "new.desktop"), std::nullopt);
}

// Listing stops one sub-folder down and passes over hidden files and folders; an entry left
// out that way hides nothing in a later folder.
TEST(DesktopEntries, ListsOneSubFolderDownWithoutHiddenFiles) {
    DesktopFixture desktop;
    desktop.app(desktop.user(), "top.desktop");
    desktop.app(desktop.user(), "kde/konsole.desktop");
    desktop.app(desktop.user(), "a/b/deep.desktop");
    desktop.app(desktop.user(), ".hidden.desktop");
    desktop.app(desktop.user(), ".store/kept.desktop");
    desktop.app(desktop.system(), "a-b-deep.desktop");
    desktop.app(desktop.system(), "top.desktop");

    const auto entries = desktop.entries();
    EXPECT_EQ(ids(entries.listed()), (std::vector<std::string>{"kde-konsole", "top", "a-b-deep"}));
    EXPECT_EQ(entries.listed()[2].file, desktop.system() / "a-b-deep.desktop");
    EXPECT_EQ(entries.listed()[1].file, desktop.user() / "top.desktop");
    EXPECT_EQ(ids(entries.all()),
              (std::vector<std::string>{".hidden", ".store-kept", "a-b-deep", "kde-konsole", "top"}));
}

TEST(DesktopEntries, AnAppIsInstalledWhenItsTypeHiddenAndTryExecAllowIt) {
    DesktopFixture desktop;
    desktop.program("present");
    desktop.app(desktop.system(), "plain.desktop");
    desktop.app(desktop.system(), "found.desktop", "TryExec=present\n");
    desktop.app(desktop.system(), "absolute.desktop", "TryExec=" + (desktop.bin() / "present").string() + "\n");
    desktop.app(desktop.system(), "missing.desktop", "TryExec=absent\n");
    desktop.app(desktop.system(), "hidden.desktop", "Hidden=true\n");
    desktop.app(desktop.system(), "menuless.desktop", "NoDisplay=true\n");
    desktop.write(desktop.system() / "link.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.org\n");

    EXPECT_EQ(ids(desktop.entries().installed()), (std::vector<std::string>{"absolute", "found", "menuless", "plain"}));
}

TEST(DesktopEntries, LooksUpTheExactIdBeforeOneInAnotherCase) {
    DesktopFixture desktop;
    desktop.app(desktop.system(), "org.example.Mail.desktop");
    desktop.app(desktop.system(), "org.example.mail.desktop");
    desktop.app(desktop.system(), "Firefox.desktop");
    const auto entries = desktop.entries();
    EXPECT_EQ(entries.application("org.example.mail")->id, "org.example.mail");
    EXPECT_EQ(entries.application("org.example.Mail")->id, "org.example.Mail");
    EXPECT_EQ(entries.application("firefox")->id, "Firefox");
    EXPECT_EQ(entries.application("firefox.desktop"), std::nullopt);
    EXPECT_EQ(entries.application("no.such.app"), std::nullopt);
}

// A file added, changed or removed is seen once its folder's modification time moves; the
// times are set by hand so the test does not depend on the clock's granularity.
TEST(DesktopEntries, ReadsAFolderAgainWhenItsModificationTimeChanges) {
    DesktopFixture desktop;
    desktop.app(desktop.system(), "tools/first.desktop");
    const auto entries = desktop.entries();
    EXPECT_EQ(ids(entries.installed()), std::vector<std::string>{"tools-first"});

    const auto tools = desktop.system() / "tools";
    const auto stamp = fs::last_write_time(tools);
    desktop.app(desktop.system(), "tools/second.desktop");
    fs::last_write_time(tools, stamp);
    EXPECT_EQ(ids(entries.installed()), std::vector<std::string>{"tools-first"});
    fs::last_write_time(tools, stamp + 2s);
    EXPECT_EQ(ids(entries.installed()), (std::vector<std::string>{"tools-first", "tools-second"}));

    fs::remove_all(desktop.system());
    EXPECT_TRUE(entries.all().empty());
    desktop.app(desktop.user(), "late.desktop");
    EXPECT_EQ(ids(entries.installed()), std::vector<std::string>{"late"});
}

TEST(DesktopEntries, StandardFoldersFollowTheXdgVariables) {
    const char* home = std::getenv("XDG_DATA_HOME");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const std::optional<std::string> savedHome = home ? std::optional<std::string>(home) : std::nullopt;
    const std::optional<std::string> savedDirs = dirs ? std::optional<std::string>(dirs) : std::nullopt;

    ::setenv("XDG_DATA_HOME", "/home/ada/data", 1);
    ::setenv("XDG_DATA_DIRS", "/opt/share:relative:/usr/share/", 1);
    EXPECT_EQ(
        DesktopEntries::standardFolders(),
        (std::vector<fs::path>{"/home/ada/data/applications", "/opt/share/applications", "/usr/share/applications"}));
    ::unsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(DesktopEntries::standardFolders(),
              (std::vector<fs::path>{"/home/ada/data/applications", "/usr/local/share/applications",
                                     "/usr/share/applications"}));

    if (savedHome) ::setenv("XDG_DATA_HOME", savedHome->c_str(), 1);
    else ::unsetenv("XDG_DATA_HOME");
    if (savedDirs) ::setenv("XDG_DATA_DIRS", savedDirs->c_str(), 1);
}

TEST(DesktopEntries, TheOwnerOfAWindowClassByWmClassThenIdThenProgram) {
    DesktopFixture desktop;
    desktop.app(desktop.system(), "a-term.desktop", "Exec=/usr/bin/xterm -e sh\nCategories=System;TerminalEmulator;\n");
    desktop.app(desktop.system(), "org.example.Code.desktop", "Exec=code %F\nStartupWMClass=Code\n");
    desktop.app(desktop.system(), "code.desktop", "Exec=other\n");
    desktop.app(desktop.system(), "firefox.desktop", "Exec=firefox-esr %u\n");
    const auto installed = desktop.entries().installed();
    const auto owner = [&](std::string_view windowClass, std::string_view instance) {
        const auto found = DesktopEntries::owner(installed, windowClass, instance);
        return found ? found->id : "";
    };

    EXPECT_EQ(owner("Code", "code"), "org.example.Code");
    EXPECT_EQ(owner("Editor", "code"), "code");
    EXPECT_EQ(owner("Firefox-esr", "Navigator"), "");
    EXPECT_EQ(owner("Navigator", "firefox"), "firefox");
    EXPECT_EQ(owner("XTerm", "xterm"), "a-term");
    EXPECT_TRUE(DesktopEntries::owner(installed, "XTerm", "xterm")->isTerminalEmulator());
    EXPECT_EQ(owner("Unknown", "unknown"), "");
    EXPECT_EQ(owner("", ""), "");
}

}  // namespace
}  // namespace quib
