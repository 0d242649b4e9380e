#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// The questions the vocabulary asks git about a repository: where its top folder is, its local
// branches, the files its latest commits changed, and the files it tracks.
//
// A Git holds only where it looks for the program; every query runs git afresh (through
// Subprocess, with a 5-second limit, so at most 5 s a query) and blocks its thread. A query
// that cannot run, fails or runs out of time gives nothing. File names come back as UTF-8, as
// they are: git is told not to quote the names it could print plainly, and a name it still
// quotes (it holds a control character, a double quote or a backslash) is left out, as is a
// name that is not UTF-8.
class Git {
public:
    // Where git is looked for, in this order.
    static constexpr std::array<std::string_view, 3> standardPaths = {"/usr/bin/git", "/opt/homebrew/bin/git",
                                                                      "/usr/local/bin/git"};
    static constexpr std::chrono::seconds timeout{5};
    // How many of the latest commits name the recently changed files.
    static constexpr int recentCommits = 20;

    // Looks in the standard places.
    Git();
    // Looks in `paths`, in order.
    explicit Git(std::vector<std::filesystem::path> paths);

    // The first of the paths that is an executable file (links followed), or none. Looked up
    // afresh on every query.
    std::optional<std::filesystem::path> executableURL() const;

    // The top folder of the repository `folder` is in; none outside a repository.
    std::optional<std::string> root(const std::string& folder) const;
    // Every local branch by its short name. The line git prints for a detached HEAD or a rebase
    // in progress, "(HEAD detached at …)", names no branch and is left out.
    std::vector<std::string> branches(const std::string& root) const;
    // The files the last 20 commits changed, newest first, each once, relative to `root`; only
    // those that exist in the work tree now.
    std::vector<std::string> recentlyChangedFiles(const std::string& root) const;
    // The first `limit` tracked files, relative to `root`, in git's order. Only as much of git's
    // listing is read as those names can take; git is stopped there, so a repository of any
    // size costs no more.
    std::vector<std::string> trackedFiles(const std::string& root, std::size_t limit = SIZE_MAX) const;

    // The branch names in git's branch listing, one a line as printed: lines that are not UTF-8,
    // empty lines and the "(HEAD detached …)" line left out.
    static std::vector<std::string> parseBranches(std::string_view listing);
    // The first `limit` file names in a listing of git's, one a line as printed: lines that are
    // not UTF-8, empty lines and names git still quoted left out.
    static std::vector<std::string> parseFileNames(std::string_view listing, std::size_t limit = SIZE_MAX);

private:
    // The output of `git -c core.quotePath=false -C folder arguments…`, as printed, when it
    // succeeds. Output past `outputLimit` bytes is not read: git is stopped, and the whole lines
    // before the cut are taken.
    std::optional<std::string> output(const std::string& folder, std::vector<std::string> arguments,
                                      std::size_t outputLimit = SIZE_MAX) const;
    // The output's first `limit` file names (parseFileNames).
    std::vector<std::string> fileNames(const std::string& root, std::vector<std::string> arguments,
                                       std::size_t limit = SIZE_MAX, std::size_t outputLimit = SIZE_MAX) const;

    std::vector<std::filesystem::path> paths_;
};

}  // namespace quib
