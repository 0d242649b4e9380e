#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "QuibHost/Panel/LoginItem.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using testing::fileContents;
using testing::ScratchFolder;

std::string execLine(const std::string& text) {
    const auto start = text.find("\nExec=");
    if (start == std::string::npos) return {};
    return text.substr(start + 1, text.find('\n', start + 1) - start - 1);
}

TEST(LoginItem, EnablingWritesAnAutostartEntryAndDisablingRemovesIt) {
    ScratchFolder scratch{"quib-loginitem"};
    const LoginItem item(scratch.path / "autostart" / "quib-host.desktop", "/usr/local/bin/quib-host");
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);

    EXPECT_EQ(item.setEnabled(true), std::nullopt);
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);
    const std::string text = fileContents(item.entryPath());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_EQ(execLine(text), "Exec=/usr/local/bin/quib-host");
    EXPECT_EQ(fs::status(item.entryPath()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);

    EXPECT_EQ(item.setEnabled(false), std::nullopt);
    EXPECT_FALSE(fs::exists(item.entryPath()));
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    EXPECT_EQ(item.setEnabled(false), std::nullopt);  // nothing to remove is no failure
}

TEST(LoginItem, QuotesAPathTheSessionWouldOtherwiseSplitOrExpand) {
    auto text = LoginItem::entryText("/home/a b/100% \"q\"/$x\\y/quib-host");
    ASSERT_TRUE(text);
    // Quoted for the argument, then each backslash escaped again for the string value.
    EXPECT_EQ(execLine(*text), R"(Exec="/home/a b/100%% \\"q\\"/\\$x\\\\y/quib-host")");
    EXPECT_FALSE(LoginItem::entryText("/home/a\nb/quib-host"));

    ScratchFolder scratch{"quib-loginitem"};
    const LoginItem item(scratch.path / "quib-host.desktop", "/tmp/line\nbreak");
    ASSERT_TRUE(item.setEnabled(true).has_value());
    EXPECT_FALSE(fs::exists(item.entryPath()));
}

TEST(LoginItem, AnEntryTheSessionSkipsIsNotRegistered) {
    ScratchFolder scratch{"quib-loginitem"};
    const LoginItem item(scratch.path / "quib-host.desktop", "/usr/bin/quib-host");
    const auto statusOf = [&](const std::string& text) {
        std::ofstream(item.entryPath()) << text;
        return item.status();
    };
    EXPECT_EQ(statusOf("[Desktop Entry]\nExec=x\nHidden=true\n"), LoginItem::Status::notRegistered);
    EXPECT_EQ(statusOf("[Desktop Entry]\nExec=x\nX-GNOME-Autostart-enabled = false\n"),
              LoginItem::Status::notRegistered);
    EXPECT_EQ(statusOf("[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n"), LoginItem::Status::enabled);
    EXPECT_EQ(statusOf("[Desktop Entry]\nExec=x\nHidden=false\n"), LoginItem::Status::enabled);
}

// Something else left at the entry's path is not read whole: not a file far too large to be an
// entry, nor a FIFO, whose read would wait for a writer for ever.
TEST(LoginItem, APathHoldingNoEntryIsNotRegistered) {
    ScratchFolder scratch{"quib-loginitem"};
    const LoginItem item(scratch.path / "quib-host.desktop", "/usr/bin/quib-host");
    std::string huge = "[Desktop Entry]\nExec=x\n#";
    huge.resize((1 << 20) + 1, '#');
    std::ofstream(item.entryPath()) << huge;
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    huge.resize(1 << 20);
    std::ofstream(item.entryPath()) << huge;
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);

    fs::remove(item.entryPath());
    ASSERT_EQ(::mkfifo(item.entryPath().c_str(), 0600), 0);
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
}

TEST(LoginItem, TheProgramsItemLivesInTheUsersAutostartFolder) {
    ScratchFolder scratch{"quib-loginitem"};
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_CONFIG_HOME", scratch.path.c_str(), 1);
    const LoginItem item = LoginItem::forThisProgram();
    if (previous) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");

    EXPECT_EQ(item.entryPath(), scratch.path / "autostart" / "quib-host.desktop");
    EXPECT_TRUE(item.executable().is_absolute());
    EXPECT_TRUE(fs::exists(item.executable()));
}

}  // namespace
}  // namespace quib
