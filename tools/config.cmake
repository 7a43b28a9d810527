target_sources(vesk-tool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tool_config.cpp)
target_link_libraries(vesk-tool PRIVATE nlohmann_json::nlohmann_json)
