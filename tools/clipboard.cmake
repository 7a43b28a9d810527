target_sources(vesk-tool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tool_clipboard.cpp)
# Image clips need the Qt codec of the platform library; without it --fill adds none.
if(TARGET vesk_platform)
  target_sources(vesk-tool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/clip_sample_images_qt.cpp)
  target_link_libraries(vesk-tool PRIVATE vesk_platform)
else()
  target_sources(vesk-tool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/clip_sample_images_none.cpp)
endif()
