# libFuzzer targets, built by the fuzz preset. Each target also gets a short
# CTest run ("fuzz smoke") from a seed corpus; fuzz for longer with
# scripts/fuzz.sh.
set(SEALPROBE_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz smoke test runs")
# The smoke runs look for crashes; libFuzzer's per-input timeout is wall-clock
# time, so theirs is wide enough that a busy machine cannot trip it (a slow
# input is still one that takes seconds: scripts/fuzz.sh's own 2 s finds it).
set(fuzz_smoke_environment FUZZ_TIMEOUT=20)

# sealprobe_fuzz_target(NAME SOURCE [LIBRARIES...]): the program NAME_fuzz,
# and its smoke run fuzz_NAME_smoke (scripts/fuzz.sh NAME).
function(sealprobe_fuzz_target name source)
  add_executable(${name}_fuzz ${source})
  target_link_libraries(${name}_fuzz PRIVATE sealprobe_platform ${ARGN}
                                             sealprobe_warnings)
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  add_test(NAME fuzz_${name}_smoke
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scripts/fuzz.sh
            ${name} ${CMAKE_BINARY_DIR} ${SEALPROBE_FUZZ_SECONDS})
  set_tests_properties(fuzz_${name}_smoke PROPERTIES
    ENVIRONMENT ${fuzz_smoke_environment})
endfunction()

sealprobe_fuzz_target(args src/driver/args_fuzz.cpp)

# The native verification over a file's bytes in memory. Its seeds are the
# signed, tampered and unsigned test fixtures, copied in at test time.
sealprobe_fuzz_target(authenticode src/authenticode/authenticode_fuzz.cpp
                      sealprobe_authenticode)

# The compound-file reader and the installer's digest walks alone, without
# the cryptography after them. Its seeds are the fixtures' compound files.
sealprobe_fuzz_target(compound_file src/authenticode/compound_file_fuzz.cpp
                      sealprobe_authenticode)

# What sealprobe-explain makes of the same bytes: the record's renderings,
# descriptions of hostile certificates included. The same seeds.
sealprobe_fuzz_target(explain src/explain/explain_fuzz.cpp sealprobe_explain)

# The readers of Windows' trust files: root and Disallowed lists, serialized
# stores, cabinets. Its seeds are the fixtures' own, copied in at test time.
sealprobe_fuzz_target(windows_trust src/authenticode/root_program/windows_trust_fuzz.cpp
                      sealprobe_authenticode)
