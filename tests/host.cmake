# The plug-in as hosts see it: through lilv, and through the LV2 command-line
# tools on the built bundle.
if(NOT STREUWOLKE_BUILD_TOOLS)
  set_property(GLOBAL APPEND PROPERTY STREUWOLKE_TESTS_LEFT_OUT "host (no tools)")
  return()
endif()

# LV2_PATH for the tests: a folder with the plug-in's bundle and the LV2 core
# bundle (LV2_CORE_BUNDLE, found in cmake/Dependencies.cmake; lilv learns the
# plug-in classes from it), and nothing else, so lilv neither finds other
# plug-ins nor complains about the build folder's files.
set(STREUWOLKE_TEST_LV2_PATH ${CMAKE_BINARY_DIR}/tests/lv2)
file(MAKE_DIRECTORY ${STREUWOLKE_TEST_LV2_PATH})
file(CREATE_LINK ${BUNDLE_DIR} ${STREUWOLKE_TEST_LV2_PATH}/${BUNDLE_NAME} SYMBOLIC)
file(CREATE_LINK ${LV2_CORE_BUNDLE} ${STREUWOLKE_TEST_LV2_PATH}/core.lv2 SYMBOLIC)

add_executable(test_lilv ${CMAKE_CURRENT_LIST_DIR}/test_lilv.cpp)
target_link_libraries(test_lilv PRIVATE PkgConfig::LILV PkgConfig::LV2 GTest::gtest_main ${CMAKE_DL_LIBS})
target_include_directories(test_lilv PRIVATE ${PROJECT_SOURCE_DIR})
add_dependencies(test_lilv plonkbrett-streuwolke)
streuwolke_warnings(test_lilv)
streuwolke_exact_float(test_lilv)
# Every instance reads the log switch at creation and would write into a log
# that another test is checking, hence the lock.
gtest_discover_tests(test_lilv DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "LV2_PATH=${STREUWOLKE_TEST_LV2_PATH}" RESOURCE_LOCK logfile)

# The bundle through lv2_validate, binutils and lv2info. The library's
# dependencies are only checked in plain builds: the sanitizers add their own.
set(bundle_checks validate exports lv2info)
if(NOT STREUWOLKE_SANITIZE AND NOT STREUWOLKE_TSAN)
  list(APPEND bundle_checks needed)
endif()
foreach(check ${bundle_checks})
  add_test(NAME bundle_${check}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle_check.sh ${check}
            ${STREUWOLKE_TEST_LV2_PATH}/${BUNDLE_NAME} $<TARGET_FILE:plonkbrett-streuwolke>)
  set_tests_properties(bundle_${check} PROPERTIES LABELS host
    ENVIRONMENT "LV2_PATH=${STREUWOLKE_TEST_LV2_PATH}")
endforeach()
add_test(NAME bundle_version
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle_check.sh version ${BUNDLE_DIR}
          $<TARGET_FILE:plonkbrett-streuwolke> ${PROJECT_VERSION} ${PROJECT_SOURCE_DIR}/debian/changelog)
