# Tests that drive the real binaries over real TLS on 127.0.0.1.
function(quib_integration_binary name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE quib_host_process quib_phone_client quib_host quib_platform_linux quib_test_support
                        PkgConfig::GDK_PIXBUF GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QUIB_HOST_PATH="$<TARGET_FILE:quib-host>"
    QUIB_PHONE_PATH="$<TARGET_FILE:quib-phone>")
  add_dependencies(${name} quib-host quib-phone)
  # The control tool, driven against the real host.
  if(TARGET quibctl)
    target_compile_definitions(${name} PRIVATE QUIB_CTL_PATH="$<TARGET_FILE:quibctl>")
    add_dependencies(${name} quibctl)
  endif()
endfunction()

file(GLOB integration_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/Integration/*.cpp")
if(integration_sources AND TARGET quib-host AND TARGET quib-phone)
  # View channels are read as raw frames, as the in-process tests read them.
  quib_integration_binary(quib_integration_tests ${integration_sources})
  # Hosts with away access on map ports and ask STUN servers: those cases run only in a namespace
  # that reaches nothing but its own loopback (skipped, saying why, where none can be made).
  set(away_cases "QuibHostAway.LocalPhoneIsHandedTheKeyThatOpensTheAwayPort:QuibHostAway.WithAwayAccessOffNoKeyIsHandedOutAndNothingListens:QuibHostPush.*:Quibctl.SwitchesAwayAccessAndARevokedPhonesKeyNoLongerWorks")
  gtest_discover_tests(quib_integration_tests DISCOVERY_TIMEOUT 60 TEST_FILTER "-${away_cases}:QuibHostReach.*"
                       PROPERTIES TIMEOUT 120 ENVIRONMENT "${quib_test_environment}")
  add_test(NAME AwayPrivateNetwork
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/Reach/private-network.sh loopback
                   $<TARGET_FILE:quib_integration_tests> --gtest_filter=${away_cases})
  set_tests_properties(AwayPrivateNetwork PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300
                       ENVIRONMENT "${quib_test_environment}")
  # Away access end to end behind a fake home router that speaks PCP and STUN.
  add_test(NAME ReachEndToEnd
           COMMAND env QUIB_FAKE_ROUTER_PCP=1 ${CMAKE_CURRENT_SOURCE_DIR}/Reach/private-network.sh router
                   $<TARGET_FILE:quib-fake-router> $<TARGET_FILE:quib_integration_tests>
                   --gtest_filter=QuibHostReach.*)
  set_tests_properties(ReachEndToEnd PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
                       ENVIRONMENT "${quib_test_environment}")
  # The same through NAT-PMP, with natpmpc asking the same router as a second opinion.
  add_test(NAME ReachEndToEndNATPMP
           COMMAND env QUIB_FAKE_ROUTER_NATPMP=1 ${CMAKE_CURRENT_SOURCE_DIR}/Reach/private-network.sh router
                   $<TARGET_FILE:quib-fake-router> $<TARGET_FILE:quib_integration_tests>
                   --gtest_filter=QuibHostReach.*)
  set_tests_properties(ReachEndToEndNATPMP PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
                       ENVIRONMENT "${quib_test_environment}")
  # And through UPnP, with upnpc as the second opinion.
  add_test(NAME ReachEndToEndUPnP
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/Reach/private-network.sh router
                   $<TARGET_FILE:quib-fake-router> $<TARGET_FILE:quib_integration_tests>
                   --gtest_filter=QuibHostReach.*)
  set_tests_properties(ReachEndToEndUPnP PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180
                       ENVIRONMENT "${quib_test_environment}")

  # The host on the shared X display: one at a time with the other display tests.
  file(GLOB display_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/Integration/Display/*.cpp")
  if(display_sources)
    quib_integration_binary(quib_display_integration_tests ${display_sources})
    target_link_libraries(quib_display_integration_tests PRIVATE quib_x11_test_support)
    # Stills are decoded as a phone would.
    target_link_libraries(quib_display_integration_tests PRIVATE PkgConfig::LIBAV)
    gtest_discover_tests(quib_display_integration_tests DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 120 RESOURCE_LOCK x11-display ENVIRONMENT "${quib_test_environment}")
  endif()

  # The host recording a sound server of each test's own: its listen channels, decoded.
  file(GLOB listen_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/Integration/Audio/*.cpp")
  if(listen_sources)
    quib_integration_binary(quib_listen_integration_tests ${listen_sources}
                            ${CMAKE_CURRENT_SOURCE_DIR}/Audio/PrivatePulseServer.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/Audio/TonePlayer.cpp)
    pkg_check_modules(PULSE_SIMPLE REQUIRED IMPORTED_TARGET libpulse-simple)
    target_link_libraries(quib_listen_integration_tests PRIVATE PkgConfig::PULSE_SIMPLE PkgConfig::AUDIO_CODEC)
    gtest_discover_tests(quib_listen_integration_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120
                         ENVIRONMENT "${quib_test_environment}")
  endif()

  # The host reading the fixture apps' menus on the shared display, under the accessibility
  # tests' session bus.
  file(GLOB atspi_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/Integration/Atspi/*.cpp")
  if(atspi_sources)
    quib_integration_binary(quib_atspi_integration_tests ${atspi_sources})
    quib_use_fixture_apps(quib_atspi_integration_tests)
    gtest_discover_tests(quib_atspi_integration_tests DISCOVERY_TIMEOUT 60 PROPERTIES ${QUIB_ATSPI_TEST_PROPERTIES})
  endif()
endif()
