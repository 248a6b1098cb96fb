# libFuzzer targets, built by the fuzz preset. Each target also gets a short
# CTest run ("fuzz smoke") from a seed corpus; fuzz for longer with
# scripts/fuzz.sh.
set(SEALPROBE_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz smoke test runs")

function(sealprobe_fuzz_target name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE sealprobe_platform sealprobe_warnings)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()

sealprobe_fuzz_target(args_fuzz src/driver/args_fuzz.cpp)

set(fuzz_dir ${CMAKE_BINARY_DIR}/fuzz)
add_test(NAME fuzz_args_smoke
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
          $<TARGET_FILE:args_fuzz> -max_total_time=${SEALPROBE_FUZZ_SECONDS}
          -rss_limit_mb=1024 -timeout=5 -print_final_stats=1
          ${fuzz_dir}/args_corpus ${CMAKE_CURRENT_SOURCE_DIR}/src/driver/args_fuzz_seeds)
set_tests_properties(fuzz_args_smoke PROPERTIES FIXTURES_REQUIRED fuzz_corpus)
add_test(NAME fuzz_corpus_dirs
  COMMAND ${CMAKE_COMMAND} -E make_directory ${fuzz_dir}/args_corpus)
set_tests_properties(fuzz_corpus_dirs PROPERTIES FIXTURES_SETUP fuzz_corpus)
