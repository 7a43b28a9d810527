# End-to-end tests: the real `vesk` against a private Xvfb server, driven with xclip and xdotool,
# each test with its own temporary HOME and XDG folders.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
pkg_check_modules(VESK_E2E_XCB REQUIRED IMPORTED_TARGET xcb xcb-keysyms)
add_executable(e2e_tests
  ${CMAKE_CURRENT_LIST_DIR}/e2e_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vesk_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_e2e_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_e2e_test.cpp
)
target_compile_definitions(e2e_tests PRIVATE VESK_BINARY="$<TARGET_FILE:vesk>")
target_link_libraries(e2e_tests PRIVATE vesk_options Qt6::Widgets PkgConfig::SQLITE
                                        PkgConfig::VESK_E2E_XCB GTest::gtest)
add_dependencies(e2e_tests vesk)
gtest_discover_tests(e2e_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180 LABELS e2e)
