#include "Runtime/BoundedJson.hpp"

#include <iterator>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quib {

namespace {

using Json = nlohmann::ordered_json;

// Builds the tree from the parser's events. Each open container is one frame; the members and
// elements of all open containers share two stacks, so a frame allocates nothing of its own and
// the stacks' storage is reused as containers open and close. A container is built, sized once,
// when it closes, and moved into its parent.
class Builder {
public:
    explicit Builder(const BoundedJson::Limits& limits) : limits_(limits) {
        constexpr std::size_t usualDepth = 8;
        frames_.reserve(usualDepth);
        members_.reserve(usualDepth);
    }

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
        if (members_.size() - frames_.back().first >= limits_.maxMembers)
            return refuse("An object has more than " + std::to_string(limits_.maxMembers) + " members.");
        members_.emplace_back(std::move(key), Json());
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
    using Member = std::pair<std::string, Json>;

    struct Frame {
        bool isObject = false;
        std::size_t first = 0;  // the container's first member or element on its stack
    };

    bool count() {
        if (++values_ <= limits_.maxValues) return true;
        return refuse("The data holds more than " + std::to_string(limits_.maxValues) + " values.");
    }

    bool open(bool isObject) {
        if (frames_.size() >= limits_.maxDepth)
            return refuse("The data nests deeper than " + std::to_string(limits_.maxDepth) + " levels.");
        if (!count()) return false;
        frames_.push_back(Frame{isObject, isObject ? members_.size() : elements_.size()});
        return true;
    }

    bool close() {
        const Frame frame = frames_.back();
        frames_.pop_back();
        if (frame.isObject) {
            Json object = objectOf(std::span(members_).subspan(frame.first));
            members_.resize(frame.first);
            return place(std::move(object));
        }
        Json array(Json::value_t::array);
        auto& items = array.get_ref<Json::array_t&>();
        items.reserve(elements_.size() - frame.first);
        std::move(elements_.begin() + static_cast<std::ptrdiff_t>(frame.first), elements_.end(),
                  std::back_inserter(items));
        elements_.resize(frame.first);
        return place(std::move(array));
    }

    bool put(Json value) { return count() && place(std::move(value)); }

    bool place(Json value) {
        if (frames_.empty()) {
            root_ = std::move(value);
            return true;
        }
        const Frame& frame = frames_.back();
        if (frame.isObject) {
            members_.back().second = std::move(value);
            return true;
        }
        if (elements_.size() - frame.first >= limits_.maxElements)
            return refuse("An array has more than " + std::to_string(limits_.maxElements) + " elements.");
        elements_.push_back(std::move(value));
        return true;
    }

    // The object's storage is sized once, so no member is ever copied; duplicate keys are found
    // through an index only when the object is large enough for a scan to cost.
    static Json objectOf(std::span<Member> members) {
        Json object(Json::value_t::object);
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
    std::vector<Member> members_;  // of every open object, outermost first
    std::vector<Json> elements_;   // of every open array, outermost first
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
