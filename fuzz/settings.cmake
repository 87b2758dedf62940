# Engine configuration: random bytes as the start-up definition, the setup
# file, the game defaults and the sound definition with its override.
tq_fuzz(settings_files SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/settings_files.cpp DEPS tq_settings)
