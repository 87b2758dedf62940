# BMP and TQF files from hostile bytes, TQLZ streams, and TQLZ round trips
# checked against the plain compressor.
foreach(target image_bmp image_tqf tqlz_roundtrip)
  tq_fuzz(${target} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${target}.cpp DEPS tq_image)
endforeach()
# PNG, JPEG and WebP streams through their adapters.
foreach(target image_png image_jpeg image_webp)
  tq_fuzz(${target} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${target}.cpp DEPS tq_image)
endforeach()
