# Block-wise against per-sample output stage, in ns per stereo frame.
add_executable(streuwolke_bench_fast ${CMAKE_CURRENT_LIST_DIR}/bench_fast.cpp)
target_link_libraries(streuwolke_bench_fast PRIVATE streuwolke_engine benchmark::benchmark)
streuwolke_warnings(streuwolke_bench_fast)
streuwolke_exact_float(streuwolke_bench_fast)
