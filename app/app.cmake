# vesk_app_lib: the application's owners and controllers, linked by `vesk` and by the tests.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network DBus)
pkg_check_modules(VESK_APP_DEPS REQUIRED IMPORTED_TARGET libsystemd xcb)

add_library(vesk_app_lib STATIC)
target_sources(vesk_app_lib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/run_in_background.cpp
  ${CMAKE_CURRENT_LIST_DIR}/single_instance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/app_delegate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/app_scanner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/app_resolver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/history_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hot_key_center.cpp
  ${CMAKE_CURRENT_LIST_DIR}/global_hotkeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_recorder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_history.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paster.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_deliverer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/running_apps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux_services.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_images.cpp
)
target_link_libraries(vesk_app_lib
  PUBLIC vesk_platform vesk_core Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Network
  PRIVATE Qt6::DBus PkgConfig::VESK_APP_DEPS)

add_executable(vesk ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(vesk PRIVATE vesk_app_lib PkgConfig::VESK_APP_DEPS)
install(TARGETS vesk RUNTIME DESTINATION bin)
