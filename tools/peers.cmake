# streuwolke-peer: renders sound through the peer reverbs (other people's LV2
# plug-ins) with a small lilv host, for comparisons with ours. The host is a
# library of its own so benchmarks can drive the peers too.
add_library(streuwolke_peer_host STATIC ${CMAKE_CURRENT_LIST_DIR}/peers/PeerHost.cpp)
target_link_libraries(streuwolke_peer_host PUBLIC PkgConfig::LILV PkgConfig::LV2)
target_include_directories(streuwolke_peer_host PUBLIC ${CMAKE_CURRENT_LIST_DIR}/peers ${CMAKE_CURRENT_LIST_DIR}/common)

add_executable(streuwolke-peer ${CMAKE_CURRENT_LIST_DIR}/peers/main.cpp)
target_link_libraries(streuwolke-peer PRIVATE streuwolke_peer_host PkgConfig::SNDFILE)
set_target_properties(streuwolke-peer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

foreach(target streuwolke_peer_host streuwolke-peer)
  streuwolke_warnings(${target})
  streuwolke_exact_float(${target})
endforeach()
