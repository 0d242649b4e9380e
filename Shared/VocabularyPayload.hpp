#pragma once

#include <cstddef>
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

    static constexpr std::size_t chunkTerms = 200;

    // The terms in consecutive chunks of at most `chunkTerms`, in order, numbered from 0 with the
    // last one final; no terms give one empty, final chunk.
    static std::vector<VocabularyPayload> chunked(const std::string& targetID, const std::vector<std::string>& terms);

    static VocabularyPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const VocabularyPayload&) const = default;
};

}  // namespace quib
