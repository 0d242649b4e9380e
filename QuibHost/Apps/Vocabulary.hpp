#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Platform/DesktopServices.hpp"
#include "QuibHost/Apps/Git.hpp"
#include "QuibHost/Apps/VocabularyService.hpp"
#include "QuibHost/Targets/EventInjectorService.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// The words a phone's speech recogniser should expect when the user dictates into a target: the
// names of the project the target works in. It finds the target's working folder (a tmux pane's
// current folder, or the folder of the document in an app's focused window), asks git for the
// repository's branches, recently changed files and tracked files, reads identifiers out of the
// most recently changed source files, weights every candidate by where it came from, drops
// numbers, hashes and plain dictionary words, and gives at most 2000 terms, best first.
//
// One per process. Results are kept per working folder (as found, not the repository's top) for
// 60 s on the injected clock, an empty one too. `terms` blocks while git and the file reads run,
// so it runs on the vocabulary's own queue; two extractions never overlap. The cache's lock is
// never held while git runs, files are read or the desktop is asked.
class Vocabulary final : public VocabularyService {
public:
    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.vocabulary";
    // How long a result is served again.
    static constexpr Duration ttl = std::chrono::seconds(60);
    static constexpr std::string_view dictionaryPath = "/usr/share/dict/words";
    static constexpr std::size_t maxTerms = 2000;
    // Candidates shorter or longer than this (in characters) are not kept.
    static constexpr std::size_t shortestTerm = 3;
    static constexpr std::size_t longestTerm = 64;
    // Identifiers are read from this many of the recently changed files, each at most this size.
    static constexpr std::size_t identifierFiles = 40;
    static constexpr std::uintmax_t largestSourceFile = 256 * 1024;
    // Tracked files past this many are not looked at.
    static constexpr std::size_t trackedFileLimit = 5000;
    // The file-name extensions (in lower case) of the files read for identifiers.
    static constexpr std::array<std::string_view, 34> sourceExtensions = {
        "swift", "m",   "mm",  "h",   "c",  "cc", "cpp", "hpp",  "rs",   "go",  "java", "kt",
        "ts",    "tsx", "js",  "jsx", "py", "rb", "sh",  "zsh",  "bash", "sql", "php",  "cs",
        "scala", "ex",  "exs", "lua", "pl", "r",  "yml", "yaml", "toml", "json"};

    // The working folder of the tmux pane with this identifier ("%3"); none when tmux cannot say.
    using PaneFolder = std::function<std::optional<std::string>(const std::string& paneID)>;

    struct Config {
        std::shared_ptr<Clock> clock = nullptr;  // none: the system clock
        // The workspace names the running apps, the documents say which folder an app shows;
        // both are required.
        DesktopServices desktop = {};
        // Whether the desktop's accessibility interface may be asked about other apps; none:
        // never.
        std::shared_ptr<EventInjectorService> injector = nullptr;
        PaneFolder paneFolder = nullptr;  // required
        Git git = Git();
        // The word list whose plain words are dropped, read at the first ranking.
        std::filesystem::path dictionary = std::filesystem::path(dictionaryPath);
    };

    // Candidate terms and the best weight each was given, in the order they were first given.
    // Letter case matters here ("Cafe" and "cafe" are two terms); composed and decomposed forms
    // of one text are one term, kept in the form first given.
    class ScoreTable {
    public:
        // Keeps `term` at `weight` unless it is outside the length bounds or already kept at a
        // weight as high.
        void add(std::string_view term, double weight);
        // The weight kept for the term (or a composed or decomposed form of it).
        std::optional<double> weight(std::string_view term) const;
        const std::vector<std::pair<std::string, double>>& entries() const { return entries_; }

    private:
        std::unordered_map<std::string, std::size_t> index_;  // composed form -> entry
        std::vector<std::pair<std::string, double>> entries_;
    };

    explicit Vocabulary(Config config);
    Vocabulary(const Vocabulary&) = delete;
    Vocabulary& operator=(const Vocabulary&) = delete;

    // The queue `terms` runs on.
    Executor& queue() override { return queue_; }

    // The target's terms, best first; empty when it has no working folder or nothing applies.
    std::vector<std::string> terms(const QuibTarget& target) override;

    // The steps of `terms`.
    // A tmux target's pane folder when the pane is named by its identifier; an app target's
    // first running instance's document folder; the frontmost app's document folder.
    std::optional<std::string> workingDirectory(const QuibTarget& target);
    // The folder of the document in the app's focused window, asked only when the host is
    // trusted with the desktop's accessibility interface.
    std::optional<std::string> documentDirectory(const std::optional<Workspace::RunningApp>& app);
    // The ranked terms of the repository `folder` is in; none outside one.
    std::vector<std::string> extract(const std::string& folder);
    // Every candidate of the repository whose top folder is `root`, at the best weight given:
    // branches, recently changed files with the identifiers in them, and tracked files.
    ScoreTable candidates(const std::string& root);
    // The words of a source file (by its extension) of at most 256 KiB, each of at least three
    // characters followed by its parts, in file order with repetitions.
    static std::vector<std::string> identifiers(const std::filesystem::path& file);
    // The pieces a person would say: split at "_", "-", "/" and "." and where a capital follows
    // a small letter. A word that does not split has no parts.
    static std::vector<std::string> parts(std::string_view word);
    // The terms worth saying, best first: no numbers, long hexadecimal runs or plain dictionary
    // words, one form of each word whatever its letter case (the best weighted), at most 2000.
    std::vector<std::string> rank(const ScoreTable& table);

private:
    // The desktop services the vocabulary asks, after checking that none is missing.
    static DesktopServices used(DesktopServices desktop);

    struct Entry {
        std::vector<std::string> terms;
        MonoTime at;
    };

    std::optional<std::vector<std::string>> cached(const std::string& folder) const;
    void addFile(ScoreTable& table, const std::string& path, double weight);
    bool isDictionaryWord(std::string_view term);

    std::shared_ptr<Clock> clock_;
    DesktopServices desktop_;
    std::shared_ptr<EventInjectorService> injector_;
    PaneFolder paneFolder_;
    Git git_;
    std::filesystem::path dictionaryFile_;

    std::once_flag dictionaryRead_;
    std::unordered_set<std::string> dictionary_;  // composed, lower case

    mutable Mutex lock_;  // guards cache_
    std::map<std::string, Entry> cache_ GUARDED_BY(lock_);

    // Declared last so that it stops first: its tasks use everything above.
    SerialQueue queue_;
};

}  // namespace quib
