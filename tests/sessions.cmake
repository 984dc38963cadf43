# render_sessions: seeded random sessions through the built module, for the
# bit comparison of the builds for different processors in tools/test.sh
# (x86-64 against aarch64 and armhf under qemu). Not a test of its own.
add_executable(render_sessions ${CMAKE_CURRENT_LIST_DIR}/render_sessions.cpp)
target_link_libraries(render_sessions PRIVATE PkgConfig::LV2 ${CMAKE_DL_LIBS})
add_dependencies(render_sessions plonkbrett-streuwolke)
streuwolke_warnings(render_sessions)
streuwolke_exact_float(render_sessions)
