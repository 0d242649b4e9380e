#include "Shared/AppCatalogPayload.hpp"

#include <string>

namespace quib {

std::vector<AppCatalogPayload> AppCatalogPayload::chunked(std::vector<MacApp> apps, Purpose purpose,
                                                          std::int64_t budget) {
    auto chunks = PayloadChunker::split(std::move(apps), &MacApp::icon, budget);
    return PayloadChunker::numbered<AppCatalogPayload>(std::move(chunks),
                                                       [purpose](std::vector<MacApp> items, std::size_t) {
                                                           AppCatalogPayload payload;
                                                           payload.purpose = purpose;
                                                           payload.apps = std::move(items);
                                                           return payload;
                                                       });
}

AppCatalogPayload AppCatalogPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    AppCatalogPayload payload;
    // Read as plain text: only "icons" asks for icons; anything else is the suggestion list.
    const auto purpose = r.optional<std::string>("purpose");
    payload.purpose = purpose && *purpose == "icons" ? Purpose::icons : Purpose::suggestions;
    payload.apps = r.value<std::vector<MacApp>>("apps", {});
    payload.sequence = r.value<std::int64_t>("sequence", 0);
    payload.isFinal = r.value("isFinal", true);
    return payload;
}

Json AppCatalogPayload::toJson() const {
    return JsonWriter()
        .put("purpose", purpose)
        .put("apps", apps)
        .put("sequence", sequence)
        .put("isFinal", isFinal)
        .take();
}

}  // namespace quib
