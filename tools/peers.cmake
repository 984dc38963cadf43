# streuwolke-peer: renders sound through the peer reverbs (other people's LV2
# plug-ins) with a small lilv host, for comparisons with ours. The host is a
# library of its own so benchmarks can drive the peers too.
pkg_check_modules(PEER_LILV IMPORTED_TARGET lilv-0)
pkg_check_modules(PEER_SNDFILE IMPORTED_TARGET sndfile)
if(NOT PEER_LILV_FOUND OR NOT PEER_SNDFILE_FOUND)
  message(STATUS "streuwolke-peer skipped: needs liblilv-dev and libsndfile1-dev")
  return()
endif()

add_library(streuwolke_peer_host STATIC ${CMAKE_CURRENT_LIST_DIR}/peers/PeerHost.cpp)
target_link_libraries(streuwolke_peer_host PUBLIC PkgConfig::PEER_LILV PkgConfig::LV2)
target_include_directories(streuwolke_peer_host PUBLIC ${CMAKE_CURRENT_LIST_DIR}/peers ${CMAKE_CURRENT_LIST_DIR}/common)

add_executable(streuwolke-peer ${CMAKE_CURRENT_LIST_DIR}/peers/main.cpp)
target_link_libraries(streuwolke-peer PRIVATE streuwolke_peer_host PkgConfig::PEER_SNDFILE)
set_target_properties(streuwolke-peer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
