# streuwolke-render: an offline host on lilv and libsndfile that keeps the
# reverb tail. It sits beside the bundle in the build tree and in <prefix>/bin
# after install, and finds the bundle from there.
add_executable(streuwolke-render ${CMAKE_CURRENT_LIST_DIR}/render/main.cpp)
target_link_libraries(streuwolke-render PRIVATE streuwolke_host PkgConfig::SNDFILE)
set_target_properties(streuwolke-render PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(streuwolke-render plonkbrett-streuwolke)
install(TARGETS streuwolke-render RUNTIME DESTINATION bin)
streuwolke_warnings(streuwolke-render)
streuwolke_exact_float(streuwolke-render)
