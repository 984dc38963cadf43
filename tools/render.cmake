# streuwolke-render: an offline host on lilv and libsndfile that keeps the
# reverb tail. It sits beside the bundle in the build tree and in <prefix>/bin
# after install, and finds the bundle from there.
add_library(streuwolke_render_host STATIC ${CMAKE_CURRENT_LIST_DIR}/render/Host.cpp)
target_link_libraries(streuwolke_render_host PUBLIC PkgConfig::LILV PkgConfig::LV2)
target_include_directories(streuwolke_render_host PUBLIC ${CMAKE_CURRENT_LIST_DIR}/render ${CMAKE_CURRENT_LIST_DIR}/common)
target_compile_definitions(streuwolke_render_host PRIVATE
  STREUWOLKE_LV2_INSTALL_DIR="${STREUWOLKE_LV2_INSTALL_DIR}")

add_executable(streuwolke-render ${CMAKE_CURRENT_LIST_DIR}/render/main.cpp)
target_link_libraries(streuwolke-render PRIVATE streuwolke_render_host PkgConfig::SNDFILE)
set_target_properties(streuwolke-render PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(streuwolke-render plonkbrett-streuwolke)
install(TARGETS streuwolke-render RUNTIME DESTINATION bin)

foreach(target streuwolke_render_host streuwolke-render)
  streuwolke_warnings(${target})
  streuwolke_exact_float(${target})
endforeach()
