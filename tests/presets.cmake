# The defaults and every preset held to what their names and descriptions
# promise, measured as tools/report.sh measures them for the README. Label
# host: it makes the demo material with sox and espeak-ng and renders
# Dragonfly Hall for comparison. tools/ is configured after tests/, so the
# conditions of the libraries it links (render host, analysis, peer host)
# are checked again here.
pkg_check_modules(PRESETS_LILV QUIET lilv-0)
pkg_check_modules(PRESETS_SNDFILE QUIET sndfile)
pkg_check_modules(PRESETS_FFTW QUIET fftw3)
if(NOT PRESETS_LILV_FOUND OR NOT PRESETS_SNDFILE_FOUND OR NOT PRESETS_FFTW_FOUND)
  return()
endif()
find_package(GTest REQUIRED)

add_executable(test_presets ${CMAKE_CURRENT_LIST_DIR}/test_presets.cpp)
target_link_libraries(test_presets PRIVATE streuwolke_report streuwolke_peer_host GTest::gtest_main)
target_compile_definitions(test_presets PRIVATE
  STREUWOLKE_TEST_BUNDLE="${BUNDLE_DIR}"
  STREUWOLKE_DEMO_INPUT="${PROJECT_SOURCE_DIR}/tools/demo-input.sh")
add_dependencies(test_presets plonkbrett-streuwolke)
add_test(NAME presets_keep_their_promises COMMAND test_presets)
# Every instance reads the log switch when it is created.
set_tests_properties(presets_keep_their_promises PROPERTIES LABELS host RESOURCE_LOCK logfile TIMEOUT 300)
