# streuwolke-analyze: measures impulse responses and renders (decay times,
# echo density, flutter, the tail's colour and stereo image). The measures
# live in a library of their own, free of LV2, which the tests call directly.
# The editor measures with it too, so it may be there already.
include(${CMAKE_CURRENT_LIST_DIR}/analyze/library.cmake)

add_executable(streuwolke-analyze ${CMAKE_CURRENT_LIST_DIR}/analyze/main.cpp)
target_link_libraries(streuwolke-analyze PRIVATE streuwolke_analysis PkgConfig::SNDFILE)
set_target_properties(streuwolke-analyze PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
install(TARGETS streuwolke-analyze RUNTIME DESTINATION bin)

streuwolke_warnings(streuwolke-analyze)
streuwolke_exact_float(streuwolke-analyze)
