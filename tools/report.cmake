# streuwolke-report: the measured tables of the defaults, the presets and the
# peer reverbs in the README (tools/report.sh), from the lilv host and the
# analysis library.
add_library(streuwolke_report STATIC ${CMAKE_CURRENT_LIST_DIR}/report/Report.cpp)
target_link_libraries(streuwolke_report PUBLIC streuwolke_host streuwolke_analysis PkgConfig::SNDFILE)
target_include_directories(streuwolke_report PUBLIC ${CMAKE_CURRENT_LIST_DIR}/report)

add_executable(streuwolke-report ${CMAKE_CURRENT_LIST_DIR}/report/main.cpp)
target_link_libraries(streuwolke-report PRIVATE streuwolke_report)
set_target_properties(streuwolke-report PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(streuwolke-report plonkbrett-streuwolke)

foreach(target streuwolke_report streuwolke-report)
  streuwolke_warnings(${target})
  streuwolke_exact_float(${target})
endforeach()
