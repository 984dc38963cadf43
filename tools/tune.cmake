# streuwolke-tune: measures the defaults and the presets as the preset test
# does, per channel, and searches the controls for settings that meet the
# reverb targets. It runs the engine in-process (far faster than a host) and
# reads the presets through lilv; a developer's tool, not installed.
add_executable(streuwolke-tune ${CMAKE_CURRENT_LIST_DIR}/tune/main.cpp)
target_include_directories(streuwolke-tune PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(streuwolke-tune PRIVATE streuwolke_report streuwolke_engine)
set_target_properties(streuwolke-tune PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(streuwolke-tune plonkbrett-streuwolke)
streuwolke_warnings(streuwolke-tune)
streuwolke_exact_float(streuwolke-tune)
