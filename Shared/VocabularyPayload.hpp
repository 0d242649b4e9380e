#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Shared/Json.hpp"

namespace quib {

// One chunk of a target's recognition terms. Decoded strictly: every key is required.
struct VocabularyPayload {
    std::string targetID;
    std::vector<std::string> terms;
    std::int64_t sequence = 0;  // chunk index, from 0
    bool isFinal = true;        // last chunk of one answer

    static VocabularyPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const VocabularyPayload&) const = default;
};

}  // namespace quib
