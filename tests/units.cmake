# Unit tests that link the engine and the plug-in glue directly.
foreach(name spine line controls run)
  add_executable(units_${name} ${CMAKE_CURRENT_SOURCE_DIR}/test_${name}.cpp)
  target_link_libraries(units_${name} PRIVATE streuwolke_plugin GTest::gtest_main)
  streuwolke_warnings(units_${name})
  streuwolke_exact_float(units_${name})
  add_test(NAME units_${name} COMMAND units_${name})
endforeach()
# These write /tmp/plonkbrett.log (and put back whatever was there).
set_tests_properties(units_spine units_line units_controls PROPERTIES RESOURCE_LOCK logfile)
