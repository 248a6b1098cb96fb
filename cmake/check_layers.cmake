# Checks that every file under src/ includes only its own folder and folders
# below it, and that the verifier's byte-level parts stay free of OpenSSL.
# Run by the `layering` test:
#   cmake -DSOURCE_DIR=<checkout>/src -P cmake/check_layers.cmake
#
# The folders, lowest first (this list is the order; the README says what
# each one holds). A folder's rank is its tens; folders of the same tens
# are siblings, which never include one another:
#   0   src/ itself    neutral pieces that depend on nothing of ours
#   10  src/notice, src/product_files, src/authenticode
#                      each on rank 0 only, never on one another; inside
#                      src/authenticode, three rooms: the verifier's base
#                      (DER, SignedData, keys, certificate bytes, the
#                      chain's vocabulary: the files `verifier_base`
#                      names) < src/authenticode/root_program, Windows'
#                      root program < the rest, the verifier
#   20  src/trust      the verdict table and the trust service, which on
#                      POSIX asks the Authenticode verifier
#   30  src/driver, src/explain
#                      the tool, and the program that explains its verdicts
#   40  src/roots      sealprobe-roots, which fetches Windows' root program;
#                      above src/explain, whose words it uses for the folder
#                      reader's faults
#   50  src/testing    fakes and helpers for tests, never linked into the tool
# A folder may rank the rooms inside it by its units: a room includes only
# itself and the rooms of its folder ranked below it, and a file in the
# folder itself ranks as the folder. A folder inside one that has no rank
# of its own belongs to the folder around it.
# Tests (*_test.cpp) and fuzz targets (*_fuzz.cpp) may include src/testing
# besides.
cmake_minimum_required(VERSION 3.25)

set(rank_ 0)
set(rank_notice 10)
set(rank_product_files 10)
set(rank_authenticode/base 10)
set(rank_authenticode/root_program 11)
set(rank_authenticode 12)
set(rank_trust 20)
set(rank_driver 30)
set(rank_explain 34)
# sealprobe-explain: what is decided about a file < how it is said < how it
# is written out < the program.
set(rank_explain/decide 31)
set(rank_explain/words 32)
set(rank_explain/formats 33)
set(rank_roots 40)
set(rank_testing 50)

# The parts of the verifier that read a file's bytes before any cryptography
# (the byte sources, the PE image, the compound file and the installer's
# digest walk, the DER pre-walk) need none: the files
# whose names start so may not include an OpenSSL header, directly or through
# a header of ours, so that what they accept is decided by our own code.
set(openssl_free authenticode/byte_source. authenticode/pe_image.
                 authenticode/compound_file. authenticode/msi_package.
                 authenticode/der_limits. authenticode/file_byte_source)

# The verifier's files that Windows' root program may use, which therefore
# use neither it nor the rest of the verifier: the room authenticode/base.
set(verifier_base authenticode/certificate_bytes. authenticode/chain_problem.
                  authenticode/der_limits. authenticode/der_reader.
                  authenticode/key_policy. authenticode/openssl_ptr.
                  authenticode/signed_data.)

# The folder a path under src/ belongs to: authenticode/base for the
# verifier's base, its first two components when they have a rank, else its
# first, or "" for a file in src/ itself.
function(folder_of path out)
  foreach(start IN LISTS verifier_base)
    string(FIND "${path}" "${start}" at)
    if(at EQUAL 0)
      set(${out} "authenticode/base" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(folder "")
  if(path MATCHES "^([^/]+)/")
    set(folder "${CMAKE_MATCH_1}")
  endif()
  if(path MATCHES "^([^/]+/[^/]+)/")
    if(DEFINED rank_${CMAKE_MATCH_1})
      set(folder "${CMAKE_MATCH_1}")
    endif()
  endif()
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

# Whether the folder `target` ranks below the folder `folder`: by the whole
# rank inside one folder, by the tens between folders.
function(ranks_below target folder out)
  string(REGEX REPLACE "/.*" "" target_top "${target}")
  string(REGEX REPLACE "/.*" "" folder_top "${folder}")
  set(below "${rank_${target}}")
  set(own "${rank_${folder}}")
  if(NOT target_top STREQUAL folder_top)
    math(EXPR below "${below} / 10")
    math(EXPR own "${own} / 10")
  endif()
  if(below LESS own)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
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
  set(may_use_testing FALSE)
  if(file MATCHES "_(test|fuzz)\\.cpp$")
    set(may_use_testing TRUE)
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" openssl_${file} REGEX "^#include <openssl/")
  file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^#include \"")
  set(includes_${file} "")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    list(APPEND includes_${file} "${included}")
    folder_of("${included}" target)
    if(target STREQUAL folder OR (target STREQUAL "testing" AND may_use_testing))
      continue()
    endif()
    if(NOT DEFINED rank_${target})
      list(APPEND problems "${file}: includes ${included}, outside src/")
      continue()
    endif()
    ranks_below("${target}" "${folder}" below)
    if(NOT below)
      list(APPEND problems "${file}: includes ${included}, not below src/${folder}")
    endif()
  endforeach()
endforeach()

# Each OpenSSL-free file, and every header of ours it reaches. A name that
# matches no file is a problem too: the check would guard nothing.
set(unmatched ${openssl_free})
foreach(file IN LISTS files)
  set(free FALSE)
  foreach(start IN LISTS openssl_free)
    string(FIND "${file}" "${start}" at)
    if(at EQUAL 0)
      set(free TRUE)
      list(REMOVE_ITEM unmatched "${start}")
    endif()
  endforeach()
  if(NOT free)
    continue()
  endif()
  set(seen "")
  set(pending "${file}")
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${current}")
    if(openssl_${current})
      list(GET openssl_${current} 0 line)
      if(current STREQUAL file)
        list(APPEND problems "${file}: must stay OpenSSL-free, but has ${line}")
      else()
        list(APPEND problems
             "${file}: must stay OpenSSL-free, but reaches ${current}, which has ${line}")
      endif()
      break()
    endif()
    list(APPEND pending ${includes_${current}})
  endwhile()
endforeach()
foreach(start IN LISTS unmatched)
  list(APPEND problems "no file is named src/${start}*, which must be OpenSSL-free")
endforeach()

list(LENGTH files count)
if(problems)
  list(JOIN problems "\n  " problems)
  message(FATAL_ERROR "Includes out of place:\n  ${problems}")
endif()
message(STATUS "${count} files under src/ include only downward, and the "
               "byte-level verifier parts no OpenSSL")
