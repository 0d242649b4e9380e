# The Linux backends' system libraries.
pkg_check_modules(AVAHI_CLIENT REQUIRED IMPORTED_TARGET avahi-client)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::AVAHI_CLIENT)
# logind's sleep signal and inhibitor, and the file manager's ShowItems, through sd-bus.
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::LIBSYSTEMD)
# The HTTP client that posts pushes to the relay.
pkg_check_modules(LIBCURL REQUIRED IMPORTED_TARGET libcurl)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::LIBCURL)
# The X display: the client library, XTEST for posting input, RandR for the monitors, XFixes
# for hearing who owns the clipboard, XInput 2 for hearing other devices move the pointer.
pkg_check_modules(X11_LIBS REQUIRED IMPORTED_TARGET x11 xtst xrandr xfixes xi)
target_link_libraries(quib_platform_linux PUBLIC PkgConfig::X11_LIBS)
# The key table that names the host's key codes.
target_link_libraries(quib_platform_linux PRIVATE quib_shared)
# GNOME Shell's record of app use is XML, and so are the router's UPnP descriptions and answers.
# Global, so that the host's own library links it too.
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET GLOBAL pugixml)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::PUGIXML)
# Icons are drawn with gdk-pixbuf (librsvg's loader reads SVG at run time). Global, so that the
# tests can decode what it draws.
pkg_check_modules(GDK_PIXBUF REQUIRED IMPORTED_TARGET GLOBAL gdk-pixbuf-2.0)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::GDK_PIXBUF)
# Other apps' menus and documents through the accessibility bus (libatspi, on GLib).
pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2 gobject-2.0)
target_link_libraries(quib_platform_linux PUBLIC PkgConfig::ATSPI)
# Folders opened with the desktop's default handler when no file manager selects the item.
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::GIO)
# Video compression: libx264 and libx265 through libavcodec. Global, so that the tests can decode
# what it encodes.
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET GLOBAL libavcodec libavutil)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::LIBAV)
# The sound output, recorded from the sound server's monitor of the default output.
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::PULSE)
# AAC encoding: libswresample to the encoder's format, libavcodec's native encoder. Global, so
# that the tests can decode what it encodes.
pkg_check_modules(AUDIO_CODEC REQUIRED IMPORTED_TARGET GLOBAL libswresample libavcodec libavutil)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::AUDIO_CODEC)
# Window capture: the composite pixmaps of windows, their damage, and MIT-SHM to read them fast;
# swscale turns the pixels into the encoder's pictures.
pkg_check_modules(X11_CAPTURE REQUIRED IMPORTED_TARGET xcomposite xdamage xext)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::X11_CAPTURE)
pkg_check_modules(SWSCALE REQUIRED IMPORTED_TARGET GLOBAL libswscale libavutil)
target_link_libraries(quib_platform_linux PRIVATE PkgConfig::SWSCALE)
# The colour conversion of unscaled pictures is a plain loop that the compiler vectorises only
# at -O3, where its cost model allows a remainder loop.
set_source_files_properties(Linux/Media/I420Converter.cpp PROPERTIES COMPILE_OPTIONS "$<$<NOT:$<CONFIG:Debug>>:-O3>")
