# BMP and TQF files from hostile bytes, TQLZ streams, and TQLZ round trips
# checked against the plain compressor.
foreach(target image_bmp image_tqf tqlz_roundtrip)
  tq_fuzz(${target} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${target}.cpp DEPS tq_image)
endforeach()
# PNG, JPEG and WebP streams through their adapters.
# Seeds and regression inputs of each target are in fuzz/corpus/<target>.
# The image loaders keep within 64 MiB resident on these (fuzzing builds cap
# pictures at 16 MiB); with ASan's quarantine kept small that can be checked:
#   ASAN_OPTIONS=quarantine_size_mb=1 build/fuzz/fuzz/image_png -rss_limit_mb=64 \
#     NEW_INPUTS_DIR fuzz/corpus/image_png
foreach(target image_png image_jpeg image_webp)
  tq_fuzz(${target} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${target}.cpp DEPS tq_image)
endforeach()
