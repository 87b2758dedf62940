# The journalled update (plan, checks, staging, flush, journal, swap) against
# the plain copy straight over the installation.
add_executable(update_safe_bench ${CMAKE_CURRENT_SOURCE_DIR}/update_safe_bench.cpp)
target_link_libraries(update_safe_bench PRIVATE tq_plan tq_copy benchmark::benchmark)
target_compile_definitions(update_safe_bench PRIVATE TQ_DEMO_DATA="${CMAKE_SOURCE_DIR}/examples/demo/data")
