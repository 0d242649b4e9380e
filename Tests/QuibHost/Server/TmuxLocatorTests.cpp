#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "QuibHost/Server/Neighbours/TmuxLocator.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;

class TmuxFolder {
public:
    TmuxFolder() : root_(fs::temp_directory_path() / ("quib-tmux-" + std::to_string(::getpid()))) {
        fs::create_directories(root_);
    }
    ~TmuxFolder() { fs::remove_all(root_); }

    std::string file(const std::string& name, fs::perms permissions) const {
        const fs::path path = root_ / name;
        std::ofstream(path) << "#!/bin/sh\n";
        fs::permissions(path, permissions);
        return path.string();
    }
    std::string folder(const std::string& name) const {
        fs::create_directories(root_ / name);
        return (root_ / name).string();
    }

private:
    fs::path root_;
};

TEST(TmuxLocator, TheFirstExecutableFileInOrderWins) {
    TmuxFolder dir;
    const auto plain = dir.file("plain", fs::perms::owner_read | fs::perms::owner_write);
    const auto folder = dir.folder("folder");
    const auto first = dir.file("first", fs::perms::owner_all);
    const auto second = dir.file("second", fs::perms::owner_all);
    const std::string missing = "/nonexistent/tmux";

    const std::vector<std::string_view> paths{missing, plain, folder, first, second};
    EXPECT_EQ(TmuxLocator::executable(paths), fs::path(first));
    const std::vector<std::string_view> none{missing, plain, folder};
    EXPECT_EQ(TmuxLocator::executable(none), std::nullopt);
}

}  // namespace
}  // namespace quib
