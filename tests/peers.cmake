# A smoke check of the lilv host (tools/host) on a peer reverb: renders 0.1 s
# through one installed peer; skipped (exit code 77) when it is not installed.
if(NOT STREUWOLKE_BUILD_TOOLS)
  set_property(GLOBAL APPEND PROPERTY STREUWOLKE_TESTS_LEFT_OUT "peers (no tools)")
  return()
endif()

add_executable(test_peers ${CMAKE_CURRENT_LIST_DIR}/test_peers.cpp)
target_link_libraries(test_peers PRIVATE streuwolke_host)
streuwolke_warnings(test_peers)
streuwolke_exact_float(test_peers)
add_test(NAME peers_smoke COMMAND test_peers)
set_tests_properties(peers_smoke PROPERTIES LABELS host SKIP_RETURN_CODE 77)
