# Robustness in a real session: hostile audio, shared buffers, threads and
# the real-time rules of run.

function(streuwolke_robust_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;PROPERTIES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main PkgConfig::LV2 ${CMAKE_DL_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE STREUWOLKE_MODULE="$<TARGET_FILE:plonkbrett-streuwolke>")
  add_dependencies(${name} plonkbrett-streuwolke)
  streuwolke_warnings(${name})
  streuwolke_exact_float(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${arg_PROPERTIES})
endfunction()

# Every instantiate reads the log switch, so every test here takes the log
# file's lock: an instance made while another test has the log on would
# write into that test's file.
streuwolke_robust_test(test_bad_audio SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_bad_audio.cpp
  PROPERTIES RESOURCE_LOCK logfile)
streuwolke_robust_test(test_aliasing SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_aliasing.cpp
  PROPERTIES RESOURCE_LOCK logfile)

# The sanitizers replace the allocator and make system calls of their own,
# so the real-time proof runs in the plain build only. The executable
# exports its allocator so that the loaded module's calls reach it.
if(NOT STREUWOLKE_SANITIZE AND NOT STREUWOLKE_TSAN)
  streuwolke_robust_test(test_rt_safety SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_rt_safety.cpp
    PROPERTIES RESOURCE_LOCK logfile TIMEOUT 120)
  set_target_properties(test_rt_safety PROPERTIES ENABLE_EXPORTS ON)
  target_link_libraries(test_rt_safety PRIVATE Threads::Threads)
endif()

streuwolke_robust_test(test_threads SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_threads.cpp
  PROPERTIES LABELS threads RESOURCE_LOCK logfile)
target_link_libraries(test_threads PRIVATE Threads::Threads)
