tq_fuzz(fuzz_app_inputs SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/app_inputs.cpp DEPS tq_app)
