#include "Platform/Linux/PixbufJpegEncoder.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <memory>
#include <string>

namespace quib {
namespace {

struct Unref {
    void operator()(GdkPixbuf* picture) const { g_object_unref(picture); }
};

}  // namespace

// The pixbuf borrows the picture's rows for the length of the call.
std::optional<Bytes> PixbufJpegEncoder::encode(const RgbPicture& picture, int quality) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() < picture.stride() * static_cast<std::size_t>(picture.height)) {
        return std::nullopt;
    }
    std::unique_ptr<GdkPixbuf, Unref> pixbuf(
        gdk_pixbuf_new_from_data(picture.pixels.data(), GDK_COLORSPACE_RGB, FALSE, 8, picture.width, picture.height,
                                 static_cast<int>(picture.stride()), nullptr, nullptr));
    if (!pixbuf) return std::nullopt;
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    const std::string level = std::to_string(quality);
    const bool saved =
        gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "jpeg", &error, "quality", level.c_str(), nullptr);
    if (error) g_error_free(error);
    if (!saved || !buffer) {
        g_free(buffer);
        return std::nullopt;
    }
    Bytes jpeg(reinterpret_cast<std::uint8_t*>(buffer), reinterpret_cast<std::uint8_t*>(buffer) + size);
    g_free(buffer);
    return jpeg;
}

}  // namespace quib
