# Tests of the POSIX build, included by CMakeLists.txt: the adapters on real
# files and a real pseudo-terminal, the OpenSSL trust service on the
# fixtures, and the tool end to end.

# --- How the tests run --------------------------------------------------------
# As they are: the build runs where it was built, the unit tests in seconds.
set(SEALPROBE_GTEST_PROPERTIES LABELS quick)
list(APPEND SEALPROBE_QUICK_TESTS terminal_dialog e2e)

# --- C++ tests ------------------------------------------------------------------
# The probe on real files (directories, FIFOs, sockets, non-UTF-8 names) and
# the notice's text for a terminal.
sealprobe_add_gtest(sealprobe_posix_tests
  SOURCES
    src/notice/terminal_notice_posix_test.cpp
    src/product_files/file_opener_posix_test.cpp
  LIBRARIES sealprobe_platform)

# Every status of the Authenticode verifier, from the fixtures, on one
# thread and on several, and the POSIX trust service over it.
sealprobe_add_gtest(sealprobe_trust_tests
  SOURCES
    src/authenticode/authenticode_test.cpp
    src/authenticode/compound_file_test.cpp
    src/authenticode/concurrency_test.cpp
    src/authenticode/der_limits_test.cpp
    src/authenticode/pe_image_test.cpp
    src/authenticode/root_program/windows_roots_test.cpp
    src/authenticode/signed_data_test.cpp
    src/trust/trust_service_posix_test.cpp
  LIBRARIES sealprobe_platform sealprobe_authenticode Threads::Threads
  PROPERTIES
    FIXTURES_REQUIRED sealprobe_fixtures
    ENVIRONMENT "SEALPROBE_FIXTURES=${SEALPROBE_FIXTURE_DIR}")

# sealprobe-explain's pieces: what it is to check on real folders, and the
# trust choice; the stable codes and the caps' words; the format table, the
# line wrapper, the JSON and XML writers, human reports of records made by
# hand (one of them held against the excerpt in docs/verifier.md); the
# options, and ordered work on several threads.
sealprobe_add_gtest(sealprobe_explain_tests
  SOURCES
    src/explain/decide/inputs_test.cpp
    src/explain/decide/staging_test.cpp
    src/explain/decide/trust_choice_test.cpp
    src/explain/formats/format_table_test.cpp
    src/explain/formats/json_writer_test.cpp
    src/explain/formats/line_wrap_test.cpp
    src/explain/formats/text_renderer_test.cpp
    src/explain/formats/xml_writer_test.cpp
    src/explain/options_test.cpp
    src/explain/parallel_test.cpp
    src/explain/formats/progress_test.cpp
    src/explain/words/codes_test.cpp
    src/explain/words/wording_test.cpp
  LIBRARIES sealprobe_explain sealprobe_platform
  PROPERTIES ENVIRONMENT "SEALPROBE_SOURCE_DIR=${CMAKE_SOURCE_DIR}")

# --- Python tests -------------------------------------------------------------
# The notice on a pseudo-terminal.
add_test(NAME terminal_dialog
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/notice/terminal_dialog_test.py
                 --tool $<TARGET_FILE:sealprobe_exe>)

# The same end-to-end cases the Windows build runs under Wine.
add_test(NAME e2e
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/driver/e2e/e2e_test.py
                 --tool $<TARGET_FILE:sealprobe_exe>
                 --fixtures ${SEALPROBE_FIXTURE_DIR})
set_tests_properties(e2e PROPERTIES
  FIXTURES_REQUIRED sealprobe_fixtures TIMEOUT 300)

# A sanitizer build is slow and large by design: there the Python tests
# judge no processor time or memory.
set(sanitized_option "")
if(SEALPROBE_SANITIZE)
  set(sanitized_option --sanitized)
endif()

# sealprobe-explain gives sealprobe's status for every fixture, and says why.
add_test(NAME explain
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/explain/explain_test.py
                 --tool $<TARGET_FILE:sealprobe_exe>
                 --explain $<TARGET_FILE:sealprobe_explain_exe>
                 --version ${PROJECT_VERSION}
                 --fixtures ${SEALPROBE_FIXTURE_DIR} ${sanitized_option})
set_tests_properties(explain PROPERTIES FIXTURES_REQUIRED sealprobe_fixtures)
list(APPEND SEALPROBE_QUICK_TESTS explain)

# sealprobe-roots against a web server of the test's own on the loopback:
# sync, current, import, show, every way a sync is refused (each leaving
# the folder as it was), a killed sync, and the folder it keeps as the
# other two programs' default.
add_test(NAME roots
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/roots/roots_test.py
                 --roots $<TARGET_FILE:sealprobe_roots_exe>
                 --tool $<TARGET_FILE:sealprobe_exe>
                 --explain $<TARGET_FILE:sealprobe_explain_exe>
                 --fixtures ${SEALPROBE_FIXTURE_DIR})
set_tests_properties(roots PROPERTIES
  FIXTURES_REQUIRED sealprobe_fixtures TIMEOUT 300)
list(APPEND SEALPROBE_QUICK_TESTS roots)

# Thousands of hostile variants of signed files through the real tool. In
# a sanitizer build only their reports, hangs and verdicts count.
add_test(NAME mutation_corpus
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/authenticode/mutation_test.py
                 --tool $<TARGET_FILE:sealprobe_exe>
                 --fixtures ${SEALPROBE_FIXTURE_DIR} ${sanitized_option})
set_tests_properties(mutation_corpus PROPERTIES
  FIXTURES_REQUIRED sealprobe_fixtures TIMEOUT 1200)

# The .deb (cmake/package.cmake), made by CPack into a temporary folder and
# unpacked there, never installed: its files, its control fields, lintian's
# verdict, and its programs run. Only the plain build is packaged, never a
# sanitizer's.
if(NOT SEALPROBE_SANITIZE)
  add_test(NAME package
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cmake/package_test.sh
                   ${CMAKE_CPACK_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                   ${PROJECT_VERSION})
  set_tests_properties(package PROPERTIES TIMEOUT 300)
endif()
