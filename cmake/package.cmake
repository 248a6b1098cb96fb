# The native release package: a .deb that CPack makes from this build folder
# (cpack --config CPackConfig.cmake; scripts/package.sh makes every release
# artifact). It holds the three programs in /usr/bin, a man page for each,
# the guides they cite, sealprobe-roots' weekly timer, and the copyright
# file and changelog every Debian package has.
# Included by CMakeLists.txt on POSIX only: the Windows build ships as the
# zip that scripts/package.sh makes.
include(GNUInstallDirs)

install(TARGETS sealprobe_exe sealprobe_explain_exe sealprobe_roots_exe
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# CPack strips the programs (CPACK_STRIP_FILES); Debian's strip also drops
# the compiler's notes, the .comment and .note sections.
foreach(program sealprobe_exe sealprobe_explain_exe sealprobe_roots_exe)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(
        COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endforeach()

# The Maintainer field, and the contact in the package's copyright file and
# changelog.
set(SEALPROBE_MAINTAINER "SealProbe maintainers <maintainers@sealprobe.org>")
set(CPACK_PACKAGE_NAME sealprobe)
set(package_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
set(package_files ${CMAKE_BINARY_DIR}/package-files)

# sealprobe_gzip(SOURCE OUTPUT): OUTPUT made from SOURCE at build time as
# Debian installs man pages and changelogs, compressed. gzip -n leaves the
# file's name and time out of the header, so the same text always gives the
# same bytes.
function(sealprobe_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${source} ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}"
    VERBATIM)
endfunction()

set(man_pages "")
foreach(page sealprobe.1 sealprobe-explain.1 sealprobe-roots.1)
  sealprobe_gzip(${CMAKE_CURRENT_SOURCE_DIR}/docs/man/${page}
                 ${package_files}/${page}.gz)
  list(APPEND man_pages ${package_files}/${page}.gz)
endforeach()
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The guides the man pages cite, by these paths, compressed as Debian keeps
# documentation.
set(guides "")
foreach(guide verifier.md releasing.md installers.md)
  sealprobe_gzip(${CMAKE_CURRENT_SOURCE_DIR}/docs/${guide}
                 ${package_files}/${guide}.gz)
  list(APPEND guides ${package_files}/${guide}.gz)
endforeach()
install(FILES ${guides} DESTINATION ${package_doc_dir})

# A weekly sealprobe-roots sync as root, into /var/lib/sealprobe. Installed
# disabled: the package has no maintainer scripts, so nothing enables it,
# and the machine's owner chooses to fetch from Microsoft. Debian 12 keeps
# packages' units under /lib.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/cmake/sealprobe-roots.service
              ${CMAKE_CURRENT_SOURCE_DIR}/cmake/sealprobe-roots.timer
        DESTINATION /lib/systemd/system)

# The copyright file, in Debian's machine-readable format, from the MIT
# licence at the root (Debian's name for that text is Expat). Configuring
# stops if LICENSE is not that licence, with one copyright line.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(Permission is hereby granted, free of charge,.*)$")
  message(FATAL_ERROR "LICENSE is not the MIT licence with one copyright line")
endif()
set(licence_holders "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" licence_text)
string(REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
string(REPLACE "\n" "\n " licence_text "${licence_text}")
file(WRITE ${package_files}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}
Upstream-Contact: ${SEALPROBE_MAINTAINER}

Files: *
Copyright: ${licence_holders}
License: Expat
 ${licence_text}
")
install(FILES ${package_files}/copyright DESTINATION ${package_doc_dir})

# The changelog, in Debian's format: one entry, for this version, dated when
# configuring by SOURCE_DATE_EPOCH, else by the last commit (as
# scripts/package.sh dates the archives), so that the same sources give the
# same package; by the clock only outside a git checkout. A native
# package's changelog is changelog.gz.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
endif()
# string(TIMESTAMP) gives SOURCE_DATE_EPOCH's time when that is set.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
if(DEFINED commit_time)
  unset(ENV{SOURCE_DATE_EPOCH})
endif()
file(WRITE ${package_files}/changelog
"${CPACK_PACKAGE_NAME} (${PROJECT_VERSION}) unstable; urgency=medium

  * ${PROJECT_NAME} ${PROJECT_VERSION}; the source repository's history lists
    the changes.

 -- ${SEALPROBE_MAINTAINER}  ${changelog_date}
")
sealprobe_gzip(${package_files}/changelog ${package_files}/changelog.gz)
install(FILES ${package_files}/changelog.gz DESTINATION ${package_doc_dir})
# What lintian may not hold against the package, each with the reason.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/cmake/sealprobe.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ${CPACK_PACKAGE_NAME})
add_custom_target(sealprobe_package_files ALL
                  DEPENDS ${man_pages} ${guides} ${package_files}/changelog.gz)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SEALPROBE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Checks a staged product's files for valid Authenticode signatures")
# Debian's extended description, in lines under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION [[
sealprobe gives the verdicts Windows would give on a product's signed
files, with the command line, output and exit codes of SealProbe.exe,
which the product's installer runs. sealprobe-explain shows how a
verdict was reached. sealprobe-roots fetches Windows' root program from
Microsoft, checks that it is Microsoft's, and keeps it for the other two;
a weekly timer for it is installed disabled.]])
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# sealprobe_<version>_<dpkg's architecture>.deb, the name Debian gives it.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends from what the programs link (libssl3 for libcrypto, the C and C++
# runtimes, libcurl4 for sealprobe-roots), as dpkg-shlibdeps computes it on the build machine, so that it
# follows the build rather than a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libarchive unpacks Windows' cabinets, loaded only when one is read, so
# dpkg-shlibdeps cannot see it: named here, and shlibdeps' list is added.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libarchive13 (>= 3.6)")
# The native preset builds with debug information; the package ships without.
set(CPACK_STRIP_FILES ON)
# Folders as Debian makes them, whatever the umask of whoever packages.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
include(CPack)
