# X11 desktop services against a private Xvfb server that each test process starts itself.
pkg_check_modules(X11_TEST_XCB REQUIRED IMPORTED_TARGET xcb xcb-xtest)
find_package(Qt6 REQUIRED COMPONENTS Core DBus)
add_executable(x11_tests
  ${CMAKE_CURRENT_LIST_DIR}/x11_pasteboard_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_hot_keys_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_key_synthesizer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_workspace_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11_session_events_test.cpp
)
target_link_libraries(x11_tests PRIVATE vesk_platform Qt6::DBus PkgConfig::X11_TEST_XCB GTest::gtest
                                        GTest::gtest_main)
gtest_discover_tests(x11_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS x11)
