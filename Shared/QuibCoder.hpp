#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <string_view>

#include "Runtime/BoundedJson.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Result.hpp"
#include "Shared/Json.hpp"

namespace quib {

// A type whose most frequent lines have a reader quicker than building a tree and decoding it.
// It returns nothing for any line it is not sure of, and then the full decode reads the line: so
// what fails, and with which text, is always the full decode's. It throws nothing and calls no
// converter, so it runs outside the coder's lock.
template <class T>
concept ReadsQuickly = requires(std::string_view text, const BoundedJson::Limits& limits) {
    { T::readQuickly(text, limits) }
    noexcept->std::same_as<std::optional<T>>;
};

// The one JSON coder of the process. Every encode and decode holds one process-wide,
// non-recursive lock while it runs, so converters never call QuibCoder themselves: only the
// outermost encode or decode takes the lock.
//
// Text is read through BoundedJson, so a line nested too deep or holding too many members or
// elements fails like one that is not JSON, before any record is built from it.
//
// Output is compact, keys in declared order, byte strings as standard Base64, dates as seconds
// since 2001. A number that is not finite fails the encode; text that is not valid UTF-8 is
// written with U+FFFD in place of the bad bytes.
class QuibCoder {
public:
    template <JsonCodable T>
    static Result<std::string> encode(const T& value) {
        MutexLock guard(lock());
        try {
            return dump(JsonCoding<T>::encode(value));
        } catch (const std::exception& e) {
            return fail(e.what());
        }
    }

    template <JsonCodable T>
    static Result<T> decode(std::string_view text) {
        return decode<T>(text, BoundedJson::Limits{});
    }

    // Text the host stored itself is read with limits sized to the text, so that a list it once
    // wrote is never refused for its length (BoundedJson::forStoredText).
    template <JsonCodable T>
    static Result<T> decodeStored(std::string_view text) {
        return decode<T>(text, BoundedJson::forStoredText(text));
    }

    template <JsonCodable T>
    static Result<T> decode(std::string_view text, const BoundedJson::Limits& limits) {
        if constexpr (ReadsQuickly<T>)
            if (auto quick = T::readQuickly(text, limits)) return std::move(*quick);
        MutexLock guard(lock());
        try {
            auto json = BoundedJson::parse(text, limits);
            if (!json) return json.error();
            return JsonCoding<T>::decode(*json);
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

    static Mutex& lock();

private:
    static std::string dump(const Json& json);
};

}  // namespace quib
