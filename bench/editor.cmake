# What one update of the editor's picture costs (render, figures, paint).
if(NOT STREUWOLKE_BUILD_UI)
  return()
endif()
add_executable(streuwolke_bench_editor ${CMAKE_CURRENT_LIST_DIR}/bench_editor.cpp)
target_include_directories(streuwolke_bench_editor PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(streuwolke_bench_editor PRIVATE streuwolke_editor benchmark::benchmark)
streuwolke_warnings(streuwolke_bench_editor)
streuwolke_exact_float(streuwolke_bench_editor)
