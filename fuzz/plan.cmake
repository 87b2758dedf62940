tq_fuzz(fuzz_plan_inputs SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plan_inputs.cpp DEPS tq_plan)
