# streuwolke_bench_peers: ns per frame of our plug-in beside the peer reverbs,
# all run through lilv by the tools' host (tools/host), so it needs the
# tools (STREUWOLKE_BUILD_TOOLS). It links the engine only to name the kernel
# the plug-in's copy of it picks.
if(TARGET streuwolke_host)
  add_executable(streuwolke_bench_peers ${CMAKE_CURRENT_LIST_DIR}/bench_peers.cpp)
  target_link_libraries(streuwolke_bench_peers PRIVATE streuwolke_host streuwolke_engine)
  target_compile_definitions(streuwolke_bench_peers PRIVATE
    STREUWOLKE_BUNDLE_DIR="$<TARGET_FILE_DIR:plonkbrett-streuwolke>"
    STREUWOLKE_SYSTEM_LV2_PATH="~/.lv2:/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/lv2:/usr/lib/lv2:/usr/local/lib/lv2")
  add_dependencies(streuwolke_bench_peers plonkbrett-streuwolke)
  streuwolke_warnings(streuwolke_bench_peers)
  streuwolke_exact_float(streuwolke_bench_peers)
endif()
