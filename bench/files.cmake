vesk_bench(bench_files ${CMAKE_CURRENT_LIST_DIR}/files_bench.cpp)
