#include "Shared/VocabularyPayload.hpp"

#include <algorithm>

namespace quib {

std::vector<VocabularyPayload> VocabularyPayload::chunked(const std::string& targetID,
                                                          const std::vector<std::string>& terms) {
    std::vector<VocabularyPayload> chunks;
    std::size_t start = 0;
    do {
        const std::size_t end = std::min(start + chunkTerms, terms.size());
        chunks.push_back({targetID,
                          std::vector<std::string>(terms.begin() + static_cast<std::ptrdiff_t>(start),
                                                   terms.begin() + static_cast<std::ptrdiff_t>(end)),
                          static_cast<std::int64_t>(chunks.size()), end == terms.size()});
        start = end;
    } while (start < terms.size());
    return chunks;
}

VocabularyPayload VocabularyPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    VocabularyPayload payload;
    payload.targetID = r.required<std::string>("targetID");
    payload.terms = r.required<std::vector<std::string>>("terms");
    payload.sequence = r.required<std::int64_t>("sequence");
    payload.isFinal = r.required<bool>("isFinal");
    return payload;
}

Json VocabularyPayload::toJson() const {
    return JsonWriter()
        .put("targetID", targetID)
        .put("terms", terms)
        .put("sequence", sequence)
        .put("isFinal", isFinal)
        .take();
}

}  // namespace quib
