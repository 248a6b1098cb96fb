# The POSIX trust service's Authenticode verifier over OpenSSL's libcrypto:
# a library of its own so that the tool, the tests, the fuzz targets and
# the benchmarks link the same code.
add_library(sealprobe_authenticode STATIC
  src/trust/authenticode.cpp
  src/trust/byte_source.cpp
  src/trust/cert_chain.cpp
  src/trust/der_limits.cpp
  src/trust/pe_image.cpp
  src/trust/signed_data.cpp
  src/trust/timestamp.cpp
  src/trust/trust_anchors.cpp
)
target_include_directories(sealprobe_authenticode PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sealprobe_authenticode
  PUBLIC OpenSSL::Crypto
  PRIVATE sealprobe_warnings)
