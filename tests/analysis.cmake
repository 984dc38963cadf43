# The measures of streuwolke-analyze on signals with known answers, and the
# tool run on a file (label host: it runs the program and gnuplot).
# tools/ is configured after tests/, so the target streuwolke_analysis does
# not exist yet here: its conditions (tools/analyze.cmake) are checked again.
pkg_check_modules(ANALYSIS_TEST_FFTW QUIET fftw3)
pkg_check_modules(ANALYSIS_TEST_SNDFILE QUIET IMPORTED_TARGET sndfile)
if(NOT ANALYSIS_TEST_FFTW_FOUND OR NOT ANALYSIS_TEST_SNDFILE_FOUND)
  return()
endif()
find_package(GTest REQUIRED)

add_executable(test_analysis ${CMAKE_CURRENT_LIST_DIR}/test_analysis.cpp)
target_link_libraries(test_analysis PRIVATE streuwolke_analysis PkgConfig::ANALYSIS_TEST_SNDFILE GTest::gtest_main)
target_compile_definitions(test_analysis PRIVATE STREUWOLKE_ANALYZE_TOOL="$<TARGET_FILE:streuwolke-analyze>")
add_dependencies(test_analysis streuwolke-analyze)

add_test(NAME analysis_measures COMMAND test_analysis --gtest_filter=Analysis.*)
add_test(NAME analysis_tool COMMAND test_analysis --gtest_filter=Tool.*)
set_tests_properties(analysis_tool PROPERTIES LABELS host)
