# The copy engine against cp.
add_executable(copy_bench ${CMAKE_CURRENT_SOURCE_DIR}/copy_bench.cpp)
target_link_libraries(copy_bench PRIVATE tq_copy benchmark::benchmark)
