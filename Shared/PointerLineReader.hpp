#pragma once

#include <optional>
#include <string_view>

#include "Runtime/BoundedJson.hpp"
#include "Shared/ClientMessage.hpp"

namespace quib {

// Reads the pointer lines a phone sends many times a second (`move`, `scroll`, `scrollPhase`,
// `pointAtPanel`, `click`) straight from the parser's events, building no tree.
//
// It takes only their plain form: one case key whose object holds each of the case's values
// once, of the type the case wants, and nothing else. On anything else (another case, a key it
// does not know or sees twice, a null, a whole number written as "1.0", text that is not JSON)
// it gives up and returns nothing: the full decode then reads the line, and alone decides
// whether and how it fails. What it does return is what the full decode would have returned.
class PointerLineReader {
public:
    static std::optional<ClientMessage> read(std::string_view text, const BoundedJson::Limits& limits);
};

}  // namespace quib
