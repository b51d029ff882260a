# Signs one Windows executable in place with osslsigncode (Authenticode,
# SHA-256), for the build and for makensis's !finalize and !uninstfinalize.
#
#   cmake -DOSSLSIGNCODE=osslsigncode -DCERT=cert.pem -DKEY=key.pem
#         [-DPASSFILE=file] [-DTIMESTAMP=url] -P sign.cmake FILE
#
# osslsigncode does not sign in place: it writes beside the file, and the
# signed copy replaces the file only when signing succeeded.
cmake_minimum_required(VERSION 3.20)
math(EXPR _last "${CMAKE_ARGC} - 1")
set(FILE "${CMAKE_ARGV${_last}}")
if(NOT EXISTS "${FILE}" OR NOT CERT OR NOT KEY)
  message(FATAL_ERROR "usage: cmake -DOSSLSIGNCODE=... -DCERT=... -DKEY=... -P sign.cmake FILE (got '${FILE}')")
endif()
set(args sign -certs "${CERT}" -key "${KEY}" -h sha256 -n "Kestrin")
if(PASSFILE)
  list(APPEND args -readpass "${PASSFILE}")
endif()
if(TIMESTAMP)
  list(APPEND args -ts "${TIMESTAMP}")
endif()
set(out "${FILE}.signing")
file(REMOVE "${out}")
execute_process(COMMAND "${OSSLSIGNCODE}" ${args} -in "${FILE}" -out "${out}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(NOT rc EQUAL 0)
  file(REMOVE "${out}")
  message(FATAL_ERROR "osslsigncode could not sign ${FILE}:\n${said}")
endif()
file(RENAME "${out}" "${FILE}")
