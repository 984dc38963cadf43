# The editor: its scales and preview as units, then the UI library in hosts
# under Xvfb (a host of our own on the UI descriptor, jalv.gtk3 through suil,
# valgrind over an open/close cycle). The hosts' tests skip (77) only when
# Xvfb, xdotool, xwd or the host is not installed.
if(NOT STREUWOLKE_BUILD_UI)
  set_property(GLOBAL APPEND PROPERTY STREUWOLKE_TESTS_LEFT_OUT "editor (no UI)")
  return()
endif()

add_executable(editor_host ${CMAKE_CURRENT_LIST_DIR}/editor/editor_host.cpp)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
target_link_libraries(editor_host PRIVATE PkgConfig::X11 PkgConfig::CAIRO PkgConfig::FONTCONFIG PkgConfig::LV2 ${CMAKE_DL_LIBS})
add_dependencies(editor_host plonkbrett-streuwolke-ui)
streuwolke_warnings(editor_host)

if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME editor_exports
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle_check.sh ui-exports ${BUNDLE_DIR} $<TARGET_FILE:plonkbrett-streuwolke-ui>)
  set_tests_properties(editor_exports PROPERTIES LABELS host)
  add_test(NAME editor_host
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/editor/host.sh $<TARGET_FILE:editor_host>
            $<TARGET_FILE:plonkbrett-streuwolke-ui>)
  # The log lock: the check switches the diagnostic log on.
  set_tests_properties(editor_host PROPERTIES
    LABELS host TIMEOUT 240 SKIP_RETURN_CODE 77 RESOURCE_LOCK logfile)
endif()

# The scales, the formatting and the preview against the plug-in module and
# the analysis library. Every instance reads the log switch, hence the lock;
# the worker's thread is for the thread sanitizer too.
add_executable(test_editor ${CMAKE_CURRENT_LIST_DIR}/test_editor.cpp)
target_link_libraries(test_editor PRIVATE streuwolke_editor PkgConfig::LV2 GTest::gtest_main ${CMAKE_DL_LIBS})
target_include_directories(test_editor PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(test_editor PRIVATE STREUWOLKE_MODULE="$<TARGET_FILE:plonkbrett-streuwolke>"
  STREUWOLKE_README="${PROJECT_SOURCE_DIR}/README.md")
add_dependencies(test_editor plonkbrett-streuwolke)
streuwolke_warnings(test_editor)
streuwolke_exact_float(test_editor)
add_test(NAME editor_units COMMAND test_editor)
set_tests_properties(editor_units PROPERTIES LABELS threads RESOURCE_LOCK logfile)

if(NOT CMAKE_CROSSCOMPILING)
  # jalv.gtk3 embeds the editor; the plug-in reads the log switch.
  add_test(NAME editor_jalv COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/editor/jalv.sh ${CMAKE_BINARY_DIR}/tests/hosts-lv2)
  set_tests_properties(editor_jalv PROPERTIES
    LABELS host TIMEOUT 240 SKIP_RETURN_CODE 77 RESOURCE_LOCK logfile)
endif()

# valgrind cannot run what the sanitizers built.
if(NOT CMAKE_CROSSCOMPILING AND NOT STREUWOLKE_SANITIZE AND NOT STREUWOLKE_TSAN)
  add_test(NAME editor_valgrind
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/editor/valgrind.sh $<TARGET_FILE:editor_host>
            $<TARGET_FILE:plonkbrett-streuwolke-ui>)
  set_tests_properties(editor_valgrind PROPERTIES LABELS host TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()
