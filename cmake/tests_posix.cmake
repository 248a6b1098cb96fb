
# --- The OpenSSL trust service ----------------------------------------------
# Fixtures are made at test time, into the build tree, by the trust_fixtures
# test; every test that reads them requires it.
set(SEALPROBE_TRUST_FIXTURES ${CMAKE_BINARY_DIR}/fixtures)
add_test(NAME trust_fixtures
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/src/trust/testdata/make_fixtures.sh
          ${SEALPROBE_TRUST_FIXTURES})
set_tests_properties(trust_fixtures PROPERTIES FIXTURES_SETUP trust_fixtures)

add_executable(sealprobe_trust_tests
  src/trust/authenticode_test.cpp
  src/trust/der_limits_test.cpp
  src/trust/pe_image_test.cpp
)
target_link_libraries(sealprobe_trust_tests PRIVATE
  sealprobe_platform sealprobe_authenticode sealprobe_warnings GTest::gtest_main)
add_test(NAME trust COMMAND sealprobe_trust_tests)
set_tests_properties(trust PROPERTIES
  FIXTURES_REQUIRED trust_fixtures
  ENVIRONMENT "SEALPROBE_FIXTURES=${SEALPROBE_TRUST_FIXTURES}")
