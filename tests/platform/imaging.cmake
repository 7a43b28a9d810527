# The clipboard's image handling with the real Qt codec: conversion, thumbnails, image clips.
add_executable(imaging_tests
  ${CMAKE_CURRENT_LIST_DIR}/qt_image_codec_test.cpp
)
target_link_libraries(imaging_tests PRIVATE vesk_platform PkgConfig::SQLITE GTest::gtest
                                            GTest::gtest_main)
gtest_discover_tests(imaging_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
