# File search: rules, packed index, scanner, inotify watcher and the engine that owns them.
target_sources(vesk_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file_rules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_index_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_scanner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/directory_watcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_search_engine.cpp
)
