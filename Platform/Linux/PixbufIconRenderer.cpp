#include "Platform/Linux/PixbufIconRenderer.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <memory>

namespace quib {
namespace {

struct Unref {
    void operator()(GdkPixbuf* picture) const { g_object_unref(picture); }
};
using Picture = std::unique_ptr<GdkPixbuf, Unref>;

// The picture centred on a transparent side × side canvas; the picture as it is when it fills
// the canvas already.
Picture onSquareCanvas(Picture picture) {
    const int width = gdk_pixbuf_get_width(picture.get());
    const int height = gdk_pixbuf_get_height(picture.get());
    if (width == IconRenderer::side && height == IconRenderer::side) return picture;
    Picture canvas(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, IconRenderer::side, IconRenderer::side));
    if (!canvas) return nullptr;
    gdk_pixbuf_fill(canvas.get(), 0x00000000);
    // Copying writes the source's pixels as they are, so the source must carry alpha too.
    Picture withAlpha(gdk_pixbuf_add_alpha(picture.get(), FALSE, 0, 0, 0));
    if (!withAlpha) return nullptr;
    gdk_pixbuf_copy_area(withAlpha.get(), 0, 0, width, height, canvas.get(), (IconRenderer::side - width) / 2,
                         (IconRenderer::side - height) / 2);
    return canvas;
}

std::optional<Bytes> encodedAsPng(GdkPixbuf* picture) {
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    if (!gdk_pixbuf_save_to_buffer(picture, &buffer, &size, "png", &error, nullptr)) {
        g_clear_error(&error);
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer);
    Bytes png(bytes, bytes + size);
    g_free(buffer);
    return png;
}

// gdk-pixbuf draws a PNG that ends early with its missing rows left blank. A whole PNG reaches
// its IEND chunk: walk the chunks by their lengths from the signature to there.
bool isCutShortPng(const std::filesystem::path& file) {
    static constexpr std::array<char, 8> signature{'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    std::ifstream in(file, std::ios::binary);
    std::array<char, 8> header{};
    if (!in.read(header.data(), header.size()) || header != signature) return false;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error) return true;
    for (std::uintmax_t at = signature.size();;) {
        // Each chunk: a 4-byte big-endian length, a 4-byte type, the data, a 4-byte checksum.
        if (!in.seekg(static_cast<std::streamoff>(at)) || !in.read(header.data(), header.size())) return true;
        std::uint32_t length = 0;
        for (int i = 0; i < 4; ++i) length = length << 8 | static_cast<unsigned char>(header[i]);
        at += 12 + std::uintmax_t(length);
        if (at > size) return true;
        if (std::equal(header.begin() + 4, header.end(), "IEND")) return false;
    }
}

// gdk-pixbuf decodes a raster picture whole, at the size it states, before scaling it down, and
// a small file can state a size that takes gigabytes (a megabyte of PNG holds 20000 × 20000 blank
// pixels). Only the header is read to learn the size; scalable pictures are drawn at the icon's.
bool isTooLargeToDecode(const std::filesystem::path& file) {
    int width = 0;
    int height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(file.c_str(), &width, &height);
    if (!format || gdk_pixbuf_format_is_scalable(format)) return false;
    return std::int64_t{width} * height > PixbufIconRenderer::largestPixels;
}

}  // namespace

// Only regular files are read: a device or pipe named as an icon could be read forever.
std::optional<Bytes> PixbufIconRenderer::render(const std::filesystem::path& file) const {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error) || isCutShortPng(file) || isTooLargeToDecode(file))
        return std::nullopt;
    GError* failure = nullptr;
    Picture picture(gdk_pixbuf_new_from_file_at_scale(file.c_str(), side, side, TRUE, &failure));
    if (!picture) {
        g_clear_error(&failure);
        return std::nullopt;
    }
    picture = onSquareCanvas(std::move(picture));
    if (!picture) return std::nullopt;
    return encodedAsPng(picture.get());
}

}  // namespace quib
