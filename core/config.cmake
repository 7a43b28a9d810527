target_sources(vesk_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/toml_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shortcut.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_bindings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_keys.cpp
)
