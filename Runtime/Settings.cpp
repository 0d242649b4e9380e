#include "Runtime/Settings.hpp"

#include "Runtime/AtomicFile.hpp"
#include "Runtime/Base64.hpp"
#include "Runtime/BoundedJson.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/XdgFolders.hpp"

namespace quib {
namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::shared_ptr<Settings> Settings::inMemory() { return std::make_shared<Settings>(Passkey{}, fs::path{}, nullptr); }

std::shared_ptr<Settings> Settings::atPath(fs::path path, Writer writer) {
    if (!writer)
        writer = [](const fs::path& at, std::string_view contents) { return writeFileAtomically(at, contents); };
    auto settings = std::make_shared<Settings>(Passkey{}, std::move(path), std::move(writer));
    settings->load();
    return settings;
}

fs::path Settings::defaultPath() { return xdgConfigHome() / "Quib" / "defaults.json"; }

Settings::Settings(Passkey, fs::path path, Writer writer) : path_(std::move(path)), writer_(std::move(writer)) {}

void Settings::load() {
    removeLeftoverTemporaries(path_);
    auto contents = readRegularFileIfPresent(path_, largestFile);
    if (contents && !contents->has_value()) return;
    if (contents) {
        auto parsed = BoundedJson::parse(**contents);
        if (parsed && parsed->is_object()) {
            values_ = std::move(*parsed);
            return;
        }
    }
    // A file that exists but cannot be read or parsed is moved aside before anything is saved,
    // so that saving never replaces it. When even that fails, changes stay in memory.
    const std::string problem = contents ? std::string("it is not a JSON object") : contents.error().message;
    auto aside = setFileAside(path_);
    if (aside) {
        quibLog().error("Settings file was unreadable (", pub(problem), "); kept it as ", pub(aside->string()));
        return;
    }
    saving_ = false;
    quibLog().error("Settings file was unreadable (", pub(problem), ") and could not be kept aside (",
                    pub(aside.error().message), "); changes will not be saved");
}

Settings::Pending Settings::snapshot() {
    if (path_.empty()) return std::optional<Snapshot>();
    if (!saving_) return fail("The settings file could not be kept aside, so changes are not saved");
    std::string text = values_.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    // A file larger than is read back would be set aside at the next start, every value with it.
    if (text.size() > largestFile)
        return fail("The settings would take " + std::to_string((text.size() + (1 << 20) - 1) >> 20) + " MB, more than the " +
                    std::to_string(largestFile >> 20) + " MB that are read back");
    return std::optional<Snapshot>(Snapshot{std::move(text), ++changes_});
}

// A snapshot older than what the file already holds is not written: a later change won the race
// and saved this one with it. Nor is one the file already holds word for word: a change that
// changes nothing costs no write.
Result<void> Settings::write(Pending pending) {
    if (!pending) {
        quibLog().error("Settings: ", pub(pending.error().message));
        return pending.error();
    }
    if (!pending->has_value()) return {};
    const Snapshot& snapshot = **pending;
    std::lock_guard lock(writeMutex_);
    if (snapshot.generation <= written_) return {};
    if (snapshot.text != writtenText_) {
        if (auto written = writer_(path_, snapshot.text); !written) {
            quibLog().error("Settings: ", pub(written.error().message));
            return written.error();
        }
        writtenText_ = snapshot.text;
    }
    written_ = snapshot.generation;
    return {};
}

std::optional<nlohmann::json> Settings::raw(std::string_view key) const {
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    return values_.contains(key);
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
    Pending changed = std::optional<Snapshot>();
    {
        std::lock_guard lock(mutex_);
        for (auto& [key, value] : values) values_[key] = encode(value);
        changed = snapshot();
    }
    return write(std::move(changed));
}

Result<void> Settings::remove(std::string_view key) {
    Pending changed = std::optional<Snapshot>();
    {
        std::lock_guard lock(mutex_);
        if (values_.erase(std::string(key)) == 0) return {};
        changed = snapshot();
    }
    return write(std::move(changed));
}

bool Settings::moveValue(std::string_view from, std::string_view to) {
    Pending changed = std::optional<Snapshot>();
    {
        std::lock_guard lock(mutex_);
        auto source = values_.find(from);
        if (source == values_.end() || values_.contains(to)) return false;
        Json value = std::move(*source);
        values_.erase(source);
        values_[std::string(to)] = std::move(value);
        changed = snapshot();
    }
    (void)write(std::move(changed));  // logged there; the value is moved in memory all the same
    return true;
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
