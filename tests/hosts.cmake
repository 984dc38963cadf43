# The plug-in in real hosts: jalv on a dummy JACK server, and an Ardour
# session on its Dummy backend. Each test skips (77) only when its host is not
# installed. They hold the log lock because every instance they create would
# append to /tmp/plonkbrett.log while a log test has it in place.
# The installed hosts are the build machine's: a cross build leaves them out.
if(CMAKE_CROSSCOMPILING)
  set_property(GLOBAL APPEND PROPERTY STREUWOLKE_TESTS_LEFT_OUT "hosts (cross build)")
  return()
endif()

# The hosts' LV2_PATH: the plug-in's bundle and, as on a user's machine, the
# units bundle, from which hosts take the render formats of the standard
# units (Ardour shows "50.00%" rather than "50.00").
set(hosts_lv2_path ${CMAKE_BINARY_DIR}/tests/hosts-lv2)
file(MAKE_DIRECTORY ${hosts_lv2_path})
file(CREATE_LINK ${BUNDLE_DIR} ${hosts_lv2_path}/${BUNDLE_NAME} SYMBOLIC)
file(CREATE_LINK ${LV2_UNITS_BUNDLE} ${hosts_lv2_path}/units.lv2 SYMBOLIC)

foreach(host jalv ardour)
  add_test(NAME host_${host}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/hosts/${host}.sh ${hosts_lv2_path})
  set_tests_properties(host_${host} PROPERTIES
    LABELS host TIMEOUT 240 SKIP_RETURN_CODE 77 RESOURCE_LOCK logfile)
endforeach()
