# The TQLZ coder against zlib levels 6 and 9 on the same picture bytes.
add_executable(tqlz_bench ${CMAKE_CURRENT_LIST_DIR}/tqlz_bench.cpp)
target_link_libraries(tqlz_bench PRIVATE tq_image benchmark::benchmark)
