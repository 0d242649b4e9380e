# Tests that drive the real binaries over real TLS on 127.0.0.1.
file(GLOB integration_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/Integration/*.cpp")
if(integration_sources AND TARGET quib-host AND TARGET quib-phone)
  add_executable(quib_integration_tests ${integration_sources})
  target_include_directories(quib_integration_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
  target_link_libraries(quib_integration_tests PRIVATE quib_phone_client quib_host quib_platform_linux
                        GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(quib_integration_tests PRIVATE
    QUIB_HOST_PATH="$<TARGET_FILE:quib-host>"
    QUIB_PHONE_PATH="$<TARGET_FILE:quib-phone>")
  add_dependencies(quib_integration_tests quib-host quib-phone)
  gtest_discover_tests(quib_integration_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()

# The control tool, driven against the real host.
if(TARGET quib_integration_tests AND TARGET quibctl)
  target_compile_definitions(quib_integration_tests PRIVATE QUIB_CTL_PATH="$<TARGET_FILE:quibctl>")
  add_dependencies(quib_integration_tests quibctl)
endif()
