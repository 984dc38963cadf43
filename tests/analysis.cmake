# The measures of streuwolke-analyze on signals with known answers, and the
# tool run on a file (label host: it runs the program and gnuplot).
if(NOT STREUWOLKE_BUILD_TOOLS)
  set_property(GLOBAL APPEND PROPERTY STREUWOLKE_TESTS_LEFT_OUT "analysis (no tools)")
  return()
endif()

add_executable(test_analysis ${CMAKE_CURRENT_LIST_DIR}/test_analysis.cpp)
target_link_libraries(test_analysis PRIVATE streuwolke_analysis PkgConfig::SNDFILE GTest::gtest_main)
target_compile_definitions(test_analysis PRIVATE STREUWOLKE_ANALYZE_TOOL="$<TARGET_FILE:streuwolke-analyze>")
add_dependencies(test_analysis streuwolke-analyze)
streuwolke_warnings(test_analysis)
streuwolke_exact_float(test_analysis)

add_test(NAME analysis_measures COMMAND test_analysis --gtest_filter=Analysis.*)
add_test(NAME analysis_tool COMMAND test_analysis --gtest_filter=Tool.*)
set_tests_properties(analysis_tool PROPERTIES LABELS host)
