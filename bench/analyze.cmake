# streuwolke_bench_analyze_memory: the peak memory of streuwolke-analyze on
# long generated files, beside that of the whole file analysed in memory.
# Needs the tools (STREUWOLKE_BUILD_TOOLS).
if(TARGET streuwolke-analyze)
  add_executable(streuwolke_bench_analyze_memory ${CMAKE_CURRENT_LIST_DIR}/analyze_memory.cpp)
  target_link_libraries(streuwolke_bench_analyze_memory PRIVATE streuwolke_analysis PkgConfig::SNDFILE)
  target_compile_definitions(streuwolke_bench_analyze_memory PRIVATE
    STREUWOLKE_ANALYZE_TOOL="$<TARGET_FILE:streuwolke-analyze>")
  add_dependencies(streuwolke_bench_analyze_memory streuwolke-analyze)
  streuwolke_warnings(streuwolke_bench_analyze_memory)
  streuwolke_exact_float(streuwolke_bench_analyze_memory)
endif()
