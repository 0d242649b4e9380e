#include "QuibHost/Apps/Git.hpp"

#include <unordered_set>

#include "Platform/Subprocess.hpp"
#include "Platform/UnicodeText.hpp"

namespace quib {
namespace {

// The non-empty lines of `text`.
std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!line.empty()) out.emplace_back(line);
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

std::optional<std::string> Git::output(const std::string& folder, std::vector<std::string> arguments) const {
    const auto git = executableURL();
    if (!git) return std::nullopt;
    arguments.insert(arguments.begin(), {"-c", "core.quotePath=false", "-C", folder});
    const auto result = Subprocess::runBytes(*git, arguments, std::nullopt, timeout);
    if (!result.ok) return std::nullopt;
    return readableLines(result.output);
}

std::optional<std::string> Git::root(const std::string& folder) const {
    auto top = output(folder, {"rev-parse", "--show-toplevel"});
    if (!top || top->empty()) return std::nullopt;
    return top;
}

std::vector<std::string> Git::branches(const std::string& root) const {
    const auto listing = output(root, {"branch", "--format=%(refname:short)"});
    if (!listing) return {};
    std::vector<std::string> names = lines(*listing);
    std::erase_if(names, [](const std::string& name) { return name.starts_with('('); });
    return names;
}

std::vector<std::string> Git::fileNames(const std::string& root, std::vector<std::string> arguments) const {
    const auto listing = output(root, std::move(arguments));
    if (!listing) return {};
    std::vector<std::string> names = lines(*listing);
    std::erase_if(names, [](const std::string& name) { return name.starts_with('"'); });
    return names;
}

std::vector<std::string> Git::recentlyChangedFiles(const std::string& root) const {
    std::vector<std::string> files;
    std::unordered_set<std::string> seen;
    for (auto& name : fileNames(root, {"log", "-n", std::to_string(recentCommits), "--name-only", "--pretty=format:"})) {
        if (!seen.insert(name).second) continue;
        std::error_code error;
        if (std::filesystem::exists(root + "/" + name, error)) files.push_back(std::move(name));
    }
    return files;
}

std::vector<std::string> Git::trackedFiles(const std::string& root) const { return fileNames(root, {"ls-files"}); }

}  // namespace quib
