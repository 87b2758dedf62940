# XML dialect: loading a settings-like document, against pugixml.
find_package(pugixml REQUIRED)
add_executable(xml_bench ${CMAKE_CURRENT_LIST_DIR}/xml_parse_bench.cpp)
target_link_libraries(xml_bench PRIVATE tq_xml benchmark::benchmark pugixml::pugixml)
