#include "Shared/VocabularyPayload.hpp"

namespace quib {

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
