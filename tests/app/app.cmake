# The application's owners and controllers against fakes of the desktop services, with real
# SQLite, real files and real inotify.
add_executable(app_tests
  ${CMAKE_CURRENT_LIST_DIR}/app_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/global_hotkeys_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/history_store_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_store_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/app_discovery_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/app_delegate_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_images_test.cpp
)
target_link_libraries(app_tests PRIVATE vesk_app_lib GTest::gtest GTest::gmock)
gtest_discover_tests(app_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
