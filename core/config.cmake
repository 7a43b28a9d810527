target_sources(vesk_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/toml_reader.cpp
)
