# Clipboard history: clip reading, the store on disk, the clip index and paste-next.
vesk_test(clipboard_tests
  ${CMAKE_CURRENT_LIST_DIR}/clip_reading_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_store_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_index_test.cpp
)
target_link_libraries(clipboard_tests PRIVATE PkgConfig::SQLITE)
