target_sources(vesk-tool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tool_config.cpp)
