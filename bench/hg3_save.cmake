# Saving HG-3 against saving PNG with libpng.
add_executable(hg3_save_bench ${CMAKE_CURRENT_LIST_DIR}/hg3_save.cpp)
target_link_libraries(hg3_save_bench PRIVATE tq_image benchmark::benchmark)
