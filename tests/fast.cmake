# The block-wise output stage, bit for bit against the per-sample code.
find_package(GTest REQUIRED)
add_executable(units_fast_path ${CMAKE_CURRENT_SOURCE_DIR}/test_fast_path.cpp)
target_link_libraries(units_fast_path PRIVATE streuwolke_engine GTest::gtest_main)
add_test(NAME units_fast_path COMMAND units_fast_path)
