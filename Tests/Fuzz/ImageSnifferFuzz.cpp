// Sniffs the input as an image of either format, whole and cut short. Only the first bytes
// decide: what a prefix already tells (type, size) more bytes never change, and a size is never
// zero.
#include <span>

#include "FuzzSupport.hpp"
#include "QuibHost/Targets/ImageSniffer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    if (size < 1) return 0;
    const std::span<const std::uint8_t> whole(data + 1, size - 1);
    const auto prefix = whole.first(std::min<std::size_t>(whole.size(), data[0]));

    const auto type = ImageSniffer::typeIdentifier(whole);
    if (const auto early = ImageSniffer::typeIdentifier(prefix)) fuzz::require(type == early);
    for (const auto format : {AttachmentFrame::Format::png, AttachmentFrame::Format::jpeg}) {
        const auto pixels = ImageSniffer::pixelSize(whole, format);
        if (pixels) fuzz::require(pixels->width > 0 && pixels->height > 0);
        if (const auto early = ImageSniffer::pixelSize(prefix, format)) fuzz::require(pixels == early);
    }
    return 0;
}
