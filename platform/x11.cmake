# The X11 half of the Linux desktop services: clipboard, hot keys, keyboard layout, paste key,
# windows of the running applications, and the session's sleep and lock signals.
target_sources(vesk_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/linux/xcb_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_clipboard_types.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_selection_owner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/linux/x11_pasteboard.cpp
)
