#pragma once

// Table-driven coding of the message enumerations (ClientMessage, HostMessage). A message type
// holds a std::variant with one struct per case; each case struct names its wire key in a
// `static constexpr std::string_view name`, and its payload values are listed once as
// (label, member) pairs, unless it is a SingleValueCase ("_0") or an EmptyCase:
//
//     template <> inline constexpr auto caseFields<Msg::Move> =
//         std::tuple{field("dx", &Msg::Move::dx), field("dy", &Msg::Move::dy)};
//
// Decoding then follows the one-key message shape: the case's object must hold every
// non-optional value with the right type; std::optional members may be missing or null; keys
// the case does not know are ignored. Encoding writes every value and leaves out absent
// optionals. Converters throw CodingError, which QuibCoder turns into an error value.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>

#include "Shared/Json.hpp"
#include "Shared/MessageCase.hpp"
#include "Shared/MessageShape.hpp"

namespace quib::messagecoding {

// One payload value of a case: its label in the case's object and the member holding it.
template <class Case, class T>
struct Field {
    std::string_view label;
    T Case::*member;
};

template <class Case, class T>
constexpr Field<Case, T> field(std::string_view label, T Case::*member) {
    return {label, member};
}

// The payload values of a case, in the order they are written. Cases without payload keep the
// empty default.
template <class Case>
inline constexpr auto caseFields = std::tuple<>{};

// A case of one unlabelled value has it as "_0".
template <CaseName Name, class Payload>
inline constexpr auto caseFields<SingleValueCase<Name, Payload>> =
    std::tuple{field("_0", &SingleValueCase<Name, Payload>::_0)};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class Case, class T>
void readField(const JsonReader& reader, Case& value, const Field<Case, T>& f) {
    if constexpr (IsOptional<T>::value) value.*f.member = reader.optional<typename T::value_type>(f.label);
    else value.*f.member = reader.required<T>(f.label);
}

template <class Case>
Case decodeCase(const Json& payload) {
    const JsonReader reader(payload);
    Case value{};
    std::apply([&](const auto&... f) { (readField(reader, value, f), ...); }, caseFields<Case>);
    return value;
}

template <class Case>
Json encodeCase(const Case& value) {
    JsonWriter writer;
    std::apply([&](const auto&... f) { (writer.put(f.label, value.*f.member), ...); }, caseFields<Case>);
    return writer.take();
}

// Decoding and encoding of a whole variant of case structs.
template <class Variant>
struct Cases;

template <class... Case>
struct Cases<std::variant<Case...>> {
    using Variant = std::variant<Case...>;
    static constexpr std::array<std::string_view, sizeof...(Case)> names{Case::name...};

    static Variant decode(const Json& root) {
        const MessageCase found = messageCase(root, names);
        static constexpr std::array<Variant (*)(const Json&), sizeof...(Case)> decoders{
            [](const Json& payload) { return Variant(decodeCase<Case>(payload)); }...};
        std::size_t index = 0;
        while (names[index] != found.name) ++index;  // messageCase only returns one of `names`
        return decoders[index](found.payload);
    }

    static Json encode(const Variant& value) {
        return std::visit([](const auto& c) { return messageJson(c.name, encodeCase(c)); }, value);
    }
};

}  // namespace quib::messagecoding
