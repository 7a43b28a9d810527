# The X11 half of the Linux desktop services: clipboard, hot keys, keyboard layout, paste key,
# windows of the running applications, and the session's sleep and lock signals.
pkg_check_modules(VESK_X11 REQUIRED IMPORTED_TARGET xcb-xkb)
target_link_libraries(vesk_platform PRIVATE PkgConfig::VESK_X11)
# The session events receive D-Bus signals in Qt slots.
set_target_properties(vesk_platform PROPERTIES AUTOMOC ON)
target_sources(vesk_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/linux/xcb_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/xcb_event_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_clipboard_types.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_selection_owner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_selection_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_pasteboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_key_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_hot_key_service.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_key_synthesizer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/ewmh_app_identity.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/ewmh_workspace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/dbus_session_events.h
  ${CMAKE_CURRENT_LIST_DIR}/linux/dbus_session_events.cpp
)
