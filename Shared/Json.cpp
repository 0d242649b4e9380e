#include "Shared/Json.hpp"

namespace quib {
namespace jsondetail {

std::string describe(const Json& json) {
    switch (json.type()) {
        case Json::value_t::null: return "null";
        case Json::value_t::boolean: return "a Bool";
        case Json::value_t::string: return "a String";
        case Json::value_t::array: return "an array";
        case Json::value_t::object: return "an object";
        case Json::value_t::number_float: return "a number";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned: return "a whole number";
        default: return "an unknown value";
    }
}

void typeMismatch(std::string_view expected, const Json& found) {
    throw CodingError("Expected to decode " + std::string(expected) + " but found " + describe(found) + " instead.");
}

}  // namespace jsondetail

JsonReader::JsonReader(const Json& json) : json_(json) {
    if (!json.is_object()) jsondetail::typeMismatch("an object", json);
}

const Json* JsonReader::find(std::string_view key) const {
    auto it = json_.find(key);
    if (it == json_.end() || it->is_null()) return nullptr;
    return &*it;
}

}  // namespace quib
