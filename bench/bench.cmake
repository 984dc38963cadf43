# Speed and endurance, measured rather than tested: neither target is a test.
#   streuwolke_bench  ns per frame through the plug-in, the cost of silence
#                     after a loud burst, the cost of the non-finite guard
#   streuwolke_soak   one instance through an hour of audio (argument:
#                     seconds of audio) with random controls and block sizes
add_executable(streuwolke_bench ${CMAKE_CURRENT_LIST_DIR}/bench_engine.cpp)
target_link_libraries(streuwolke_bench PRIVATE benchmark::benchmark)
add_executable(streuwolke_soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
foreach(target streuwolke_bench streuwolke_soak)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE streuwolke_engine PkgConfig::LV2 ${CMAKE_DL_LIBS})
  target_compile_definitions(${target} PRIVATE STREUWOLKE_MODULE="$<TARGET_FILE:plonkbrett-streuwolke>")
  add_dependencies(${target} plonkbrett-streuwolke)
  streuwolke_warnings(${target})
  streuwolke_exact_float(${target})
endforeach()
