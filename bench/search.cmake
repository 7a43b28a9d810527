vesk_bench(bench_search ${CMAKE_CURRENT_LIST_DIR}/search_bench.cpp)
