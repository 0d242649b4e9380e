#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/SettingKey.hpp"
#include "Runtime/Sleeper.hpp"

namespace quib {

using SettingValue = std::variant<Bytes, std::string, bool, std::int64_t, double>;

// The user-defaults store: typed values by key, safe to use from any thread. A value of
// another type than the one asked for reads as absent.
//
// On disk it is one flat JSON object that a person can read and edit, also while the host runs:
// strings, numbers and booleans as themselves, byte values as {"data": "<standard Base64>"}.
// Every read first looks whether someone else changed the file; if so its values are taken as if
// they had been set here (a file caught half-edited, that does not parse, is ignored and said so
// once, until it parses again). It looks at the file itself only when the kernel reported a
// change in its folder since the last look (inotify), or at every read where no such report can
// be had. An empty file met while running is an editor's save caught between truncating and
// writing: the values read before are kept, and the file is not written over until it reads
// whole again, or has stayed empty for `blankGrace`. Blank means fresh only at the start. Every
// change is merged into the file's current contents, never written from a stale copy, and
// written atomically; stores of several processes that share the file take turns through a lock
// on its folder, so none loses another's key. A change waits at most `lockWait` for that lock.
//
// A file that is not JSON at all is refused by `open`, touching nothing, so that a slip of a
// hand edit never costs the user their settings. A file that cannot be read is set aside, never
// overwritten. It is read only when it is a regular file of at most `largestFile` bytes, without
// ever waiting (a FIFO or a device in its place is set aside too), and a change that would make
// it larger is not written. No reader waits for a write to reach the disk. Temporary files that
// an interrupted write left beside the file are removed when it is opened.
//
// A change that cannot be written (a full disk, a file that could not be set aside, a file caught
// mid-edit, a folder lock held past its wait) is kept in memory all the same, and its caller is
// told why; the next change that is written saves it too.
class Settings {
    // Only the class's own factories can make this key, so construction goes through them.
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // The largest file that is read, and written.
    static constexpr std::uintmax_t largestFile = 16 << 20;
    // How long a change waits for another program's lock on the folder. Once a wait has run out,
    // later changes try the lock once without waiting, until one takes it.
    static constexpr std::chrono::seconds lockWait{2};
    // How long an empty file is taken for an editor's save in progress.
    static constexpr std::chrono::seconds blankGrace{2};

    // Writes the whole file; writeFileAtomically unless a test gives another.
    using Writer = std::function<Result<void>(const std::filesystem::path& path, std::string_view contents)>;

    Settings(Passkey, std::filesystem::path path, Writer writer);
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;
    // A store that lives in memory only (tests).
    static std::shared_ptr<Settings> inMemory();
    // A store kept in the file at `path`; fails, touching nothing, when the file is not valid
    // JSON, with "<file name>:LINE:COLUMN: <what is wrong>".
    static Result<std::shared_ptr<Settings>> open(std::filesystem::path path, Writer writer = nullptr);
    // The same, for tools and tests: a file that is not valid JSON is set aside like one that
    // cannot be read.
    static std::shared_ptr<Settings> atPath(std::filesystem::path path, Writer writer = nullptr);
    // $XDG_CONFIG_HOME/Quib/defaults.json
    static std::filesystem::path defaultPath();

    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    // Whole numbers only.
    std::optional<std::int64_t> integer(std::string_view key) const;
    // Any number.
    std::optional<double> real(std::string_view key) const;
    std::optional<Bytes> bytes(std::string_view key) const;
    // A JSON array of strings; an array holding anything else reads as absent.
    std::optional<std::vector<std::string>> stringList(std::string_view key) const;
    bool contains(std::string_view key) const;

    // A setting with a rule: the stored value when it keeps the rule, else `fallback`. A value
    // that is there but breaks the rule is logged once (until it changes) with the key, the value
    // and the rule: "quib.port 80 ignored: must be a whole number from 1025 to 65535; using 61413".
    std::int64_t integerInRange(std::string_view key, std::int64_t lowest, std::int64_t highest,
                                std::int64_t fallback) const;
    // `rule` says in words what `accepts` checks, as in "must be a number above 0 and below 2".
    double realWhere(std::string_view key, const std::function<bool(double)>& accepts, std::string_view rule,
                     double fallback) const;
    bool flag(std::string_view key, bool fallback) const;

    // A setting of the settings table, read by its row's rule. A value that breaks the rule is
    // logged as the row says, once (until it changes), and the row's fallback is used.
    bool get(const SettingKey<SettingRow::Flag>& key) const;
    std::int64_t get(const SettingKey<SettingRow::Whole>& key) const;
    double get(const SettingKey<SettingRow::Real>& key) const;
    // The stored text as it is; its reader checks it.
    std::optional<std::string> get(const SettingKey<SettingRow::Text>& key) const { return string(key); }
    // The stored list; none when the key holds nothing or anything but a list of texts.
    std::optional<std::vector<std::string>> get(const SettingKey<SettingRow::TextList>& key) const {
        return stringList(key);
    }
    // True only when the key holds true.
    bool get(const SettingKey<SettingRow::Mark>& key) const { return boolean(key).value_or(false); }
    std::optional<Bytes> get(const SettingKey<SettingRow::Record>& key) const { return bytes(key); }

