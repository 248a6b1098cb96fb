# Included by a release configuration (SEALPROBE_RELEASE, the release
# preset): stops configuring unless SealProbe.exe can be signed with a real
# code-signing certificate and timestamped.
#
# A release signed with the development certificate fails on every Windows
# machine: nothing trusts that certificate, and the tool checks its own
# signature as one of the product's files. Without a timestamp the signature
# dies with the certificate.

set(release_problems "")
macro(release_problem)
  string(CONCAT problem ${ARGN})
  list(APPEND release_problems "${problem}")
endmacro()

foreach(setting SEALPROBE_SIGN_PKCS12 SEALPROBE_SIGN_PASSWORD_FILE)
  if("${${setting}}" STREQUAL "")
    release_problem("${setting} is not set")
  elseif(NOT EXISTS "${${setting}}" OR IS_DIRECTORY "${${setting}}")
    release_problem("${setting}: no such file: ${${setting}}")
  endif()
endforeach()
if(NOT SEALPROBE_SIGN_TIMESTAMP_URL MATCHES "^https?://[^ \t]+$")
  release_problem(
       "SEALPROBE_SIGN_TIMESTAMP_URL must name an RFC 3161 time-stamping "
       "server (http:// or https://), got \"${SEALPROBE_SIGN_TIMESTAMP_URL}\"")
endif()

if(NOT release_problems)
  # The certificate that goes with the key. PKCS#12 files made by older tools
  # use ciphers OpenSSL 3 keeps in its legacy provider (osslsigncode loads
  # it); try that before calling the file unreadable.
  find_program(SEALPROBE_OPENSSL openssl REQUIRED)
  foreach(legacy "" "-legacy")
    execute_process(
      COMMAND ${SEALPROBE_OPENSSL} pkcs12 ${legacy} -in ${SEALPROBE_SIGN_PKCS12}
              -passin file:${SEALPROBE_SIGN_PASSWORD_FILE} -nokeys -clcerts
      COMMAND ${SEALPROBE_OPENSSL} x509 -noout -subject -issuer -startdate
              -enddate -dateopt iso_8601 -ext extendedKeyUsage -nameopt RFC2253
      RESULTS_VARIABLE results OUTPUT_VARIABLE certificate ERROR_QUIET)
    if(results STREQUAL "0;0")
      break()
    endif()
  endforeach()
  string(REGEX MATCH "subject=([^\n]*)" subject "${certificate}")
  set(subject "${CMAKE_MATCH_1}")
  string(REGEX MATCH "issuer=([^\n]*)" issuer "${certificate}")
  set(issuer "${CMAKE_MATCH_1}")
  # "YYYY-MM-DD hh:mm:ssZ" (UTC), which compare as strings in time order.
  string(REGEX MATCH "notBefore=([^\n]*)" not_before "${certificate}")
  set(not_before "${CMAKE_MATCH_1}")
  string(REGEX MATCH "notAfter=([^\n]*)" not_after "${certificate}")
  set(not_after "${CMAKE_MATCH_1}")
  string(TIMESTAMP now "%Y-%m-%d %H:%M:%SZ" UTC)
  # The usages, one line under the extension's name ("Code Signing, ...");
  # empty without the extension.
  string(REGEX MATCH "Extended Key Usage:[^\n]*\n[ \t]*([^\n]*)" usages
               "${certificate}")
  set(usages "${CMAKE_MATCH_1}")
  string(CONCAT certificate_named
         "SEALPROBE_SIGN_PKCS12: the certificate in ${SEALPROBE_SIGN_PKCS12} "
         "(${subject})")
  if(NOT results STREQUAL "0;0" OR subject STREQUAL "")
    release_problem(
         "${SEALPROBE_SIGN_PKCS12} cannot be opened with the password in "
         "${SEALPROBE_SIGN_PASSWORD_FILE}, or holds no certificate for its key")
  elseif(subject STREQUAL issuer)
    # The development certificate is self-signed, and so is every test one;
    # a publicly trusted code-signing certificate never is.
    release_problem("${certificate_named}" " is self-signed: Windows trusts no "
                    "such code-signing certificate")
  else()
    # The timestamp proves when the signature was made, and Windows trusts
    # it only if that time lies inside the certificate's validity.
    if(now STRLESS not_before)
      release_problem("${certificate_named}" " is not yet valid: its validity "
                      "starts ${not_before}")
    elseif(not_after STRLESS now)
      release_problem("${certificate_named}" " has expired: its validity "
                      "ended ${not_after}")
    endif()
    # Windows takes a certificate without the extension as good for any
    # use, but a publicly trusted code-signing certificate always names
    # code signing there (CA/Browser Forum, Baseline Requirements for
    # Code Signing Certificates: extKeyUsage with id-kp-codeSigning is
    # required): one without it is not the release certificate.
    if(usages STREQUAL "")
      release_problem("${certificate_named}" " has no extended key usage, so "
                      "it is not for code signing")
    elseif(NOT usages MATCHES "(^|, )Code Signing(,|$)")
      release_problem("${certificate_named}" " is not for code signing: its "
                      "extended key usage is ${usages}")
    endif()
  endif()
endif()

if(release_problems)
  list(JOIN release_problems "\n  - " release_problems)
  message(FATAL_ERROR
    "A release of SealProbe.exe must be signed with the release "
    "certificate and timestamped; this one cannot be:\n"
    "  - ${release_problems}\n"
    "Configure it as:\n"
    "  cmake --preset release -DSEALPROBE_SIGN_PKCS12=<codesign.p12> "
    "-DSEALPROBE_SIGN_PASSWORD_FILE=<password file> "
    "-DSEALPROBE_SIGN_TIMESTAMP_URL=<http://timestamp server>\n"
    "For development and tests use the win64 preset, which signs with a "
    "DEVELOPMENT-ONLY certificate.")
endif()
message(STATUS "Release: SealProbe.exe will be signed by ${subject}, "
               "timestamped by ${SEALPROBE_SIGN_TIMESTAMP_URL}")
