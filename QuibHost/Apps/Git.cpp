#include "QuibHost/Apps/Git.hpp"

#include <climits>
#include <cstdint>
#include <unordered_set>

#include "Runtime/Subprocess.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// The first `limit` non-empty lines of `text` that `keep` admits.
template <class Keep>
std::vector<std::string> lines(std::string_view text, Keep keep, std::size_t limit = SIZE_MAX) {
    std::vector<std::string> out;
    while (!text.empty() && out.size() < limit) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!line.empty() && keep(line)) out.emplace_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return out;
}

// The lines of git's output that are UTF-8, trimmed as a whole. git prints a file name in the
// bytes it was given, so a name in another encoding leaves out its own line, not the others.
std::string readableLines(std::string_view bytes) {
    std::string text;
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        const std::string_view line = bytes.substr(0, end);
        if (unicode::isValidUtf8(line)) text.append(line).push_back('\n');
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    }
    return std::string(unicode::trimWhiteSpace(text));
}

}  // namespace

Git::Git() : Git(std::vector<std::filesystem::path>(standardPaths.begin(), standardPaths.end())) {}

Git::Git(std::vector<std::filesystem::path> paths) : paths_(std::move(paths)) {}

std::optional<std::filesystem::path> Git::executableURL() const { return Subprocess::firstExecutable(paths_); }

// The repository is the user's, but its configuration could come from anyone who made the
// folder: no program it names runs (a file-system monitor, a signature checker), and the
// queries leave its index untouched.
std::optional<std::string> Git::output(const std::string& folder, std::vector<std::string> arguments,
                                       std::size_t outputLimit) const {
    const auto git = executableURL();
    if (!git) return std::nullopt;
    arguments.insert(arguments.begin(), {"--no-optional-locks", "-c", "core.quotePath=false", "-c",
                                         "core.fsmonitor=false", "-c", "log.showSignature=false", "-C", folder});
    auto result = Subprocess::runBytes(*git, arguments, std::nullopt, timeout, outputLimit);
    if (result.cut) {
        // The whole lines before the cut; the one it split is not a name.
        const auto lastLine = result.output.rfind('\n');
        result.output.resize(lastLine == std::string::npos ? 0 : lastLine + 1);
    } else if (!result.ok) {
        return std::nullopt;
    }
    return std::move(result.output);
}

std::optional<std::string> Git::root(const std::string& folder) const {
    const auto printed = output(folder, {"rev-parse", "--show-toplevel"});
    if (!printed) return std::nullopt;
    auto top = readableLines(*printed);
    if (top.empty()) return std::nullopt;
    return top;
}

std::vector<std::string> Git::branches(const std::string& root) const {
    const auto listing = output(root, {"branch", "--format=%(refname:short)"});
    return listing ? parseBranches(*listing) : std::vector<std::string>{};
}

std::vector<std::string> Git::parseBranches(std::string_view listing) {
    return lines(readableLines(listing), [](std::string_view name) { return !name.starts_with('('); });
}

std::vector<std::string> Git::parseFileNames(std::string_view listing, std::size_t limit) {
    return lines(
        readableLines(listing), [](std::string_view name) { return !name.starts_with('"'); }, limit);
}

std::vector<std::string> Git::fileNames(const std::string& root, std::vector<std::string> arguments, std::size_t limit,
                                        std::size_t outputLimit) const {
    const auto listing = output(root, std::move(arguments), outputLimit);
    return listing ? parseFileNames(*listing, limit) : std::vector<std::string>{};
}

std::vector<std::string> Git::recentlyChangedFiles(const std::string& root) const {
    std::vector<std::string> files;
    std::unordered_set<std::string> seen;
    for (auto& name : fileNames(root, {"log", "--no-show-signature", "-n", std::to_string(recentCommits), "--name-only",
                                       "--pretty=format:"})) {
        if (!seen.insert(name).second) continue;
        std::error_code error;
        if (std::filesystem::exists(root + "/" + name, error)) files.push_back(std::move(name));
    }
    return files;
}

// A name git prints plainly is a path, at most PATH_MAX bytes and its line break, so that much
// of the listing for each name wanted holds the first `limit` of them (unless git had to quote
// many names before them, which are left out anyway).
std::vector<std::string> Git::trackedFiles(const std::string& root, std::size_t limit) const {
    const std::size_t outputLimit = limit > SIZE_MAX / (PATH_MAX + 1) ? SIZE_MAX : limit * (PATH_MAX + 1);
    return fileNames(root, {"ls-files"}, limit, outputLimit);
}

}  // namespace quib
