vesk_test(files_tests
  ${CMAKE_CURRENT_LIST_DIR}/file_rules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_index_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_scanner_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/directory_watcher_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_search_engine_test.cpp
)
