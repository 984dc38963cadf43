# The lilv host that every tool, the tests and the peer benchmark run
# plug-ins through: ours (found beside the executable in the build tree and
# in <prefix>/bin after install) and the peer reverbs.
add_library(streuwolke_host STATIC ${CMAKE_CURRENT_LIST_DIR}/host/Lv2Host.cpp)
target_link_libraries(streuwolke_host PUBLIC PkgConfig::LILV PkgConfig::LV2)
target_include_directories(streuwolke_host PUBLIC ${CMAKE_CURRENT_LIST_DIR}/host ${CMAKE_CURRENT_LIST_DIR}/common)
target_compile_definitions(streuwolke_host PRIVATE
  STREUWOLKE_LV2_INSTALL_DIR="${STREUWOLKE_LV2_INSTALL_DIR}")
streuwolke_warnings(streuwolke_host)
streuwolke_exact_float(streuwolke_host)
