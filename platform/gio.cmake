# The GIO side of the desktop services: desktop entries, content types, launching.
target_sources(vesk_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/linux/gio_app_catalog.cpp
)
