# The factory presets through lilv's state API, and streuwolke-render (and
# streuwolke-peer's refusals) run as a user would (those cases carry the host
# label: they run the tools and lv2apply).
if(NOT STREUWOLKE_BUILD_TOOLS)
  set_property(GLOBAL APPEND PROPERTY STREUWOLKE_TESTS_LEFT_OUT "render (no tools)")
  return()
endif()

if(NOT STREUWOLKE_TEST_LV2_PATH)
  set(STREUWOLKE_TEST_LV2_PATH ${CMAKE_BINARY_DIR})
endif()

add_executable(test_render ${CMAKE_CURRENT_LIST_DIR}/test_render.cpp)
target_link_libraries(test_render PRIVATE streuwolke_host PkgConfig::SNDFILE GTest::gtest_main)
target_compile_definitions(test_render PRIVATE
  STREUWOLKE_TEST_BUNDLE="${BUNDLE_DIR}"
  STREUWOLKE_TEST_LV2_PATH="${STREUWOLKE_TEST_LV2_PATH}"
  STREUWOLKE_RENDER_TOOL="$<TARGET_FILE:streuwolke-render>"
  STREUWOLKE_PEER_TOOL="$<TARGET_FILE:streuwolke-peer>")
add_dependencies(test_render plonkbrett-streuwolke streuwolke-render streuwolke-peer)
streuwolke_warnings(test_render)
streuwolke_exact_float(test_render)

add_test(NAME render_presets COMMAND test_render --gtest_filter=Presets.*)
add_test(NAME render_tool COMMAND test_render --gtest_filter=Tool.*)
set_tests_properties(render_tool PROPERTIES LABELS host)
# Every instance reads the log switch when it is created.
set_tests_properties(render_presets render_tool PROPERTIES RESOURCE_LOCK logfile)
