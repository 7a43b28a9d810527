# Configuration: the TOML reader, shortcuts and key bindings, the settings model.
set(VESK_TOML_TEST_CASES "/work/shared/toml-test/cases" CACHE PATH "toml-test cases (valid/, invalid/)")
vesk_test(config_tests
  ${CMAKE_CURRENT_LIST_DIR}/toml_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shortcut_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_bindings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_test.cpp
)
target_link_libraries(config_tests PRIVATE nlohmann_json::nlohmann_json)
target_compile_definitions(config_tests PRIVATE VESK_TOML_TEST_CASES="${VESK_TOML_TEST_CASES}")
