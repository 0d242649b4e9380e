#include "Shared/AttachmentFrame.hpp"

namespace quib {

std::string_view AttachmentFrame::typeIdentifier(Format format) {
    return format == Format::png ? "public.png" : "public.jpeg";
}

std::string_view AttachmentFrame::fileExtension(Format format) { return format == Format::png ? "png" : "jpg"; }

AttachmentFrame AttachmentFrame::fromJson(const Json& json) {
    const JsonReader r(json);
    AttachmentFrame frame;
    frame.index = r.required<std::int64_t>("index");
    frame.format = r.required<Format>("format");
    frame.byteCount = r.required<std::int64_t>("byteCount");
    frame.width = r.required<std::int64_t>("width");
    frame.height = r.required<std::int64_t>("height");
    return frame;
}

Json AttachmentFrame::toJson() const {
    return JsonWriter()
        .put("index", index)
        .put("format", format)
        .put("byteCount", byteCount)
        .put("width", width)
        .put("height", height)
        .take();
}

}  // namespace quib
