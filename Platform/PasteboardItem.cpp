#include "Platform/PasteboardItem.hpp"

#include <algorithm>

namespace quib {

PasteboardItem& PasteboardItem::set(std::string_view type, Bytes data) {
    auto found = std::find_if(representations.begin(), representations.end(),
                              [type](const auto& representation) { return representation.first == type; });
    if (found != representations.end()) found->second = std::move(data);
    else representations.emplace_back(std::string(type), std::move(data));
    return *this;
}

const Bytes* PasteboardItem::data(std::string_view type) const {
    for (const auto& [name, bytes] : representations) {
        if (name == type) return &bytes;
    }
    return nullptr;
}

}  // namespace quib
