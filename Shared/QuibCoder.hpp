#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "Platform/Result.hpp"
#include "Shared/Json.hpp"

namespace quib {

// The one JSON coder of the process. Every encode and decode holds one process-wide,
// non-recursive lock while it runs, so converters never call QuibCoder themselves: only the
// outermost encode or decode takes the lock.
//
// Output is compact, keys in declared order, byte strings as standard Base64, dates as seconds
// since 2001. A number that is not finite fails the encode; text that is not valid UTF-8 is
// written with U+FFFD in place of the bad bytes.
class QuibCoder {
public:
    template <JsonCodable T>
    static Result<std::string> encode(const T& value) {
        std::lock_guard guard(lock());
        try {
            return dump(JsonCoding<T>::encode(value));
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }

    template <JsonCodable T>
    static Result<T> decode(std::string_view text) {
        std::lock_guard guard(lock());
        try {
            Json json = Json::parse(text.begin(), text.end(), nullptr, false);
            if (json.is_discarded()) return fail("The given data was not valid JSON.");
            return JsonCoding<T>::decode(json);
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }

    // The value's JSON text followed by one line feed: the form of every control-connection
    // line and of stored record lists.
    template <JsonCodable T>
    static Result<std::string> line(const T& value) {
        auto text = encode(value);
        if (text) text->push_back('\n');
        return text;
    }

    static std::mutex& lock();

private:
    static std::string dump(const Json& json);
};

}  // namespace quib
