# Tests of the Windows build, included by CMakeLists.txt, run under Wine: the
# file probe on real files, the signed tool end to end and as installers start
# it, its error dialog on a headless display, what the build put into
# SealProbe.exe, and MSI packages that run it.

# --- How the tests run --------------------------------------------------------
# Under Wine, in a prefix of the build's own: wine-run runs a program of this
# build there, for CTest (as the emulator of every test program) and for the
# Python tests (--runner).
set(SEALPROBE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(sealprobe_wine_run ${CMAKE_BINARY_DIR}/wine-run)
configure_file(cmake/wine-run.sh.in ${sealprobe_wine_run} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${sealprobe_wine_run})

# A new prefix takes Wine some seconds to set up; doing it once, before any
# test starts Wine, keeps parallel tests from racing to make it. Its output
# goes nowhere: the Wine server inherits the descriptors and would hold a
# pipe open for seconds after the run.
add_test(NAME wine_prefix
         COMMAND sh -c "\"$0\" wineboot >/dev/null 2>&1" ${sealprobe_wine_run})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP sealprobe_wine
                                            TIMEOUT 120)
# Every GoogleTest case runs under Wine, once the prefix is there.
set(SEALPROBE_GTEST_PROPERTIES FIXTURES_REQUIRED sealprobe_wine LABELS slow)

# --- C++ tests ------------------------------------------------------------------
# The probe's share modes and what counts as a file, on Wine's file system.
sealprobe_add_gtest(sealprobe_win32_tests
  SOURCES src/product_files/file_opener_win32_test.cpp
  LIBRARIES sealprobe_platform)

# Programs for the tests of how installers start the tool: a launcher that
# hands a raw command line to CreateProcessW, a control program without the
# tool's defences, and DLLs built under system DLLs' names, to be planted.
add_executable(sealprobe_launcher src/driver/e2e/launcher.cpp)
target_link_libraries(sealprobe_launcher PRIVATE sealprobe_warnings)
target_link_options(sealprobe_launcher PRIVATE -municode)
add_executable(sealprobe_undefended_control
               src/driver/e2e/undefended_control.c)
target_link_libraries(sealprobe_undefended_control PRIVATE
                      sealprobe_warnings wintrust crypt32 user32)
target_link_options(sealprobe_undefended_control PRIVATE -municode)
set(sealprobe_planted_dir ${CMAKE_BINARY_DIR}/planted)
foreach(dll wintrust crypt32 msisip uxtheme)
  add_library(sealprobe_planted_${dll} SHARED src/driver/e2e/planted_dll.c)
  target_link_libraries(sealprobe_planted_${dll} PRIVATE sealprobe_warnings)
  set_target_properties(sealprobe_planted_${dll} PROPERTIES
    PREFIX "" OUTPUT_NAME ${dll}
    RUNTIME_OUTPUT_DIRECTORY ${sealprobe_planted_dir}
    ARCHIVE_OUTPUT_DIRECTORY ${sealprobe_planted_dir}/import)
endforeach()
target_compile_definitions(sealprobe_planted_wintrust PRIVATE
                           PLANT_WIN_VERIFY_TRUST)

# --- Python tests -------------------------------------------------------------
# The signed tool on installation folders made at test time.
add_test(NAME e2e
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/driver/e2e/e2e_test.py
                 --tool ${SEALPROBE_TOOL}
                 --runner ${sealprobe_wine_run}
                 --fixtures ${SEALPROBE_FIXTURE_DIR})
set_tests_properties(e2e PROPERTIES
  FIXTURES_REQUIRED "sealprobe_fixtures;sealprobe_wine" TIMEOUT 300)

# Raw installer command lines through the launcher, and planted DLLs beside
# the tool and in its working folder.
add_test(NAME installer_start
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/driver/e2e/installer_start_test.py
                 --tool ${SEALPROBE_TOOL} --runner ${sealprobe_wine_run}
                 --fixtures ${SEALPROBE_FIXTURE_DIR}
                 --launcher $<TARGET_FILE:sealprobe_launcher>
                 --control $<TARGET_FILE:sealprobe_undefended_control>
                 --planted ${sealprobe_planted_dir})
