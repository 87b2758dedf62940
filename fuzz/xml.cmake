# XML dialect: loading from memory, and a modify-save-reload round trip.
tq_fuzz(xml_parse SOURCES ${CMAKE_CURRENT_LIST_DIR}/xml_parse.cpp DEPS tq_xml)
tq_fuzz(xml_roundtrip SOURCES ${CMAKE_CURRENT_LIST_DIR}/xml_roundtrip.cpp DEPS tq_xml)
