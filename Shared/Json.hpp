#pragma once

// Strict JSON reading and writing for wire records. Field values are read only through the
// checked converters here: booleans only from true/false, integers only from whole numbers that
// fit the field's width, strings only from strings, byte strings only from strict Base64.
// Converters throw CodingError; QuibCoder turns that into an Error value at its boundary, so
// no exception leaves the coder.

#include <array>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Runtime/Base64.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

using Json = nlohmann::ordered_json;

class CodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void codingFailure(std::string message) { throw CodingError(std::move(message)); }

// The converter of one type. Specialised below for the primitive types, enumerations with a
// name table, records with fromJson/toJson, optionals and vectors.
template <class T, class Enable = void>
struct JsonCoding;

// A record: `static T fromJson(const Json&)` and `Json toJson() const`.
template <class T>
concept JsonRecord = requires(const T& value, const Json& json) {
    { T::fromJson(json) } -> std::same_as<T>;
    { value.toJson() } -> std::same_as<Json>;
};

// An enumeration that travels as its case name. Specialise EnumNames<E> with
// `static constexpr std::array<std::pair<E, std::string_view>, N> table`.
template <class E>
struct EnumNames;

template <class E>
concept NamedEnum = std::is_enum_v<E> && requires {
    EnumNames<E>::table;
};

template <NamedEnum E>
constexpr std::string_view enumName(E value) {
    for (const auto& [e, name] : EnumNames<E>::table)
        if (e == value) return name;
    return {};
}

template <NamedEnum E>
constexpr std::optional<E> enumFromName(std::string_view name) {
    for (const auto& [e, n] : EnumNames<E>::table)
        if (n == name) return e;
    return std::nullopt;
}

template <NamedEnum E>
constexpr auto allCases() {
    std::array<E, EnumNames<E>::table.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i) cases[i] = EnumNames<E>::table[i].first;
    return cases;
}

namespace jsondetail {
std::string describe(const Json& json);
[[noreturn]] void typeMismatch(std::string_view expected, const Json& found);
}  // namespace jsondetail

template <>
struct JsonCoding<bool> {
    static bool decode(const Json& json) {
        if (!json.is_boolean()) jsondetail::typeMismatch("a Bool", json);
        return json.get<bool>();
    }
    static Json encode(bool value) { return value; }
};

template <class I>
struct JsonCoding<I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>>> {
    static I decode(const Json& json) {
        using Limits = std::numeric_limits<I>;
        if (json.is_number_unsigned()) {
            const auto v = json.get<std::uint64_t>();
            if (v <= static_cast<std::uint64_t>(Limits::max())) return static_cast<I>(v);
        } else if (json.is_number_integer()) {
            const auto v = json.get<std::int64_t>();
            if constexpr (std::is_signed_v<I>) {
                if (v >= static_cast<std::int64_t>(Limits::min()) && v <= static_cast<std::int64_t>(Limits::max()))
                    return static_cast<I>(v);
            } else {
                if (v >= 0 && static_cast<std::uint64_t>(v) <= static_cast<std::uint64_t>(Limits::max()))
                    return static_cast<I>(v);
            }
        } else if (json.is_number_float()) {
            // A whole number written with a fraction part ("5.0") is still that number.
            const double d = json.get<double>();
            if (std::isfinite(d) && std::trunc(d) == d && d >= static_cast<double>(Limits::min()) &&
                d < std::ldexp(1.0, Limits::digits))
                return static_cast<I>(d);
        } else {
            jsondetail::typeMismatch("a whole number", json);
        }
        codingFailure("Number " + json.dump() + " does not fit the field");
    }
    static Json encode(I value) { return value; }
};

template <>
struct JsonCoding<double> {
    static double decode(const Json& json) {
        if (!json.is_number()) jsondetail::typeMismatch("a number", json);
        return json.get<double>();
    }
    static Json encode(double value) {
        if (!std::isfinite(value)) codingFailure("Unable to encode a number that is not finite");
        return value;
    }
};

template <>
struct JsonCoding<std::string> {
    static std::string decode(const Json& json) {
        if (!json.is_string()) jsondetail::typeMismatch("a String", json);
        return json.get<std::string>();
    }
    static Json encode(const std::string& value) { return value; }
};

