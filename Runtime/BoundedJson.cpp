#include "Runtime/BoundedJson.hpp"

#include <unordered_map>
#include <utility>
#include <vector>

namespace quib {

namespace {

using Json = nlohmann::ordered_json;

// Builds the tree from the parser's events. Each open container is one frame; a value is
// moved into its parent when it is complete.
class Builder {
public:
    explicit Builder(const BoundedJson::Limits& limits) : limits_(limits) {}

    bool null() { return put(Json(nullptr)); }
    // Every value passes through count() once: scalars in put(), containers when opened.
    bool boolean(bool value) { return put(Json(value)); }
    bool number_integer(Json::number_integer_t value) { return put(Json(value)); }
    bool number_unsigned(Json::number_unsigned_t value) { return put(Json(value)); }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return put(Json(value)); }
    bool string(Json::string_t& value) { return put(Json(std::move(value))); }
    bool binary(Json::binary_t&) { return refuse("The given data was not valid JSON."); }

    bool start_object(std::size_t) { return open(true); }
    bool key(Json::string_t& key) {
        Frame& frame = frames_.back();
        if (frame.members.size() >= limits_.maxMembers)
            return refuse("An object has more than " + std::to_string(limits_.maxMembers) + " members.");
        frame.members.emplace_back(std::move(key), Json());
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(false); }
    bool end_array() { return close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return refuse("The given data was not valid JSON.");
    }

    Result<Json> result() && {
        if (failure_) return fail(std::move(*failure_));
        return std::move(root_);
    }

private:
    struct Frame {
        bool isObject = false;
        std::vector<std::pair<std::string, Json>> members;  // objects: the value of the last is being read
        Json elements = Json::array();                      // arrays
    };

    bool count() {
        if (++values_ <= limits_.maxValues) return true;
        return refuse("The data holds more than " + std::to_string(limits_.maxValues) + " values.");
    }

    bool open(bool isObject) {
        if (frames_.size() >= limits_.maxDepth)
            return refuse("The data nests deeper than " + std::to_string(limits_.maxDepth) + " levels.");
        if (!count()) return false;
        frames_.push_back(Frame{isObject, {}, Json::array()});
        return true;
    }

    bool close() {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        return place(frame.isObject ? objectOf(std::move(frame.members)) : std::move(frame.elements));
    }

    bool put(Json value) { return count() && place(std::move(value)); }

    bool place(Json value) {
        if (frames_.empty()) {
            root_ = std::move(value);
            return true;
        }
        Frame& frame = frames_.back();
        if (frame.isObject) {
            frame.members.back().second = std::move(value);
            return true;
        }
        if (frame.elements.size() >= limits_.maxElements)
            return refuse("An array has more than " + std::to_string(limits_.maxElements) + " elements.");
        frame.elements.get_ref<Json::array_t&>().push_back(std::move(value));
        return true;
    }

    // The object's storage is sized once, so no member is ever copied; duplicate keys are found
    // through an index only when the object is large enough for a scan to cost.
    static Json objectOf(std::vector<std::pair<std::string, Json>> members) {
        Json object = Json::object();
        auto& items = static_cast<Json::object_t::Container&>(object.get_ref<Json::object_t&>());
        items.reserve(members.size());
        constexpr std::size_t scanLimit = 16;
        const bool indexed = members.size() > scanLimit;
        std::unordered_map<std::string_view, std::size_t> index;  // views into `items`, which never moves
        for (auto& [key, value] : members) {
            std::size_t found = items.size();
            if (!indexed) {
                for (std::size_t i = 0; i < items.size(); ++i)
                    if (items[i].first == key) found = i;
            } else if (auto hit = index.find(key); hit != index.end()) {
                found = hit->second;
            }
            if (found < items.size()) {
                items[found].second = std::move(value);
                continue;
            }
            items.emplace_back(std::move(key), std::move(value));
            if (indexed) index.emplace(items.back().first, items.size() - 1);
        }
        return object;
    }

    bool refuse(std::string why) {
        if (!failure_) failure_ = std::move(why);
        return false;
    }

    BoundedJson::Limits limits_;
    std::vector<Frame> frames_;
    std::size_t values_ = 0;
    Json root_;
    std::optional<std::string> failure_;
};

}  // namespace

// The parser takes a NUL byte for the end of the text and would read whatever came before it as
// the whole; JSON holds no NUL anywhere (inside strings it is escaped), so text with one is
// refused.
Result<nlohmann::ordered_json> BoundedJson::parse(std::string_view text, const Limits& limits) {
    if (text.find('\0') != std::string_view::npos) return fail("The given data was not valid JSON.");
    Builder builder(limits);
    const bool parsed = Json::sax_parse(text.begin(), text.end(), &builder);
    Result<Json> result = std::move(builder).result();
    if (parsed || !result.ok()) return result;
    return fail("The given data was not valid JSON.");
}

}  // namespace quib
