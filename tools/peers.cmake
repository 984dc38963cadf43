# streuwolke-peer: renders sound through the peer reverbs (other people's LV2
# plug-ins), for comparisons with ours.
add_executable(streuwolke-peer ${CMAKE_CURRENT_LIST_DIR}/peers/main.cpp)
target_link_libraries(streuwolke-peer PRIVATE streuwolke_host PkgConfig::SNDFILE)
set_target_properties(streuwolke-peer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
streuwolke_warnings(streuwolke-peer)
streuwolke_exact_float(streuwolke-peer)
