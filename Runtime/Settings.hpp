#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "Runtime/Bytes.hpp"
#include "Runtime/Result.hpp"

namespace quib {

using SettingValue = std::variant<Bytes, std::string, bool, std::int64_t, double>;

// The user-defaults store: typed values by key, safe to use from any thread. A value of
// another type than the one asked for reads as absent.
//
// On disk it is one flat JSON object that a person can read and edit: strings, numbers and
// booleans as themselves, byte values as {"data": "<standard Base64>"}. Every change rewrites the
// file atomically; a file that cannot be read is set aside, never overwritten. It is read only
// when it is a regular file of at most `largestFile` bytes, without ever waiting (a FIFO or a
// device in its place is set aside too), and a change that would make it larger is not written.
// The file is written outside the lock that readers take, so no reader waits for a disk; when
// writes race, the last change made is the one the file keeps. Temporary files that an
// interrupted write left beside the file are removed when it is opened.
//
// A change that cannot be written (a full disk, a file that could not be set aside) is kept in
// memory all the same, and its caller is told why; the next change that is written saves it too.
class Settings {
    // Only the class's own factories can make this key, so construction goes through them.
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // The largest file that is read, and written.
    static constexpr std::uintmax_t largestFile = 16 << 20;

    // Writes the whole file; writeFileAtomically unless a test gives another.
    using Writer = std::function<Result<void>(const std::filesystem::path& path, std::string_view contents)>;

    Settings(Passkey, std::filesystem::path path, Writer writer);
    // A store that lives in memory only (tests).
    static std::shared_ptr<Settings> inMemory();
    // A store kept in the file at `path`.
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

private:
    // The file's text as of one change, numbered in the order of the changes.
    struct Snapshot {
        std::string text;
        std::uint64_t generation = 0;
    };
    // What a change leaves to write: nothing (a store in memory), a snapshot, or why none can be.
    using Pending = Result<std::optional<Snapshot>>;

    void load();
    Pending snapshot();                  // with mutex_ held
    Result<void> write(Pending pending);  // without it
    static nlohmann::ordered_json encode(const SettingValue& value);
    std::optional<nlohmann::json> raw(std::string_view key) const;

    std::filesystem::path path_;
    Writer writer_;
    bool saving_ = true;  // false when an unreadable file could not be moved out of the way
    mutable std::mutex mutex_;
    nlohmann::ordered_json values_ = nlohmann::ordered_json::object();
    std::uint64_t changes_ = 0;  // under mutex_
    std::mutex writeMutex_;      // one write at a time, never held with mutex_
    std::uint64_t written_ = 0;  // under writeMutex_: the newest change the file holds
    std::string writtenText_;    // under writeMutex_: the text this store last wrote
};

}  // namespace quib
