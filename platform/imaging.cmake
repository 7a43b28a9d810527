target_sources(vesk_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/linux/qt_image_codec.cpp
)
