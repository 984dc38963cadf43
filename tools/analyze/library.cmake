# The measures of streuwolke-analyze as a library, free of LV2 and of sound
# files: the tool, the tests and the editor link it.
if(TARGET streuwolke_analysis)
  return()
endif()
add_library(streuwolke_analysis STATIC ${CMAKE_CURRENT_LIST_DIR}/Analysis.cpp)
target_include_directories(streuwolke_analysis PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../common)
target_link_libraries(streuwolke_analysis PUBLIC PkgConfig::FFTW m)
streuwolke_warnings(streuwolke_analysis)
streuwolke_exact_float(streuwolke_analysis)
