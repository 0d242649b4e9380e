#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Subprocess.hpp"

namespace quib::testing {

// A git repository made by a test with the real git, on branch "main", in a folder the test
// owns. Commits get an identity of their own: the machine may have none configured.
class TestRepository {
public:
    static constexpr std::string_view git = "/usr/bin/git";

    explicit TestRepository(std::filesystem::path root) : root_(std::move(root)) {
        std::filesystem::create_directories(root_);
        run({"init", "-q", "-b", "main"});
    }

    const std::filesystem::path& root() const { return root_; }

    // Runs git in the repository; a failure fails the test. Its trimmed output.
    std::string run(const std::vector<std::string>& arguments) const {
        std::vector<std::string> all{"-c", "user.name=Quib Tests", "-c", "user.email=tests@quib.invalid",
                                     "-c", "commit.gpgsign=false", "-C", root_.string()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const auto result = Subprocess::run(std::string(git), all, std::nullopt, std::chrono::seconds(30));
        if (!result.ok) ADD_FAILURE() << "git " << arguments.front() << " failed: " << result.output;
        return result.output;
    }

    // Writes a file below the root, making its folders.
    void write(const std::string& relative, std::string_view contents = "") const {
        const auto path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    }

    // Writes the files (empty) and commits every change.
    void commit(const std::vector<std::string>& files, const std::string& message = "change") const {
        for (const auto& file : files) write(file);
        commitAll(message);
    }

    void commitAll(const std::string& message = "change") const {
        run({"add", "-A"});
        run({"commit", "-q", "--allow-empty", "-m", message});
    }

private:
    std::filesystem::path root_;
};

}  // namespace quib::testing
