# libFuzzer targets, built by the fuzz preset. Each target also gets a short
# CTest run ("fuzz smoke") from a seed corpus; fuzz for longer with
# scripts/fuzz.sh.
set(SEALPROBE_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz smoke test runs")
# The smoke runs look for crashes; libFuzzer's per-input timeout is wall-clock
# time, so theirs is wide enough that a busy machine cannot trip it (a slow
# input is still one that takes seconds: scripts/fuzz.sh's own 2 s finds it).
set(fuzz_smoke_environment FUZZ_TIMEOUT=20)

function(sealprobe_fuzz_target name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE sealprobe_platform sealprobe_warnings)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()

sealprobe_fuzz_target(args_fuzz src/driver/args_fuzz.cpp)

add_test(NAME fuzz_args_smoke
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/fuzz.sh
          args ${CMAKE_BINARY_DIR} ${SEALPROBE_FUZZ_SECONDS})
set_tests_properties(fuzz_args_smoke PROPERTIES
  ENVIRONMENT ${fuzz_smoke_environment})

# The native verification over a file's bytes in memory. Its seeds are the
# signed, tampered and unsigned test fixtures, copied in at test time.
sealprobe_fuzz_target(authenticode_fuzz src/authenticode/authenticode_fuzz.cpp)
target_link_libraries(authenticode_fuzz PRIVATE sealprobe_authenticode)

add_test(NAME fuzz_authenticode_smoke
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/fuzz.sh
          authenticode ${CMAKE_BINARY_DIR} ${SEALPROBE_FUZZ_SECONDS})
set_tests_properties(fuzz_authenticode_smoke PROPERTIES
  ENVIRONMENT ${fuzz_smoke_environment})

# What sealprobe-explain makes of the same bytes: the record's renderings,
# descriptions of hostile certificates included. The same seeds.
sealprobe_fuzz_target(explain_fuzz src/explain/explain_fuzz.cpp)
target_link_libraries(explain_fuzz PRIVATE sealprobe_explain)

add_test(NAME fuzz_explain_smoke
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/fuzz.sh
          explain ${CMAKE_BINARY_DIR} ${SEALPROBE_FUZZ_SECONDS})
set_tests_properties(fuzz_explain_smoke PROPERTIES
  ENVIRONMENT ${fuzz_smoke_environment})

# The readers of Windows' trust files: root and Disallowed lists, serialized
# stores, cabinets. Its seeds are the fixtures' own, copied in at test time.
sealprobe_fuzz_target(windows_trust_fuzz
                      src/authenticode/windows_trust_fuzz.cpp)
target_link_libraries(windows_trust_fuzz PRIVATE sealprobe_authenticode)

add_test(NAME fuzz_windows_trust_smoke
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/fuzz.sh
          windows_trust ${CMAKE_BINARY_DIR} ${SEALPROBE_FUZZ_SECONDS})
set_tests_properties(fuzz_windows_trust_smoke PROPERTIES
  ENVIRONMENT ${fuzz_smoke_environment})
