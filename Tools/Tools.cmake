# The stand-in phone: a library for tests and the quib-phone command-line tool.
add_library(quib_phone_client STATIC ${CMAKE_CURRENT_SOURCE_DIR}/PhoneClient/PhoneClient.cpp)
target_include_directories(quib_phone_client PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quib_phone_client PUBLIC quib_shared)

add_executable(quib-phone ${CMAKE_CURRENT_SOURCE_DIR}/quib-phone/main.cpp
                          ${CMAKE_CURRENT_SOURCE_DIR}/quib-phone/LockoutLedger.cpp)
target_include_directories(quib-phone PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(quib-phone PRIVATE quib_phone_client)

# The control tool: drives a running host through its local control socket.
add_executable(quibctl ${CMAKE_CURRENT_SOURCE_DIR}/quibctl/main.cpp)
target_include_directories(quibctl PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(quibctl PRIVATE quib_host)
