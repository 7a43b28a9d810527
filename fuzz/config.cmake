# Fuzz targets of the configuration reader; seeds in fuzz/corpus/<target>.
vesk_fuzz(fuzz_toml_reader ${CMAKE_CURRENT_LIST_DIR}/fuzz_toml_reader.cpp)
vesk_fuzz(fuzz_config_parse ${CMAKE_CURRENT_LIST_DIR}/fuzz_config_parse.cpp)
