#include "Platform/Linux/FileManagerRevealer.hpp"

#include <gio/gio.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Runtime/Logger.hpp"

namespace quib {
namespace {

bool hasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return true;
    }
    return false;
}

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct GFree {
    void operator()(char* text) const { g_free(text); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// An sd-bus error that frees itself.
class BusError {
public:
    ~BusError() { sd_bus_error_free(&error_); }
    sd_bus_error* get() { return &error_; }
    std::string describe(int code) const {
        if (sd_bus_error_is_set(&error_)) return error_.message ? error_.message : error_.name;
        return std::strerror(-code);
    }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// file:// with every byte that needs it escaped, or none for a path GLib cannot express.
Result<std::string> uriOf(const std::filesystem::path& path) {
    GError* error = nullptr;
    std::unique_ptr<char, GFree> uri(g_filename_to_uri(path.c_str(), nullptr, &error));
    if (!uri) {
        std::string why = error ? error->message : "not an absolute path";
        g_clear_error(&error);
        return fail(why);
    }
    return std::string(uri.get());
}

// The item itself, without the trailing separator that names a folder as its own container.
std::filesystem::path itemOf(const std::filesystem::path& path) {
    return path.has_filename() ? path : path.parent_path();
}

}  // namespace

Result<void> FileManagerRevealer::showItem(const std::filesystem::path& item) {
    const auto uri = uriOf(itemOf(item));
    if (!uri) return uri.error();
    sd_bus* opened = nullptr;
    if (const int r = sd_bus_open_user(&opened); r < 0)
        return fail(std::string("no session bus: ") + std::strerror(-r));
    Bus bus(opened);
    sd_bus_message* made = nullptr;
    int r =
        sd_bus_message_new_method_call(bus.get(), &made, "org.freedesktop.FileManager1",
                                       "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1", "ShowItems");
    if (r < 0) return fail(std::strerror(-r));
    Message call(made);
    const char* uris[] = {uri->c_str(), nullptr};
    r = sd_bus_message_append_strv(call.get(), const_cast<char**>(uris));
    if (r >= 0) r = sd_bus_message_append(call.get(), "s", "");
    if (r < 0) return fail(std::strerror(-r));
    BusError error;
    sd_bus_message* answered = nullptr;
    const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(showItemsTimeout).count();
    r = sd_bus_call(bus.get(), call.get(), static_cast<std::uint64_t>(timeout), error.get(), &answered);
    Message reply(answered);
    if (r < 0) return fail(error.describe(r));
    return {};
}

Result<void> FileManagerRevealer::openFolder(const std::filesystem::path& folder) {
    const auto uri = uriOf(folder);
    if (!uri) return uri.error();
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(uri->c_str(), nullptr, &error)) return {};
    std::string why = error ? error->message : "no program opens folders";
    g_clear_error(&error);
    return fail(why);
}

Result<void> FileManagerRevealer::reveal(const std::filesystem::path& item) {
    if (!hasDisplay()) return {};
    const auto shown = showItem(item);
    if (shown) return {};
    quibLog().warning("reveal: the file manager did not select ", pub(item.string()), " (", pub(shown.error().message),
                      "); opening its folder");
    const auto folder = item.parent_path();
    if (auto opened = openFolder(folder); !opened)
        return fail("Could not show " + folder.string() + ": " + opened.error().message);
    return {};
}

}  // namespace quib
