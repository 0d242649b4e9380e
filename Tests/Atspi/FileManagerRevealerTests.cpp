// Revealing a file in the file manager over a private session bus, and opening its folder with
// the default handler when no file manager answers.

#include "Platform/Linux/FileManagerRevealer.hpp"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "Tests/Fixtures/FixtureApp.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;

// A file manager on the bus that writes down the items it was asked to show.
class StubFileManager {
public:
    explicit StubFileManager(const std::string& address) {
        sd_bus_new(&bus_);
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        ready_ = sd_bus_start(bus_) >= 0 &&
                 sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/FileManager1",
                                          "org.freedesktop.FileManager1", table, this) >= 0 &&
                 sd_bus_request_name(bus_, "org.freedesktop.FileManager1", 0) >= 0;
        thread_ = std::thread([this] {
            while (!stop_) {
                while (sd_bus_process(bus_, nullptr) > 0) {}
                sd_bus_wait(bus_, 50'000);
            }
        });
    }
    ~StubFileManager() {
        stop_ = true;
        thread_.join();
        sd_bus_flush_close_unref(bus_);
    }
    bool ready() const { return ready_; }
    std::vector<std::string> shown() {
        std::lock_guard guard(lock_);
        return shown_;
    }

private:
    static int showItems(sd_bus_message* call, void* self, sd_bus_error*) {
        char** uris = nullptr;
        const char* startup = nullptr;
        if (sd_bus_message_read_strv(call, &uris) < 0 || sd_bus_message_read(call, "s", &startup) < 0) return -EINVAL;
        auto& stub = *static_cast<StubFileManager*>(self);
        {
            std::lock_guard guard(stub.lock_);
            for (char** uri = uris; uri && *uri; ++uri)
                stub.shown_.push_back(std::string(*uri) + " startup=" + startup);
        }
        for (char** uri = uris; uri && *uri; ++uri) free(*uri);
        free(uris);
        return sd_bus_reply_method_return(call, "");
    }
    static constexpr sd_bus_vtable table[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("ShowItems", "ass", "", showItems, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };

    sd_bus* bus_ = nullptr;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::string> shown_;
    std::thread thread_;
};

// A private bus as the session's, and a display named, for the revealer to find.
struct RevealSession {
    RevealSession() {
        bus = PrivateSessionBus::start();
        if (!bus) return;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
        if (!std::getenv("DISPLAY")) ::setenv("DISPLAY", ":0", 1);
    }
    std::unique_ptr<PrivateSessionBus> bus;
};

TEST(FileManagerRevealer, AsksTheFileManagerToSelectTheFileByItsUri) {
    RevealSession session;
    ASSERT_TRUE(session.bus);
    StubFileManager files(session.bus->address());
    ASSERT_TRUE(files.ready());
    ScratchFolder scratch("reveal");
    const auto log = scratch.path / "a b%.log";
    writeFile(log, "");
    FileManagerRevealer revealer;
    ASSERT_TRUE(revealer.reveal(log));
    // The inbox is named with a trailing separator; the file manager is given the folder itself.
    ASSERT_TRUE(revealer.reveal(scratch.path / ""));
    const std::string folder = "file://" + scratch.path.string();
    EXPECT_EQ(files.shown(), (std::vector<std::string>{folder + "/a%20b%25.log startup=", folder + " startup="}));
}

// No file manager on the bus: the folder goes to the default handler for folders, here a
// script that writes down what it was given; without any handler, the failure says why.
TEST(FileManagerRevealer, WithoutAFileManagerTheFolderOpensWithTheDefaultHandler) {
    RevealSession session;
    ASSERT_TRUE(session.bus);
    ScratchFolder scratch("reveal-folder");
    const auto opened = scratch.path / "opened";
    const auto script = scratch.path / "open-folder";
    writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" > '" + opened.string() + "'\n");
    fs::permissions(script, fs::perms::owner_all);
    writeFile(scratch.path / "data" / "applications" / "quib-test-folders.desktop",
              "[Desktop Entry]\nType=Application\nName=Folders\nExec=" + script.string() +
                  " %u\nMimeType=inode/directory;\n");
    writeFile(scratch.path / "config" / "mimeapps.list",
              "[Default Applications]\ninode/directory=quib-test-folders.desktop\n");
    ::setenv("XDG_DATA_HOME", (scratch.path / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (scratch.path / "config").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (scratch.path / "none").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (scratch.path / "none").c_str(), 1);
    const auto log = scratch.path / "logs" / "deliveries.log";
    writeFile(log, "");
    ASSERT_TRUE(FileManagerRevealer().reveal(log));
    ASSERT_TRUE(eventually([&] { return fs::exists(opened) && !fileContents(opened).empty(); }));
    EXPECT_EQ(fileContents(opened), (scratch.path / "logs").string() + "\n");  // a local folder is given as a path

    const auto failed = FileManagerRevealer::openFolder("/nonexistent-quib-folder/inner");
    EXPECT_FALSE(failed);
}

}  // namespace
}  // namespace quib::testing
