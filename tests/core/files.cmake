vesk_test(files_tests
  ${CMAKE_CURRENT_LIST_DIR}/file_rules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_index_test.cpp
)
