# Archive reader: hostile archive files, and random reads against plain bytes.
tq_fuzz(archive_open SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/archive_open.cpp DEPS tq_file)
tq_fuzz(archive_read SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/archive_read.cpp DEPS tq_file)