template <>
struct JsonCoding<Bytes> {
    static Bytes decode(const Json& json) {
        if (!json.is_string()) jsondetail::typeMismatch("Base64 text", json);
        auto bytes = base64Decode(json.get_ref<const std::string&>());
        if (!bytes) codingFailure("Encountered Data is not valid Base64.");
        return std::move(*bytes);
    }
    static Json encode(const Bytes& value) { return base64Encode(value); }
};

// Dates travel as seconds since 2001-01-01 00:00:00 UTC.
template <>
struct JsonCoding<WallTime> {
    static WallTime decode(const Json& json) { return wallTimeFromSecondsSince2001(JsonCoding<double>::decode(json)); }
    static Json encode(WallTime value) { return JsonCoding<double>::encode(secondsSince2001(value)); }
};

template <NamedEnum E>
struct JsonCoding<E> {
    static E decode(const Json& json) {
        if (!json.is_string()) jsondetail::typeMismatch("a String", json);
        const auto& text = json.get_ref<const std::string&>();
        if (auto value = enumFromName<E>(text)) return *value;
        codingFailure("Cannot initialize from invalid value \"" + text + "\"");
    }
    static Json encode(E value) { return std::string(enumName(value)); }
};

template <JsonRecord R>
struct JsonCoding<R> {
    static R decode(const Json& json) { return R::fromJson(json); }
    static Json encode(const R& value) { return value.toJson(); }
};

template <class T>
struct JsonCoding<std::vector<T>, std::enable_if_t<!std::is_same_v<T, std::uint8_t>>> {
    static std::vector<T> decode(const Json& json) {
        if (!json.is_array()) jsondetail::typeMismatch("an array", json);
        std::vector<T> out;
        out.reserve(json.size());
        for (const auto& element : json) out.push_back(JsonCoding<T>::decode(element));
        return out;
    }
    static Json encode(const std::vector<T>& values) {
        Json out = Json::array();
        for (const auto& v : values) out.push_back(JsonCoding<T>::encode(v));
        return out;
    }
};

template <class T>
concept JsonCodable = requires(const Json& json, const T& value) {
    { JsonCoding<T>::decode(json) } -> std::convertible_to<T>;
    { JsonCoding<T>::encode(value) } -> std::convertible_to<Json>;
};

// Reads the fields of one JSON object. Missing keys and JSON null read as absent; a value of
// the wrong type fails the whole record.
class JsonReader {
public:
    // Fails unless `json` is an object.
    explicit JsonReader(const Json& json);

    // Missing or null fails ("key not found").
    template <class T>
    T required(std::string_view key) const {
        const Json* value = find(key);
        if (!value) codingFailure("No value associated with key \"" + std::string(key) + "\".");
        return decodeField<T>(key, *value);
    }

    // Missing or null reads as nothing.
    template <class T>
    std::optional<T> optional(std::string_view key) const {
        const Json* value = find(key);
        if (!value) return std::nullopt;
        return decodeField<T>(key, *value);
    }

    // Missing or null reads as `fallback`.
    template <class T>
    T value(std::string_view key, T fallback) const {
        auto v = optional<T>(key);
        return v ? std::move(*v) : std::move(fallback);
    }

    // The raw value under `key`, or nullptr when it is missing or null.
    const Json* find(std::string_view key) const;
    const Json& json() const { return json_; }

private:
    template <class T>
    static T decodeField(std::string_view key, const Json& value) {
        try {
            return JsonCoding<T>::decode(value);
        } catch (const CodingError& e) {
            throw CodingError(std::string(e.what()) + " (at \"" + std::string(key) + "\")");
        }
    }

    const Json& json_;
};

// Builds one JSON object field by field; absent optionals are left out.
class JsonWriter {
public:
    template <class T>
    JsonWriter& put(std::string_view key, const T& value) {
        json_[std::string(key)] = JsonCoding<T>::encode(value);
        return *this;
    }
    template <class T>
    JsonWriter& put(std::string_view key, const std::optional<T>& value) {
        if (value) put(key, *value);
        return *this;
    }
    JsonWriter& putJson(std::string_view key, Json value) {
        json_[std::string(key)] = std::move(value);
        return *this;
    }
    Json take() { return std::move(json_); }

private:
    Json json_ = Json::object();
};

template <JsonCodable T>
T decodeJson(const Json& json) {
    return JsonCoding<T>::decode(json);
}

template <JsonCodable T>
Json encodeJson(const T& value) {
    return JsonCoding<T>::encode(value);
}

}  // namespace quib
