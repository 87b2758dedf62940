# Reading an enciphered archive entry through tqBigFile against OpenSSL's
# Blowfish in ECB over the same bytes in memory (libssl-dev).
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
add_executable(archive_read ${CMAKE_CURRENT_SOURCE_DIR}/archive_read.cpp)
target_link_libraries(archive_read PRIVATE tq_file OpenSSL::Crypto benchmark::benchmark)
target_compile_definitions(archive_read PRIVATE OPENSSL_SUPPRESS_DEPRECATED)
