# The host process: the panel on a display, headless without one.
add_executable(quib-host ${CMAKE_CURRENT_SOURCE_DIR}/App/main.cpp)
target_link_libraries(quib-host PRIVATE quib_host quib_interface quib_platform_linux)
