# Readers of the system probe and the DDE service.
tq_fuzz(caps_text SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/caps_text.cpp DEPS tq_caps)
