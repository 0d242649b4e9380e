#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Runtime/Bytes.hpp"

namespace quib {

// The well-known pasteboard types the host writes. Other types travel as the desktop names them.
struct PasteboardType {
    static constexpr std::string_view string = "public.utf8-plain-text";
    static constexpr std::string_view png = "public.png";
    static constexpr std::string_view jpeg = "public.jpeg";
    static constexpr std::string_view fileURL = "public.file-url";
};

// One item on the pasteboard: the same content in one or more types, each type with its bytes,
// in the order the owner offers them.
struct PasteboardItem {
    std::vector<std::pair<std::string, Bytes>> representations;

    // Sets the bytes of `type`, replacing earlier bytes of the same type.
    PasteboardItem& set(std::string_view type, Bytes data);
    // The bytes of `type`; none when the item lacks it.
    const Bytes* data(std::string_view type) const;

    bool operator==(const PasteboardItem&) const = default;
};

}  // namespace quib
