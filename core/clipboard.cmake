target_sources(vesk_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/clip.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_reading.cpp
  ${CMAKE_CURRENT_LIST_DIR}/url.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_thumbnails.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sqlite_database.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clip_database.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clipboard_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/byte_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paste_run.cpp
)