    // Each change is made at once; the result says whether the file holds it (a store in memory
    // always does).
    Result<void> set(std::string_view key, SettingValue value);
    Result<void> setString(std::string_view key, std::string value) { return set(key, SettingValue(std::move(value))); }
    Result<void> setBool(std::string_view key, bool value) { return set(key, SettingValue(value)); }
    Result<void> setInteger(std::string_view key, std::int64_t value) { return set(key, SettingValue(value)); }
    Result<void> setReal(std::string_view key, double value) { return set(key, SettingValue(value)); }
    Result<void> setBytes(std::string_view key, Bytes value) { return set(key, SettingValue(std::move(value))); }
    // Several values changed as one: the file is written once, holding all of them or none.
    Result<void> setMany(std::vector<std::pair<std::string, SettingValue>> values);
    // Removing a key that holds nothing changes nothing and succeeds.
    Result<void> remove(std::string_view key);
    // Moves the value under `from`, whatever its type, to `to` (used to keep an unreadable value
    // aside before it would be overwritten). False, changing nothing, when `from` holds no value
    // or `to` already holds one.
    bool moveValue(std::string_view from, std::string_view to);
    // Keeps an unreadable value out of harm's way: moves it to the first free key of
    // "<key>.unreadable", "<key>.unreadable-2", ... and returns that key; none when `key` holds
    // no value.
    std::optional<std::string> setAside(std::string_view key);

    // Where a file-backed store keeps its values; empty for one in memory.
    const std::filesystem::path& path() const { return path_; }

    // What times the wait for the folder lock and tells how old an empty file is; the system's
    // clock and sleeper unless a test gives others. Before the store is shared between threads.
    void setTiming(std::shared_ptr<Clock> clock, std::shared_ptr<Sleeper> sleeper);
    // How many times the store has looked at its file to see whether it changed (diagnostics).
    std::uint64_t looks() const;

private:
    using Json = nlohmann::ordered_json;
    // What identifies one version of the file: a rename or a rewrite changes at least one part.
    struct Signature {
        bool present = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNs = 0, changedNs = 0;
        bool operator==(const Signature&) const = default;
    };
    // A change of this store, kept until the file holds it: a value, or none for a removal.
    using Edits = std::vector<std::pair<std::string, std::optional<Json>>>;

    class Watch;  // Settings.cpp

    Result<void> load(bool setAsideWhatIsNotJson) REQUIRES(mutex_);
    Signature signatureNow() const;
    // Looks at the file when the watch reports a change, or always when `force`.
    void refresh(bool force = false) const REQUIRES(mutex_);
    bool caughtMidEdit(const Signature& signature) const REQUIRES(mutex_, writeMutex_);
    Result<void> change(const std::function<bool(Edits&)>& edit);
    Result<void> writeLocked(const std::string& text) REQUIRES(writeMutex_) EXCLUDES(mutex_);
    bool alters(const Edits& edits) const REQUIRES(mutex_);
    void apply(const Edits& edits) const REQUIRES(mutex_);
    void reportBroken(const Signature& signature, const std::string& problem) const REQUIRES(mutex_);
    // Logs the line `line` makes of the value as shown, once for each value `key` holds.
    void reportIgnored(std::string_view key, const nlohmann::json& value,
                       const std::function<std::string(std::string_view shown)>& line) const;
    void reportIgnored(const SettingRow& row, const nlohmann::json& value) const;
    static Json encode(const SettingValue& value);
    std::optional<nlohmann::json> raw(std::string_view key) const;

    std::filesystem::path path_;
    Writer writer_;
    bool saving_ = true;  // false when an unreadable file could not be moved out of the way
    mutable Mutex mutex_;
    mutable Json values_ GUARDED_BY(mutex_) = Json::object();
    mutable Signature known_ GUARDED_BY(mutex_);                    // the version of the file values_ reflect
    mutable Signature broken_ GUARDED_BY(mutex_);                   // a version that did not parse, said once
    mutable Signature blank_ GUARDED_BY(mutex_);                    // an empty version met while running, said once
    mutable Edits unsaved_ GUARDED_BY(mutex_);                      // this store's changes the file lacks yet
    mutable std::vector<std::string> reported_ GUARDED_BY(mutex_);  // "key=value" already logged as ignored
    mutable std::unique_ptr<Watch> watch_ GUARDED_BY(mutex_);       // none for a store in memory
    mutable std::uint64_t looks_ GUARDED_BY(mutex_) = 0;
    Mutex writeMutex_ ACQUIRED_BEFORE(mutex_);  // one change at a time, never taken while mutex_ is held
    std::shared_ptr<Clock> clock_ GUARDED_BY(writeMutex_);
    std::shared_ptr<Sleeper> sleeper_ GUARDED_BY(writeMutex_);
    bool lockBusy_ GUARDED_BY(writeMutex_) = false;  // the last wait for the folder lock ran out
};

}  // namespace quib
