# The desktop interface: Qt's event loop as the main executor, the panel's tray icon or window,
# and its widgets. The only part of the host that uses Qt.
find_package(Qt6 REQUIRED COMPONENTS Widgets GLOBAL)
quib_sources(interface_sources Interface)
add_library(quib_interface STATIC ${interface_sources})
quib_expose(quib_interface QuibHost/Interface)
set_target_properties(quib_interface PROPERTIES AUTOMOC ON)
target_link_libraries(quib_interface PUBLIC quib_panel Qt6::Widgets)
# Qt's keyword macros (emit, signals, slots) would rewrite names of our own headers.
target_compile_definitions(quib_interface PUBLIC QT_NO_KEYWORDS)
