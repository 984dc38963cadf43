# The defaults and every preset held to what their names and descriptions
# promise, measured as tools/report.sh measures them for the README. Label
# host: it makes the demo material with sox and espeak-ng and renders
# Dragonfly Hall for comparison.
if(NOT STREUWOLKE_BUILD_TOOLS)
  set_property(GLOBAL APPEND PROPERTY STREUWOLKE_TESTS_LEFT_OUT "presets (no tools)")
  return()
endif()

add_executable(test_presets ${CMAKE_CURRENT_LIST_DIR}/test_presets.cpp)
target_link_libraries(test_presets PRIVATE streuwolke_report GTest::gtest_main)
target_compile_definitions(test_presets PRIVATE
  STREUWOLKE_TEST_BUNDLE="${BUNDLE_DIR}"
  STREUWOLKE_DEMO_INPUT="${PROJECT_SOURCE_DIR}/tools/demo-input.sh")
add_dependencies(test_presets plonkbrett-streuwolke)
streuwolke_warnings(test_presets)
streuwolke_exact_float(test_presets)
add_test(NAME presets_keep_their_promises COMMAND test_presets)
# Every instance reads the log switch when it is created.
set_tests_properties(presets_keep_their_promises PROPERTIES LABELS host RESOURCE_LOCK logfile TIMEOUT 300)
