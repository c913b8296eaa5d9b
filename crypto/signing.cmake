# The signing side of the update signatures (Linux, libcrypto), for the tools
# that publish: included by crypto/ and by the test service server's own
# build inside the Windows build.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
add_library(marlix_signing STATIC ${CMAKE_CURRENT_LIST_DIR}/signing_openssl.cpp)
# The text library's header-only file owner; the library itself is not built here.
target_include_directories(marlix_signing PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../text)
target_link_libraries(marlix_signing PUBLIC OpenSSL::Crypto)
target_compile_features(marlix_signing PUBLIC cxx_std_20)
