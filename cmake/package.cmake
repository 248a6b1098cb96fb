# The native release package: a .deb that CPack makes from this build folder
# (cpack --config CPackConfig.cmake; scripts/package.sh makes every release
# artifact). It holds both programs in /usr/bin and a man page for each.
# Included by CMakeLists.txt on POSIX only: the Windows build ships as the
# zip that scripts/package.sh makes.
include(GNUInstallDirs)

install(TARGETS sealprobe_exe sealprobe_explain_exe
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian installs man pages compressed. gzip -n leaves the file's name and
# time out of the header, so the same page always gives the same bytes.
set(man_dir ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${man_dir})
set(man_pages "")
foreach(page sealprobe.1 sealprobe-explain.1)
  add_custom_command(
    OUTPUT ${man_dir}/${page}.gz
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh
            ${CMAKE_CURRENT_SOURCE_DIR}/docs/man/${page} ${man_dir}/${page}.gz
    DEPENDS docs/man/${page}
    COMMENT "Compressing the man page ${page}"
    VERBATIM)
  list(APPEND man_pages ${man_dir}/${page}.gz)
endforeach()
add_custom_target(sealprobe_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(SEALPROBE_PACKAGE_MAINTAINER
    "SealProbe release engineering <sealprobe-release@example.invalid>"
    CACHE STRING "The Maintainer field of the .deb")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sealprobe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SEALPROBE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Checks a staged product's files for valid Authenticode signatures")
# Debian's extended description, in lines under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION [[
sealprobe gives the verdicts Windows would give on a product's signed
files, with the command line, output and exit codes of SealProbe.exe,
which the product's installer runs. sealprobe-explain shows how a
verdict was reached.]])
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# sealprobe_<version>_<dpkg's architecture>.deb, the name Debian gives it.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends from what the programs link (libssl3 for libcrypto, the C and C++
# runtimes), as dpkg-shlibdeps computes it on the build machine, so that it
# follows the build rather than a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libarchive unpacks Windows' cabinets, loaded only when one is read, so
# dpkg-shlibdeps cannot see it: named here, and shlibdeps' list is added.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libarchive13 (>= 3.6)")
# The native preset builds with debug information; the package ships without.
set(CPACK_STRIP_FILES ON)
include(CPack)
