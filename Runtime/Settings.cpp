#include "Runtime/Settings.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "Runtime/AtomicFile.hpp"
#include "Runtime/Base64.hpp"
#include "Runtime/BoundedJson.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/XdgFolders.hpp"

namespace quib {
namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

// Finds where text stops being JSON, without building anything (the parser keeps its own
// stack, so no nesting is too deep for it): "LINE:COLUMN: what is wrong", or none.
class SyntaxCheck {
public:
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(Json::number_integer_t) { return true; }
    bool number_unsigned(Json::number_unsigned_t) { return true; }
    bool number_float(Json::number_float_t, const Json::string_t&) { return true; }
    bool string(Json::string_t&) { return true; }
    bool binary(Json::binary_t&) { return true; }
    bool start_object(std::size_t) { return true; }
    bool key(Json::string_t&) { return true; }
    bool end_object() { return true; }
    bool start_array(std::size_t) { return true; }
    bool end_array() { return true; }
    bool parse_error(std::size_t byte, const std::string&, const nlohmann::detail::exception& error) {
        // The parser's own words, less its "[json.exception...] parse error at line L, column C: ".
        std::string what = error.what();
        if (const auto column = what.find("column "); column != std::string::npos) {
            if (const auto colon = what.find(": ", column); colon != std::string::npos) what.erase(0, colon + 2);
        }
        error_ = Error{byte, std::move(what)};
        return false;
    }

    static std::optional<std::string> of(std::string_view text) {
        if (const auto nul = text.find('\0'); nul != std::string_view::npos) return at(text, nul + 1, "a NUL byte");
        SyntaxCheck check;
        if (Json::sax_parse(text.begin(), text.end(), &check) || !check.error_) return std::nullopt;
        return at(text, check.error_->byte, check.error_->what);
    }

private:
    struct Error {
        std::size_t byte;
        std::string what;
    };

    // Lines and columns count from 1; `byte` is the 1-based offset the parser stopped at.
    static std::string at(std::string_view text, std::size_t byte, const std::string& what) {
        const std::size_t end = std::min(byte == 0 ? 0 : byte - 1, text.size());
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < end; ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return std::to_string(line) + ":" + std::to_string(column) + ": " + what;
    }

