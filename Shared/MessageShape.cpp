#include "Shared/MessageShape.hpp"

#include <algorithm>

namespace quib {

MessageCase messageCase(const Json& root, std::span<const std::string_view> caseNames) {
    if (!root.is_object()) jsondetail::typeMismatch("an object", root);
    const Json* payload = nullptr;
    std::string_view name;
    int found = 0;
    for (auto it = root.begin(); it != root.end(); ++it) {
        const auto match = std::find(caseNames.begin(), caseNames.end(), std::string_view(it.key()));
        if (match == caseNames.end()) continue;
        ++found;
        name = *match;
        payload = &it.value();
    }
    if (found != 1) codingFailure("Invalid number of keys found, expected one.");
    if (!payload->is_object()) jsondetail::typeMismatch("an object", *payload);
    return MessageCase{name, *payload};
}

Json messageJson(std::string_view caseName, Json payload) {
    Json root = Json::object();
    root[std::string(caseName)] = std::move(payload);
    return root;
}

}  // namespace quib
