vesk_test(search_tests
  ${CMAKE_CURRENT_LIST_DIR}/search_key_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fuzzy_matcher_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/queues_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/item_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_index_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/history_test.cpp
)
target_link_libraries(search_tests PRIVATE nlohmann_json::nlohmann_json)
