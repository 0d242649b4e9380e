#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include "Runtime/Bytes.hpp"

namespace quib::testing {

struct PictureUnref {
    void operator()(GdkPixbuf* picture) const { g_object_unref(picture); }
};
using TestPicture = std::unique_ptr<GdkPixbuf, PictureUnref>;

// Writes a PNG of this size filled with one colour (0xRRGGBBAA), with or without alpha.
inline void writePng(const std::filesystem::path& file, int width, int height, bool alpha = true,
                     std::uint32_t colour = 0x3366ccff) {
    std::filesystem::create_directories(file.parent_path());
    TestPicture picture(gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, width, height));
    gdk_pixbuf_fill(picture.get(), colour);
    GError* error = nullptr;
    if (!gdk_pixbuf_save(picture.get(), file.c_str(), "png", &error, nullptr)) {
        ADD_FAILURE() << "cannot write " << file << ": " << error->message;
        g_clear_error(&error);
    }
}

// The picture that PNG bytes hold; null when they do not decode.
inline TestPicture decodePng(const Bytes& png) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    const bool written = gdk_pixbuf_loader_write(loader, png.data(), png.size(), nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    TestPicture picture;
    if (written && closed) {
        if (GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader)) picture.reset(GDK_PIXBUF(g_object_ref(decoded)));
    }
    g_object_unref(loader);
    return picture;
}

// Width and height as a PNG's IHDR chunk states them; none when the bytes do not begin with the
// signature and that chunk.
inline std::optional<std::pair<std::uint32_t, std::uint32_t>> ihdrSize(const Bytes& png) {
    static constexpr std::uint8_t start[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                             0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    if (png.size() < 24 || !std::equal(std::begin(start), std::end(start), png.begin())) return std::nullopt;
    const auto word = [&](std::size_t at) {
        return std::uint32_t(png[at]) << 24 | std::uint32_t(png[at + 1]) << 16 | std::uint32_t(png[at + 2]) << 8 |
               png[at + 3];
    };
    return std::pair{word(16), word(20)};
}

// The alpha of one pixel: 255 where the picture has no alpha.
inline int alphaAt(GdkPixbuf* picture, int x, int y) {
    if (!gdk_pixbuf_get_has_alpha(picture)) return 255;
    const guchar* pixels = gdk_pixbuf_read_pixels(picture);
    return pixels[y * gdk_pixbuf_get_rowstride(picture) + x * gdk_pixbuf_get_n_channels(picture) + 3];
}

}  // namespace quib::testing
