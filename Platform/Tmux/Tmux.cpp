#include "Platform/Tmux/Tmux.hpp"

#include <algorithm>

#include "Runtime/Logger.hpp"
#include "Runtime/Subprocess.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// One or more characters, all numeric (in any script).
bool isNumeral(std::string_view text) {
    if (text.empty()) return false;
    const std::u32string points = unicode::codePoints(text);
    return std::ranges::all_of(points, unicode::isNumeric);
}

// `text` cut at `separator`: at most `limit` pieces, the last one holding the rest.
std::vector<std::string_view> split(std::string_view text, char separator, std::size_t limit) {
    std::vector<std::string_view> pieces;
    while (pieces.size() + 1 < limit) {
        const auto at = text.find(separator);
        if (at == std::string_view::npos) break;
        pieces.push_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
    pieces.push_back(text);
    return pieces;
}

// One record from the front of `rest`, which it then leaves behind; none, leaving `rest` as it
// was, when the front is not a whole record.
std::optional<Tmux::Pane> takePane(std::string_view& rest) {
    std::string_view text = rest;
    const auto field = [&text](char end) -> std::optional<std::string_view> {
        const auto at = text.find(end);
        if (at == std::string_view::npos) return std::nullopt;
        const std::string_view value = text.substr(0, at);
        text.remove_prefix(at + 1);
        return value;
    };
    const auto counted = [&text](std::size_t length, char end) -> std::optional<std::string_view> {
        if (text.size() <= length || text[length] != end) return std::nullopt;
        const std::string_view value = text.substr(0, length);
        text.remove_prefix(length + 1);
        return value;
    };
    const auto id = field('|');
    std::size_t lengths[3] = {};
    for (auto& length : lengths) {
        const auto digits = field('|');
        if (!digits || digits->empty() || digits->size() > 9 ||
            !std::ranges::all_of(*digits, [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        length = std::stoul(std::string(*digits));
    }
    const auto session = counted(lengths[0], ':');
    const auto place = session ? field('|') : std::nullopt;
    const auto command = place ? counted(lengths[1], '|') : std::nullopt;
    const auto path = command ? counted(lengths[2], '|') : std::nullopt;
    if (!id || !path || (!text.empty() && text.front() != '\n')) return std::nullopt;
    Tmux::Pane pane{std::string(*id), std::string(*session) + ":" + std::string(*place), std::string(*command),
                    std::string(*path)};
    if (!Tmux::isPaneID(pane.id) || !Tmux::isPaneSpec(pane.spec) || pane.command.empty()) return std::nullopt;
    rest = text;
    return pane;
}

}  // namespace

Tmux::Tmux() : Tmux(std::vector<std::filesystem::path>(standardPaths.begin(), standardPaths.end())) {}

Tmux::Tmux(std::vector<std::filesystem::path> paths, Runner runner)
    : paths_(std::move(paths)), runner_(std::move(runner)), untrimmedRunner_(runner_) {
    if (!runner_) {
        runner_ = [](const std::filesystem::path& tmux, const std::vector<std::string>& arguments,
                     std::optional<std::string_view> input) {
            return Subprocess::run(tmux, arguments, input, timeout);
        };
        untrimmedRunner_ = [](const std::filesystem::path& tmux, const std::vector<std::string>& arguments,
                              std::optional<std::string_view> input) {
            return Subprocess::run(tmux, arguments, input, timeout, Subprocess::Ends::kept);
        };
    }
}

std::optional<std::filesystem::path> Tmux::executableURL() const { return Subprocess::firstExecutable(paths_); }

std::optional<Subprocess::Result> Tmux::run(const std::vector<std::string>& arguments,
                                            std::optional<std::string_view> input) const {
    const auto tmux = executableURL();
    if (!tmux) return std::nullopt;
    return runner_(*tmux, arguments, input);
}

std::optional<Subprocess::Result> Tmux::runUntrimmed(const std::vector<std::string>& arguments) const {
    const auto tmux = executableURL();
    if (!tmux) return std::nullopt;
    return untrimmedRunner_(*tmux, arguments, std::nullopt);
}

std::optional<std::string> Tmux::output(const std::vector<std::string>& arguments) const {
    auto result = run(arguments);
    if (!result || !result->ok) return std::nullopt;
    return std::move(result->output);
}

std::vector<Tmux::Pane> Tmux::listPanes() const {
    const auto listing = output(listPanesArguments());
    return listing ? parsePanes(*listing) : std::vector<Pane>{};
}

// Only the two shapes of a pane are put to tmux: it reads much else as a target too (its own
// options, "-" for the last pane, a session picked for it), and would answer with some pane. An
// address is then checked with a pane listing: asked about a window or pane that does not exist,
// display-message still succeeds and names the session's current pane, which would point the
// target at the wrong pane.
std::optional<std::string> Tmux::resolve(const std::string& spec) const {
    if (isPaneID(spec)) return paneExists(spec) ? std::optional(spec) : std::nullopt;
    if (!isPaneSpec(spec) || spec.starts_with('-')) return std::nullopt;
    if (!output(paneCheckArguments(spec))) return std::nullopt;
    auto id = output(paneIDArguments(spec));
    if (!id || !id->starts_with('%')) return std::nullopt;
    return id;
}

// An unknown identifier makes tmux print nothing (or fail).
bool Tmux::paneExists(const std::string& id) const {
    const auto found = output(paneIDArguments(id));
    return found && *found == id;
}

std::optional<std::string> Tmux::currentPath(const std::string& pane) const {
    auto path = output(currentPathArguments(pane));
    if (!path || path->empty()) return std::nullopt;
    return path;
}

std::vector<Tmux::Pane> Tmux::parsePanes(std::string_view output) {
    std::vector<Pane> panes;
    while (!output.empty()) {
        if (output.front() == '\n') {
            output.remove_prefix(1);
            continue;
        }
        if (auto pane = takePane(output)) {
            panes.push_back(std::move(*pane));
            continue;
        }
        const auto end = output.find('\n');
        quibLog().error("skipping unparseable tmux pane line: ", pub(output.substr(0, end)));
        output.remove_prefix(end == std::string_view::npos ? output.size() : end + 1);
    }
    return panes;
}

bool Tmux::isPaneSpec(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const auto numbers = split(text.substr(colon + 1), '.', std::string_view::npos);
    return numbers.size() == 2 && isNumeral(numbers[0]) && isNumeral(numbers[1]);
}

bool Tmux::isPaneID(std::string_view text) { return text.starts_with('%') && isNumeral(text.substr(1)); }

std::vector<std::string> Tmux::listPanesArguments() { return {"list-panes", "-a", "-F", std::string(paneFormat)}; }

std::vector<std::string> Tmux::paneIDArguments(const std::string& spec) {
    return {"display-message", "-p", "-t", spec, "#{pane_id}"};
}

std::vector<std::string> Tmux::paneCheckArguments(const std::string& spec) {
    return {"list-panes", "-t", spec, "-F", "#{pane_id}"};
}

std::vector<std::string> Tmux::currentPathArguments(const std::string& pane) {
    return {"display-message", "-p", "-t", pane, "#{pane_current_path}"};
}

std::vector<std::string> Tmux::loadBufferArguments() { return {"load-buffer", "-b", std::string(bufferName), "-"}; }

std::vector<std::string> Tmux::setBufferArguments(const std::string& text) {
    return {"set-buffer", "-b", std::string(bufferName), "--", text};
}

std::vector<std::string> Tmux::pasteTextArguments(const std::string& pane) {
    std::vector<std::string> chained = paneCheckArguments(pane);
    chained.emplace_back(";");
    for (auto&& argument : loadBufferArguments()) chained.push_back(std::move(argument));
    chained.emplace_back(";");
    for (auto&& argument : pasteBufferArguments(pane)) chained.push_back(std::move(argument));
    return chained;
}

std::vector<std::string> Tmux::pasteBufferArguments(const std::string& pane) {
    return {"paste-buffer", "-d", "-p", "-b", std::string(bufferName), "-t", pane};
}

std::vector<std::string> Tmux::submitArguments(const std::string& pane) { return {"send-keys", "-t", pane, "Enter"}; }

std::vector<std::string> Tmux::sendKeyArguments(const std::string& pane, const std::string& key) {
    return {"send-keys", "-t", pane, key};
}

std::vector<std::string> Tmux::selectPaneArguments(const std::string& pane) { return {"select-pane", "-t", pane}; }

}  // namespace quib
