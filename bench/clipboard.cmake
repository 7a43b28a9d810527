vesk_bench(bench_clipboard ${CMAKE_CURRENT_LIST_DIR}/clipboard_bench.cpp)
