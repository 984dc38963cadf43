# Block-wise against per-sample output stage, in ns per stereo frame.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(streuwolke_bench_fast ${CMAKE_CURRENT_SOURCE_DIR}/bench_fast.cpp)
  target_link_libraries(streuwolke_bench_fast PRIVATE streuwolke_engine benchmark::benchmark_main)
endif()
