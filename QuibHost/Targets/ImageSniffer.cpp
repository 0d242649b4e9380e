#include "QuibHost/Targets/ImageSniffer.hpp"

#include <algorithm>
#include <array>

namespace quib {
namespace {

using Span = std::span<const std::uint8_t>;

bool startsWith(Span bytes, std::string_view prefix, std::size_t at = 0) {
    return bytes.size() >= at + prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

std::uint32_t bigEndian(Span bytes, std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes[at + i];
    return value;
}

constexpr std::string_view pngSignature{"\x89PNG\r\n\x1a\n", 8};

// HEIF files whose major brand is one of these hold HEVC-coded images.
bool isHeic(Span bytes) {
    constexpr std::array<std::string_view, 6> brands{"heic", "heix", "hevc", "hevx", "heim", "heis"};
    return startsWith(bytes, "ftyp", 4) && std::any_of(brands.begin(), brands.end(), [&](std::string_view brand) {
               return startsWith(bytes, brand, 8);
           });
}

// IHDR must be the first chunk: its length (13), its type, then width and height.
std::optional<ImageSniffer::PixelSize> pngSize(Span bytes) {
    constexpr std::size_t ihdrEnd = 8 + 8 + 13;
    if (bytes.size() < ihdrEnd || bigEndian(bytes, 8, 4) != 13 || !startsWith(bytes, "IHDR", 12)) return std::nullopt;
    const std::uint32_t width = bigEndian(bytes, 16, 4);
    const std::uint32_t height = bigEndian(bytes, 20, 4);
    if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu) return std::nullopt;
    return ImageSniffer::PixelSize{width, height};
}

// SOF0 to SOF15, except DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool isFrameHeader(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, with no length: TEM, RST0 to RST7 and SOI.
bool standsAlone(std::uint8_t marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8); }

// Walks the marker segments after SOI until the first frame header. A scan (SOS) or the end
// (EOI) before it, a byte where a marker belongs, or a segment that runs past the data means
// there is no readable size.
std::optional<ImageSniffer::PixelSize> jpegSize(Span bytes) {
    std::size_t at = 2;
    while (at < bytes.size()) {
        if (bytes[at] != 0xFF) return std::nullopt;
        while (at < bytes.size() && bytes[at] == 0xFF) ++at;  // fill bytes
        if (at >= bytes.size()) return std::nullopt;
        const std::uint8_t marker = bytes[at++];
        if (standsAlone(marker)) continue;
        if (marker == 0x00 || marker == 0xD9 || marker == 0xDA || at + 2 > bytes.size()) return std::nullopt;
        const std::uint32_t length = bigEndian(bytes, at, 2);
        if (length < 2) return std::nullopt;
        if (isFrameHeader(marker)) {
            // Precision (1 byte), height, width (2 bytes each), then the components.
            if (length < 8 || at + 7 > bytes.size()) return std::nullopt;
            const std::uint32_t height = bigEndian(bytes, at + 3, 2);
            const std::uint32_t width = bigEndian(bytes, at + 5, 2);
            if (width == 0 || height == 0) return std::nullopt;
            return ImageSniffer::PixelSize{width, height};
        }
        at += length;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string_view> ImageSniffer::typeIdentifier(Span bytes) {
    if (startsWith(bytes, pngSignature)) return "public.png";
    if (startsWith(bytes, "\xFF\xD8\xFF")) return "public.jpeg";
    if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) return "com.compuserve.gif";
    if (startsWith(bytes, std::string_view("II*\0", 4)) || startsWith(bytes, std::string_view("MM\0*", 4)))
        return "public.tiff";
    if (startsWith(bytes, "BM")) return "com.microsoft.bmp";
    if (startsWith(bytes, "RIFF") && startsWith(bytes, "WEBP", 8)) return "org.webmproject.webp";
    if (isHeic(bytes)) return "public.heic";
    return std::nullopt;
}

std::optional<ImageSniffer::PixelSize> ImageSniffer::pixelSize(Span bytes, AttachmentFrame::Format format) {
    return format == AttachmentFrame::Format::png ? pngSize(bytes) : jpegSize(bytes);
}

}  // namespace quib
