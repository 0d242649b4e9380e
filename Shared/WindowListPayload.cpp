#include "Shared/WindowListPayload.hpp"

namespace quib {

std::vector<WindowListPayload> WindowListPayload::chunked(std::vector<MacWindow> windows, const std::string& targetID,
                                                          const std::optional<std::string>& note, std::int64_t budget) {
    auto chunks = PayloadChunker::split(std::move(windows), &MacWindow::preview, budget);
    return PayloadChunker::numbered<WindowListPayload>(
        std::move(chunks), [&](std::vector<MacWindow> items, std::size_t i) {
            WindowListPayload payload;
            payload.targetID = targetID;
            payload.windows = std::move(items);
            if (i == 0) payload.note = note;  // the note speaks for the whole list
            return payload;
        });
}

WindowListPayload WindowListPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    WindowListPayload payload;
    payload.targetID = r.value<std::string>("targetID", "");
    payload.windows = r.value<std::vector<MacWindow>>("windows", {});
    payload.note = r.optional<std::string>("note");
    payload.sequence = r.value<std::int64_t>("sequence", 0);
    payload.isFinal = r.value("isFinal", true);
    return payload;
}

Json WindowListPayload::toJson() const {
    return JsonWriter()
        .put("targetID", targetID)
        .put("windows", windows)
        .put("note", note)
        .put("sequence", sequence)
        .put("isFinal", isFinal)
        .take();
}

}  // namespace quib
