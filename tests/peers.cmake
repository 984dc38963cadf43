# A smoke check of the peer host (tools/peers): renders 0.1 s through one
# installed peer reverb; skipped (exit code 77) when it is not installed.
pkg_check_modules(PEERS_LILV IMPORTED_TARGET lilv-0)
pkg_check_modules(PEERS_SNDFILE IMPORTED_TARGET sndfile)
if(NOT PEERS_LILV_FOUND OR NOT PEERS_SNDFILE_FOUND)
  return() # tools/peers.cmake builds no peer host then
endif()

add_executable(test_peers ${CMAKE_CURRENT_LIST_DIR}/test_peers.cpp)
target_link_libraries(test_peers PRIVATE streuwolke_peer_host)
add_test(NAME peers_smoke COMMAND test_peers)
set_tests_properties(peers_smoke PROPERTIES LABELS host SKIP_RETURN_CODE 77)
