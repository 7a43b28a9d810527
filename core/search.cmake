target_sources(vesk_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/serial_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/item.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_key.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fuzzy_matcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/search_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/history.cpp
)