    std::optional<Error> error_;
};

bool blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The settings object of a file's text; an empty file holds no settings.
Result<Json> settingsObject(const fs::path& path, std::string_view text) {
    if (blank(text)) return Json::object();
    if (auto syntax = SyntaxCheck::of(text)) return fail(path.string() + ":" + *syntax);
    auto parsed = BoundedJson::parse(text);
    if (!parsed) return parsed.error();
    if (!parsed->is_object()) return fail("it is not a JSON object");
    return parsed;
}

// Holds an exclusive lock on a folder for as long as it lives, once `lock` has taken it (there
// is none to take when the folder is missing), so that processes sharing a file in it change it
// one at a time.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder)
        : descriptor_(folder.empty() ? -1 : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          folder_(folder) {}

    // Waits at most `longest` for a program that holds the lock: one that keeps it longer is not
    // waited for. A folder that cannot be locked at all is not shared, so it needs no lock.
    Result<void> lock(Duration longest, Clock& clock, Sleeper& sleeper) {
        if (!descriptor_.isOpen()) return {};
        const MonoTime giveUp = clock.now() + longest;
        Duration pause = std::chrono::milliseconds(1);
        for (;;) {
            if (::flock(descriptor_.get(), LOCK_EX | LOCK_NB) == 0) return {};
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return {};
            const MonoTime now = clock.now();
            if (now >= giveUp)
                return fail("Another program holds the lock on " + folder_.string() +
                            ", so the change is kept until it can be saved");
            sleeper.sleep(std::min(pause, giveUp - now));
            pause = std::min<Duration>(pause * 2, std::chrono::milliseconds(50));
        }
    }

private:
    FileDescriptor descriptor_;
    fs::path folder_;
};

std::string shortened(std::string text) {
    constexpr std::size_t most = 80;
    if (text.size() > most) text = text.substr(0, most) + "...";
    return text;
}

std::string numberText(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

// Tells whether the settings file may have changed since it was last asked, from what inotify
// reports of the file's folder (the file written in place, renamed over, created or removed) and
// of the file itself (written through a link). Without inotify, or while the folder cannot be
// watched, every question is answered yes.
class Settings::Watch {
public:
    explicit Watch(const fs::path& file)
        : folder_(file.parent_path()),
          name_(file.filename().string()),
          file_(file),
          descriptor_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        rewatch();
    }

    // Drains what the kernel reported; true when any of it may concern the file.
    bool mayHaveChanged() {
        if (!descriptor_.isOpen()) return true;
        if (folderWatch_ < 0) {
            rewatch();
            drain();
            return true;
        }
        return drain();
    }

    // Watches the file that is there now, as a look finds a new version of it.
    void rewatch() {
        if (!descriptor_.isOpen()) return;
        if (folderWatch_ < 0)
            folderWatch_ =
                ::inotify_add_watch(descriptor_.get(), folder_.c_str(),
                                    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                                        IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        const int file = ::inotify_add_watch(descriptor_.get(), file_.c_str(),
                                             IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
        if (fileWatch_ >= 0 && file != fileWatch_) (void)::inotify_rm_watch(descriptor_.get(), fileWatch_);
        fileWatch_ = file;
    }

private:
    bool drain() {
        bool changed = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(descriptor_.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return changed;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                changed = concerns(*event) || changed;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    bool concerns(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) return true;
        if (event.wd == folderWatch_) {
            if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                if (event.mask & IN_IGNORED) folderWatch_ = -1;
                return true;
            }
            return event.len > 0 && name_ == event.name;
        }
        if (event.wd != fileWatch_) return false;  // a file that was there before
        if (event.mask & IN_IGNORED) fileWatch_ = -1;
        return true;
    }

    fs::path folder_;
    std::string name_;
    fs::path file_;
    FileDescriptor descriptor_;
    int folderWatch_ = -1;
    int fileWatch_ = -1;
};

std::shared_ptr<Settings> Settings::inMemory() { return std::make_shared<Settings>(Passkey{}, fs::path{}, nullptr); }

Result<std::shared_ptr<Settings>> Settings::open(fs::path path, Writer writer) {
    if (!writer)
        writer = [](const fs::path& at, std::string_view contents) { return writeFileAtomically(at, contents); };
    auto settings = std::make_shared<Settings>(Passkey{}, std::move(path), std::move(writer));
    MutexLock lock(settings->mutex_);
    if (auto loaded = settings->load(false); !loaded) return loaded.error();
    return settings;
}

std::shared_ptr<Settings> Settings::atPath(fs::path path, Writer writer) {
    if (!writer)
        writer = [](const fs::path& at, std::string_view contents) { return writeFileAtomically(at, contents); };
    auto settings = std::make_shared<Settings>(Passkey{}, std::move(path), std::move(writer));
    MutexLock lock(settings->mutex_);
    (void)settings->load(true);
    return settings;
}

fs::path Settings::defaultPath() { return xdgConfigHome() / "Quib" / "defaults.json"; }

Settings::Settings(Passkey, fs::path path, Writer writer) : path_(std::move(path)), writer_(std::move(writer)) {
    if (!path_.empty()) watch_ = std::make_unique<Watch>(path_);
}

Settings::~Settings() = default;

void Settings::setTiming(std::shared_ptr<Clock> clock, std::shared_ptr<Sleeper> sleeper) {
    MutexLock writing(writeMutex_);
    clock_ = std::move(clock);
    sleeper_ = std::move(sleeper);
}

std::uint64_t Settings::looks() const {
    MutexLock lock(mutex_);
    return looks_;
}

Settings::Signature Settings::signatureNow() const {
    struct stat info {};
    if (path_.empty() || ::stat(path_.c_str(), &info) != 0) return {};
    return Signature{.present = true,
                     .device = static_cast<std::uint64_t>(info.st_dev),
                     .inode = static_cast<std::uint64_t>(info.st_ino),
                     .size = static_cast<std::uint64_t>(info.st_size),
                     .modifiedNs = info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec,
                     .changedNs = info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec};
}

Result<void> Settings::load(bool setAsideWhatIsNotJson) {
    removeLeftoverTemporaries(path_);
    const Signature version = signatureNow();
    auto contents = readRegularFileIfPresent(path_, largestFile);
    std::string problem;
    if (contents && !contents->has_value()) {
        known_ = version;
        return {};
    }
    if (contents) {
        if (auto syntax = SyntaxCheck::of(**contents); syntax && !blank(**contents) && !setAsideWhatIsNotJson)
            return fail(path_.string() + ":" + *syntax);
        auto object = settingsObject(path_, **contents);
        if (object) {
            values_ = std::move(*object);
            known_ = version;
            return {};
        }
        problem = object.error().message;
    } else {
        problem = contents.error().message;
    }
    // A file that exists but cannot be read or parsed is moved aside before anything is saved,
    // so that saving never replaces it. When even that fails, changes stay in memory.
    auto aside = setFileAside(path_);
    known_ = signatureNow();
    if (aside) {
        quibLog().error("Settings file was unreadable (", pub(problem), "); kept it as ", pub(aside->string()));
        return {};
    }
    saving_ = false;
    quibLog().error("Settings file was unreadable (", pub(problem), ") and could not be kept aside (",
                    pub(aside.error().message), "); changes will not be saved");
    return {};
}

// A file removed meanwhile changes nothing: the next change writes it again, whole. An empty file
// where values were is a save caught between truncating and writing, not an emptied store.
void Settings::refresh(bool force) const {
    if (path_.empty()) return;
    const bool reported = !watch_ || watch_->mayHaveChanged();
    if (!reported && !force) return;
    ++looks_;
    const Signature now = signatureNow();
    if (now == known_ || (broken_.present && now == broken_) || (blank_.present && now == blank_)) return;
    if (watch_) watch_->rewatch();
    auto contents = readRegularFileIfPresent(path_, largestFile);
    if (!now.present || (contents && !contents->has_value())) {
        known_ = now;
        return;
    }
    if (contents && blank(**contents) && !values_.empty()) {
        blank_ = now;
        quibLog().error("Settings: ", pub(path_.string()),
                        " is empty, as an editor leaves it while saving; keeping the values read before until it is "
                        "written again");
        return;
    }
    auto object = contents ? settingsObject(path_, **contents) : Result<Json>(contents.error());
    if (!object) return reportBroken(now, object.error().message);
    values_ = std::move(*object);
    apply(unsaved_);
    known_ = now;
    broken_ = {};
    blank_ = {};
    quibLog().info("Settings: took the values of ", pub(path_.string()), " as changed by another program");
}

// The empty version the store holds back from, while it is young enough to be an editor's save in
// progress; one empty for longer holds nothing anyone is still writing.
bool Settings::caughtMidEdit(const Signature& signature) const {
    if (!blank_.present || signature != blank_) return false;
    const Clock& clock = clock_ ? *clock_ : static_cast<const Clock&>(*SystemClock::shared());
    const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(clock.wallNow().time_since_epoch()).count();
    return wall - signature.modifiedNs < std::chrono::duration_cast<std::chrono::nanoseconds>(blankGrace).count();
}

void Settings::reportBroken(const Signature& signature, const std::string& problem) const {
    broken_ = signature;
    quibLog().error("Settings: ", pub(problem), "; keeping the values read before until the file is mended");
}

bool Settings::alters(const Edits& edits) const {
    return std::any_of(edits.begin(), edits.end(), [&](const auto& edit) REQUIRES(mutex_) {
        const auto found = values_.find(edit.first);
        if (!edit.second) return found != values_.end();
        return found == values_.end() || *found != *edit.second;
    });
}

void Settings::apply(const Edits& edits) const {
    for (const auto& [key, value] : edits) {
        if (value) values_[key] = *value;
        else values_.erase(key);
    }
}

// One change at a time, across the processes that share the file too: the file's current
// values are taken in, the change is made on them, and the whole is written. A file that does
// not parse (caught half-edited) is set aside first, so that the user's text is never lost; an
// empty one caught mid-save is not written over while the save may still be going on.
Result<void> Settings::change(const std::function<bool(Edits&)>& edit) {
    MutexLock writing(writeMutex_);
    FolderLock folder(path_.empty() ? fs::path() : path_.parent_path());
    const Result<void> locked = path_.empty() ? Result<void>()
                                              : folder.lock(lockBusy_ ? Duration::zero() : Duration(lockWait),
                                                            clock_ ? *clock_ : *SystemClock::shared(),
                                                            sleeper_ ? *sleeper_ : *SystemSleeper::shared());
    if (!locked && !lockBusy_) quibLog().error("Settings: ", pub(locked.error().message));
    lockBusy_ = !locked;
    std::string text;
    bool setBrokenAside = false;
    {
        MutexLock lock(mutex_);
        refresh(true);
        Edits edits;
        if (!edit(edits)) return {};
        // A change that leaves every value as it was costs no write, unless the file still lacks
        // an earlier one (a write that failed).
        if (unsaved_.empty() && !alters(edits)) return {};
        apply(edits);
        if (path_.empty()) return {};
        unsaved_.insert(unsaved_.end(), edits.begin(), edits.end());
        if (!saving_) return fail("The settings file could not be kept aside, so changes are not saved");
        if (!locked) return locked.error();
        const Signature current = signatureNow();
        if (caughtMidEdit(current))
            return fail(path_.string() +
                        " is being saved by another program, so the change is kept until it reads whole again");
        text = values_.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
        // A file larger than is read back would be set aside at the next start, every value with it.
        if (text.size() > largestFile)
            return fail("The settings would take " + std::to_string((text.size() + (1 << 20) - 1) >> 20) +
                        " MB, more than the " + std::to_string(largestFile >> 20) + " MB that are read back");
        setBrokenAside = broken_.present && broken_ == current;
    }
    if (setBrokenAside) {
        if (auto aside = setFileAside(path_))
            quibLog().error("Settings: kept the file that did not parse as ", pub(aside->string()));
    }
    return writeLocked(text);
}

Result<void> Settings::writeLocked(const std::string& text) {
    if (auto written = writer_(path_, text); !written) {
        quibLog().error("Settings: ", pub(written.error().message));
        return written.error();
    }
    const Signature now = signatureNow();
    MutexLock lock(mutex_);
    known_ = now;
    broken_ = {};
    blank_ = {};
    unsaved_.clear();
    if (watch_) watch_->rewatch();
    return {};
}

std::optional<nlohmann::json> Settings::raw(std::string_view key) const {
    MutexLock lock(mutex_);
    refresh();
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return nlohmann::json(*it);
}

std::optional<std::string> Settings::string(std::string_view key) const {
    auto v = raw(key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<bool> Settings::boolean(std::string_view key) const {
    auto v = raw(key);
    if (!v || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

std::optional<std::int64_t> Settings::integer(std::string_view key) const {
    auto v = raw(key);
    if (!v) return std::nullopt;
    if (v->is_number_integer() && !v->is_number_unsigned()) return v->get<std::int64_t>();
    if (v->is_number_unsigned() && v->get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX))
        return static_cast<std::int64_t>(v->get<std::uint64_t>());
    return std::nullopt;
}

std::optional<double> Settings::real(std::string_view key) const {
    auto v = raw(key);
    if (!v || !v->is_number()) return std::nullopt;
    return v->get<double>();
}

std::optional<Bytes> Settings::bytes(std::string_view key) const {
    auto v = raw(key);
    if (!v || !v->is_object() || v->size() != 1 || !v->contains("data") || !(*v)["data"].is_string())
        return std::nullopt;
    return base64Decode((*v)["data"].get<std::string>());
}

std::optional<std::vector<std::string>> Settings::stringList(std::string_view key) const {
    auto v = raw(key);
    if (!v || !v->is_array()) return std::nullopt;
    std::vector<std::string> list;
    for (const auto& element : *v) {
        if (!element.is_string()) return std::nullopt;
        list.push_back(element.get<std::string>());
    }
    return list;
}

bool Settings::contains(std::string_view key) const {
    MutexLock lock(mutex_);
    refresh();
    return values_.contains(key);
}

void Settings::reportIgnored(std::string_view key, const nlohmann::json& value,
                             const std::function<std::string(std::string_view shown)>& line) const {
    const std::string shown = shortened(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    {
        MutexLock lock(mutex_);
        std::string said = std::string(key) + "=" + shown;
        if (std::find(reported_.begin(), reported_.end(), said) != reported_.end()) return;
        reported_.push_back(std::move(said));
    }
    quibLog().error(pub(line(shown)));
}

void Settings::reportIgnored(const SettingRow& row, const nlohmann::json& value) const {
    if (row.ignored.empty()) return;
    reportIgnored(row.key, value, [&](std::string_view shown) { return row.ignoredLine(shown); });
}

namespace {

// What a value that breaks a rule given by its caller, not by a row of the table, logs.
auto usualLine(std::string_view key, std::string_view rule, const std::string& fallback) {
    return [=](std::string_view shown) {
        return std::string(key) + " " + std::string(shown) + " ignored: " + std::string(rule) + "; using " + fallback;
    };
}

}  // namespace

std::int64_t Settings::integerInRange(std::string_view key, std::int64_t lowest, std::int64_t highest,
                                      std::int64_t fallback) const {
    const auto stored = raw(key);
    if (!stored) return fallback;
    const auto whole = integer(key);
    if (whole && *whole >= lowest && *whole <= highest) return *whole;
    reportIgnored(
        key, *stored,
        usualLine(key, "must be a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest),
                  std::to_string(fallback)));
    return fallback;
}

double Settings::realWhere(std::string_view key, const std::function<bool(double)>& accepts, std::string_view rule,
                           double fallback) const {
    const auto stored = raw(key);
    if (!stored) return fallback;
    if (stored->is_number() && accepts(stored->get<double>())) return stored->get<double>();
    reportIgnored(key, *stored, usualLine(key, rule, numberText(fallback)));
    return fallback;
}

bool Settings::flag(std::string_view key, bool fallback) const {
    const auto stored = raw(key);
    if (!stored) return fallback;
    if (stored->is_boolean()) return stored->get<bool>();
    reportIgnored(key, *stored, usualLine(key, "must be true or false", fallback ? "true" : "false"));
    return fallback;
}

bool Settings::get(const SettingKey<SettingRow::Flag>& key) const {
    const auto stored = raw(key);
    if (!stored) return key.rule().fallback;
    if (stored->is_boolean()) return stored->get<bool>();
    reportIgnored(key.row(), *stored);
    return key.rule().fallback;
}

std::int64_t Settings::get(const SettingKey<SettingRow::Whole>& key) const {
    const auto& rule = key.rule();
    const auto stored = raw(key);
    if (!stored) return rule.fallback;
    const auto whole = integer(key);
    if (whole && *whole >= rule.lowest && *whole <= rule.highest) return *whole;
    reportIgnored(key.row(), *stored);
    return rule.fallback;
}

double Settings::get(const SettingKey<SettingRow::Real>& key) const {
    const auto& rule = key.rule();
    const auto stored = raw(key);
    if (!stored) return rule.fallback;
    if (stored->is_number() && rule.accepts(stored->get<double>())) return stored->get<double>();
    reportIgnored(key.row(), *stored);
    return rule.fallback;
}

Json Settings::encode(const SettingValue& value) {
    return std::visit(
        [](const auto& v) -> Json {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, Bytes>) return Json{{"data", base64Encode(v)}};
            else return Json(v);
        },
        value);
}

Result<void> Settings::set(std::string_view key, SettingValue value) {
    std::vector<std::pair<std::string, SettingValue>> one;
    one.emplace_back(std::string(key), std::move(value));
    return setMany(std::move(one));
}

Result<void> Settings::setMany(std::vector<std::pair<std::string, SettingValue>> values) {
    return change([&](Edits& edits) {
        for (auto& [key, value] : values) edits.emplace_back(key, encode(value));
        return true;
    });
}

Result<void> Settings::remove(std::string_view key) {
    return change([&](Edits& edits) REQUIRES(mutex_) {
        if (!values_.contains(key)) return false;
        edits.emplace_back(std::string(key), std::nullopt);
        return true;
    });
}

bool Settings::moveValue(std::string_view from, std::string_view to) {
    bool moved = false;
    // Logged there when the file cannot hold it; the value is moved in memory all the same.
    (void)change([&](Edits& edits) REQUIRES(mutex_) {
        auto source = values_.find(from);
        if (source == values_.end() || values_.contains(to)) return false;
        edits.emplace_back(std::string(from), std::nullopt);
        edits.emplace_back(std::string(to), *source);
        moved = true;
        return true;
    });
    return moved;
}

std::optional<std::string> Settings::setAside(std::string_view key) {
    std::string side = std::string(key) + ".unreadable";
    for (int n = 2; !moveValue(key, side); ++n) {
        if (!contains(key)) return std::nullopt;
        side = std::string(key) + ".unreadable-" + std::to_string(n);
    }
    return side;
}

}  // namespace quib
