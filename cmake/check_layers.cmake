# Checks that every file under src/ includes only its own folder and folders
# below it. Run by the `layering` test:
#   cmake -DSOURCE_DIR=<checkout>/src -P cmake/check_layers.cmake
#
# The folders, lowest first (the README's "Layout" gives the same order):
#   0  src/ itself    neutral pieces that depend on nothing of ours
#   1  src/notice, src/product_files, src/authenticode
#                     each on rank 0 only, never on one another
#   2  src/trust      the verdict table and the trust service, which on
#                     POSIX asks the Authenticode verifier
#   3  src/driver     the tool: the run over everything below
#      src/explain    sealprobe-explain, a program beside the tool
#   4  src/testing    fakes and helpers for tests, never linked into the tool
# Tests (*_test.cpp) and fuzz targets (*_fuzz.cpp) may include src/testing
# besides.
cmake_minimum_required(VERSION 3.25)

set(rank_ 0)
set(rank_notice 1)
set(rank_product_files 1)
set(rank_authenticode 1)
set(rank_trust 2)
set(rank_driver 3)
set(rank_explain 3)
set(rank_testing 4)

# The folder a path under src/ belongs to: its first component, or "" for a
# file in src/ itself.
function(folder_of path out)
  if(path MATCHES "^([^/]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}"
     "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.c" "${SOURCE_DIR}/*.cpp")
set(problems "")
foreach(file IN LISTS files)
  folder_of("${file}" folder)
  if(NOT DEFINED rank_${folder})
    list(APPEND problems "${file}: src/${folder} has no rank in this check")
    continue()
  endif()
  set(own "${rank_${folder}}")
  set(may_use_testing FALSE)
  if(file MATCHES "_(test|fuzz)\\.cpp$")
    set(may_use_testing TRUE)
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^#include \"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    folder_of("${included}" target)
    if(target STREQUAL folder OR (target STREQUAL "testing" AND may_use_testing))
      continue()
    endif()
    if(NOT DEFINED rank_${target})
      list(APPEND problems "${file}: includes ${included}, outside src/")
    elseif(NOT rank_${target} LESS own)
      list(APPEND problems "${file}: includes ${included}, not below src/${folder}")
    endif()
  endforeach()
endforeach()

list(LENGTH files count)
if(problems)
  list(JOIN problems "\n  " problems)
  message(FATAL_ERROR "Includes that do not point down:\n  ${problems}")
endif()
message(STATUS "${count} files under src/ include only downward")
