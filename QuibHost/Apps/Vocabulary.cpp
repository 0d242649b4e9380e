#include "QuibHost/Apps/Vocabulary.hpp"

#include "Runtime/FileURL.hpp"
#include "Runtime/Required.hpp"

namespace quib {

Vocabulary::Vocabulary(Config config)
    : clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      desktop_(used(std::move(config.desktop))),
      injector_(std::move(config.injector)),
      paneFolder_(required(std::move(config.paneFolder), "Vocabulary", "pane folders")),
      git_(std::move(config.git)),
      dictionaryFile_(std::move(config.dictionary)),
      queue_(std::string(queueLabel), clock_) {}

DesktopServices Vocabulary::used(DesktopServices desktop) {
    (void)required(desktop.workspace, "Vocabulary", "workspace");
    (void)required(desktop.documents, "Vocabulary", "open documents");
    return desktop;
}

std::vector<std::string> Vocabulary::terms(const QuibTarget& target) {
    const auto folder = workingDirectory(target);
    if (!folder) return {};
    if (auto kept = cached(*folder)) return std::move(*kept);
    auto found = extract(*folder);
    MutexLock lock(lock_);
    cache_.insert_or_assign(*folder, Entry{found, clock_->now()});
    return found;
}

std::optional<std::vector<std::string>> Vocabulary::cached(const std::string& folder) const {
    MutexLock lock(lock_);
    const auto found = cache_.find(folder);
    if (found == cache_.end() || clock_->now() - found->second.at >= ttl) return std::nullopt;
    return found->second.terms;
}

std::optional<std::string> Vocabulary::workingDirectory(const QuibTarget& target) {
    switch (target.kind) {
        case QuibTarget::Kind::frontmost: return documentDirectory(desktop_.workspace->frontmostApp());
        case QuibTarget::Kind::tmux:
            // A pane address may name another pane by now; only an identifier is sure.
            if (!target.tmuxTarget || !target.tmuxTarget->starts_with('%')) return std::nullopt;
            return paneFolder_(*target.tmuxTarget);
        case QuibTarget::Kind::app: {
            if (!target.bundleID || target.bundleID->empty()) return std::nullopt;
            const auto running = desktop_.workspace->runningInstances(*target.bundleID);
            if (running.empty()) return std::nullopt;
            return documentDirectory(running.front());
        }
    }
    return std::nullopt;
}

std::optional<std::string> Vocabulary::documentDirectory(const std::optional<Workspace::RunningApp>& app) {
    if (!app || !injector_ || !injector_->isTrusted()) return std::nullopt;
    const auto url = desktop_.documents->documentURL(app->processID);
    if (!url) return std::nullopt;
    auto path = pathOfFileURL(*url);
    if (!path) return std::nullopt;
    // A folder's URL may end in "/": its parent is the folder above, as for a file.
    while (path->has_relative_path() && !path->has_filename()) *path = path->parent_path();
    return path->parent_path().string();
}

std::vector<std::string> Vocabulary::extract(const std::string& folder) {
    const auto root = git_.root(folder);
    if (!root) return {};
    return rank(candidates(*root));
}

Vocabulary::ScoreTable Vocabulary::candidates(const std::string& root) {
    ScoreTable table;
    for (const auto& branch : git_.branches(root)) {
        table.add(branch, 5.0);
        for (const auto& part : parts(branch)) table.add(part, 4.0);
    }
    const auto recent = git_.recentlyChangedFiles(root);
    for (std::size_t i = 0; i < recent.size(); ++i) {
        const double weight = 4.0 / static_cast<double>(i / 5 + 1);
        addFile(table, recent[i], weight);
        if (i >= identifierFiles) continue;
        for (const auto& word : identifiers(root + "/" + recent[i])) table.add(word, 0.75 * weight);
    }
    for (const auto& file : git_.trackedFiles(root, trackedFileLimit)) addFile(table, file, 0.5);
    return table;
}

// A file's name, the name without its extension, and the parts of that.
void Vocabulary::addFile(ScoreTable& table, const std::string& path, double weight) {
    const std::filesystem::path file(path);
    const std::string stem = file.stem().string();
    table.add(file.filename().string(), weight);
    table.add(stem, weight);
    for (const auto& part : parts(stem)) table.add(part, weight);
}

}  // namespace quib
