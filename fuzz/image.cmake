# Image readers: HG-3 and HG-2 files, the holder's dispatch over every format,
# HG-2 and HG-3 save/load round trips of random pictures, and the HG decoder
# and inflater checked against their plain counterparts.
foreach(target image_hg3 image_hg2 image_holder image_hg2_roundtrip image_hg3_roundtrip image_psd
    image_psd_built image_hg_codec)
  tq_fuzz(${target} SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${target}.cpp DEPS tq_image)
endforeach()
