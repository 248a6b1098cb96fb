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
  # The password as osslsigncode reads the file: all of it but the line
  # endings at its end, LF or CR LF. OpenSSL's "file:" would keep a CR, and
  # call a good file unreadable; it gets the password through the
  # environment, which no other user can read, never through its arguments.
  file(READ "${SEALPROBE_SIGN_PASSWORD_FILE}" password)
  string(REGEX REPLACE "[\r\n]+$" "" password "${password}")
  set(ENV{SEALPROBE_SIGN_PASSWORD} "${password}")
  unset(password)
  # The certificate that goes with the key. PKCS#12 files made by older tools
  # use ciphers OpenSSL 3 keeps in its legacy provider (osslsigncode loads
  # it); try that before calling the file unreadable.
  find_program(SEALPROBE_OPENSSL openssl REQUIRED)
  set(pkcs12_read ${SEALPROBE_OPENSSL} pkcs12 -in ${SEALPROBE_SIGN_PKCS12}
                  -passin env:SEALPROBE_SIGN_PASSWORD -nokeys)
  foreach(legacy "" "-legacy")
    execute_process(
      COMMAND ${pkcs12_read} ${legacy} -clcerts
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
    # Lifetime Signing: once the certificate expires, Windows judges its
    # signatures as of the moment of checking, timestamp or not ("Windows
    # Authenticode Portable Executable Signature Format", Timestamp
    # Processing with Lifetime Signing Semantics). OpenSSL 3.0 prints the
    # usage as its number; later versions may name it.
    if(usages MATCHES
       "(^|, )(1\\.3\\.6\\.1\\.4\\.1\\.311\\.10\\.3\\.13|[^,]*Lifetime Signing)(,|$)")
      release_problem(
        "${certificate_named}" " has the Lifetime Signing usage "
        "(1.3.6.1.4.1.311.10.3.13): once it expires, Windows judges its "
        "signatures as of the day it checks them, timestamp or not, so from "
        "that day the shipped SealProbe.exe fails its own check and every "
        "install")
    endif()
    # The signature carries the certificates of the file and nothing else. A
    # chain that stops short of its root leaves a Windows machine that cannot
    # fetch the rest (offline, or with retrieval turned off) unable to build
    # it: CERT_E_CHAINING (0x800b010a), which the native verifier gives too.
    # The file's other certificates are both the candidate issuers and the
    # only trusted ones; without -partial_chain only a self-signed one ends a
    # chain. Dates were checked above.
    set(chain_dir ${CMAKE_BINARY_DIR}/release-signing)
    file(MAKE_DIRECTORY ${chain_dir})
    execute_process(COMMAND ${pkcs12_read} ${legacy} -clcerts
                            -out ${chain_dir}/signer.pem
                    COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${pkcs12_read} ${legacy} -cacerts
                            -out ${chain_dir}/chain.pem
                    COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
    execute_process(
      COMMAND ${SEALPROBE_OPENSSL} verify -no-CAfile -no-CApath -no-CAstore
              -CAfile ${chain_dir}/chain.pem -untrusted ${chain_dir}/chain.pem
              -no_check_time -nameopt RFC2253 ${chain_dir}/signer.pem
      RESULT_VARIABLE chained OUTPUT_VARIABLE verified ERROR_VARIABLE verified)
    if(NOT chained EQUAL 0)
      # OpenSSL names the certificate where the chain stopped, then why:
      # "<subject>\nerror N at D depth lookup: <reason>".
      file(READ ${chain_dir}/chain.pem others)
      if(NOT others MATCHES "BEGIN CERTIFICATE")
        set(stopped " (it holds no certificate besides the signer's)")
      elseif(verified MATCHES
             "^([^\n]*)\nerror [0-9]+ at [0-9]+ depth lookup: ([^\n]*)")
        set(stopped " (OpenSSL stops at ${CMAKE_MATCH_1}: ${CMAKE_MATCH_2})")
      else()
        string(REGEX REPLACE "\n.*" "" verified "${verified}")
        set(stopped " (${verified})")
      endif()
      release_problem(
        "${certificate_named}" " does not chain to a self-signed root through "
        "the certificates in the file${stopped}: the signature would carry an "
        "incomplete chain, which Windows rejects where it cannot fetch the "
        "rest (CERT_E_CHAINING). Export the file with its whole chain, root "
        "included")
    endif()
  endif()
  unset(ENV{SEALPROBE_SIGN_PASSWORD})
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
