# Image decoding and saving against libpng and bare zlib inflate.
add_executable(image_decode_bench ${CMAKE_CURRENT_LIST_DIR}/image_decode.cpp)
target_link_libraries(image_decode_bench PRIVATE tq_image benchmark::benchmark)