set_tests_properties(installer_start PROPERTIES
  FIXTURES_REQUIRED "sealprobe_fixtures;sealprobe_wine" TIMEOUT 300)

# The message box on Xvfb, in a Wine prefix of its own (see the script).
add_test(NAME dialog_win32
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/notice/win32_dialog_test.py
                 --runner ${sealprobe_wine_run} --tool ${SEALPROBE_TOOL}
                 --fixtures ${SEALPROBE_FIXTURE_DIR}
                 --wineprefix ${CMAKE_BINARY_DIR}/wineprefix-dialog
                 --launcher $<TARGET_FILE:sealprobe_launcher>
                 --control $<TARGET_FILE:sealprobe_undefended_control>)
set_tests_properties(dialog_win32 PROPERTIES
  FIXTURES_REQUIRED sealprobe_fixtures SKIP_RETURN_CODE 77 TIMEOUT 300)

# Subsystem, imports, manifest, version resource and signature of the exe.
add_test(NAME exe_contents
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/driver/e2e/exe_contents_test.py
                 --tool ${SEALPROBE_TOOL}
                 --version ${PROJECT_VERSION}
                 --product-version ${SEALPROBE_PRODUCT_VERSION}
                 --objdump ${CMAKE_OBJDUMP})

# The native tool and this one on the same files, when the native preset has
# been built (scripts/test.sh builds it first); skipped otherwise.
set(SEALPROBE_NATIVE_TOOL ${CMAKE_SOURCE_DIR}/build/native/sealprobe CACHE FILEPATH
    "The native build's sealprobe, for the differential test")
add_test(NAME differential
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/trust/differential_test.py
                 --native ${SEALPROBE_NATIVE_TOOL} --tool ${SEALPROBE_TOOL}
                 --runner ${sealprobe_wine_run}
                 --fixtures ${SEALPROBE_FIXTURE_DIR})
set_tests_properties(differential PROPERTIES
  FIXTURES_REQUIRED "sealprobe_fixtures;sealprobe_wine"
  SKIP_RETURN_CODE 77 TIMEOUT 300)

# Two clean builds of the exe in other folders give the same bytes, and the
# release preset refuses to configure without real signing.
add_test(NAME release_build
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/cmake/release_build_test.py
                 --cmake ${CMAKE_COMMAND} --source ${CMAKE_SOURCE_DIR}
                 --work ${CMAKE_BINARY_DIR}/release-build-test
                 --fixtures ${SEALPROBE_FIXTURE_DIR})
set_tests_properties(release_build PROPERTIES
  FIXTURES_REQUIRED sealprobe_fixtures TIMEOUT 600)

# Packages built with wixl that run the tool as a custom action, installed
# by Wine's msiexec in a prefix of the test's own, on Xvfb for the dialog;
# the NSIS example built by makensis, run silently in the same prefix.
find_program(SEALPROBE_WIXL wixl)
find_program(SEALPROBE_MSIINFO msiinfo)
find_program(SEALPROBE_MAKENSIS makensis)
add_test(NAME msi_install
         COMMAND ${Python3_EXECUTABLE}
                 ${CMAKE_CURRENT_SOURCE_DIR}/src/driver/e2e/msi_test.py
                 --runner ${sealprobe_wine_run} --tool ${SEALPROBE_TOOL}
                 --fixtures ${SEALPROBE_FIXTURE_DIR}
                 --work ${CMAKE_BINARY_DIR}/msi-test
                 --wixl ${SEALPROBE_WIXL} --msiinfo ${SEALPROBE_MSIINFO}
                 --makensis ${SEALPROBE_MAKENSIS})
set_tests_properties(msi_install PROPERTIES
  FIXTURES_REQUIRED sealprobe_fixtures SKIP_RETURN_CODE 77 TIMEOUT 300)
