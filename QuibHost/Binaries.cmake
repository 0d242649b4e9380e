# The headless host process.
add_executable(quib-host ${CMAKE_CURRENT_SOURCE_DIR}/App/main.cpp)
target_link_libraries(quib-host PRIVATE quib_host quib_platform_linux)
