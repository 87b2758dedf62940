# Fuzz targets of the platform layer.
tq_fuzz(pe_version SOURCES pe_version.cpp DEPS tq_platform)
