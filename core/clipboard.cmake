target_sources(vesk_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/clip.cpp
)
