# streuwolke-analyze: measures impulse responses and renders (decay times,
# echo density, flutter, the tail's colour and stereo image). The measures
# live in a library of their own, free of LV2, which the tests call directly.
add_library(streuwolke_analysis STATIC ${CMAKE_CURRENT_LIST_DIR}/analyze/Analysis.cpp)
target_include_directories(streuwolke_analysis PUBLIC ${CMAKE_CURRENT_LIST_DIR}/analyze ${CMAKE_CURRENT_LIST_DIR}/common)
target_link_libraries(streuwolke_analysis PUBLIC PkgConfig::FFTW m)

add_executable(streuwolke-analyze ${CMAKE_CURRENT_LIST_DIR}/analyze/main.cpp)
target_link_libraries(streuwolke-analyze PRIVATE streuwolke_analysis PkgConfig::SNDFILE)
set_target_properties(streuwolke-analyze PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
install(TARGETS streuwolke-analyze RUNTIME DESTINATION bin)

foreach(target streuwolke_analysis streuwolke-analyze)
  streuwolke_warnings(${target})
  streuwolke_exact_float(${target})
endforeach()
