# The block-wise output stage, bit for bit against the per-sample code.
add_executable(units_fast_path ${CMAKE_CURRENT_SOURCE_DIR}/test_fast_path.cpp)
target_link_libraries(units_fast_path PRIVATE streuwolke_engine GTest::gtest_main)
streuwolke_warnings(units_fast_path)
streuwolke_exact_float(units_fast_path)
add_test(NAME units_fast_path COMMAND units_fast_path)
