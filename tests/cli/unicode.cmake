# kestrin.exe under Wine on names outside the code page, a path deeper than
# MAX_PATH and a *.txt wildcard; containers cross between it and the native
# kestrin both ways, with non-ASCII passwords.
# Arguments: -DTOOL= (kestrin.exe) -DEMULATOR= -DNATIVE= (native kestrin) -DWORK=
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

set(names "plain.txt" "café.txt" "Ελληνικά.txt" "日本語.txt" "emoji 😀.txt")
set(deep "${WORK}/deep")
foreach(i RANGE 1 4)
  string(REPEAT "d${i}" 30 part)
  set(deep "${deep}/${part} δ")
endforeach()
file(MAKE_DIRECTORY "${deep}")

# One run of a tool; out holds its standard output.
function(run)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${ARGN} WORKING_DIRECTORY "${cwd}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit ${rc}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_same a b)
  file(SHA256 "${a}" ha)
  file(SHA256 "${b}" hb)
  if(NOT ha STREQUAL hb)
    message(FATAL_ERROR "${b} differs from ${a}")
  endif()
endfunction()

function(winpath var path)
  string(REPLACE "/" "\\" p "Z:${path}")
  set(${var} "${p}" PARENT_SCOPE)
endfunction()

# /? and -? ask for help wherever they stand, as Windows programs take them:
# never a command or a file name.
set(cwd "${WORK}")
foreach(args "/?" "encrypt;/?" "verify;box._xt;-?;--bogus")
  run(${EMULATOR} "${TOOL}" ${args})
  if(NOT out MATCHES "^usage: kestrin")
    message(FATAL_ERROR "kestrin ${args}: no help:\n${out}")
  endif()
endforeach()

foreach(pw "pässwörd" "κωδικός")
  message(STATUS "password ${pw}")
  file(WRITE "${WORK}/pw" "${pw}\n")
  foreach(dir made orig back aes)
    file(REMOVE_RECURSE "${WORK}/${dir}")
    file(MAKE_DIRECTORY "${WORK}/${dir}")
  endforeach()
  set(i 0)
  foreach(name ${names})
    math(EXPR i "${i} + 1")
    string(REPEAT "${name} ${i}\n" 400 text)
    file(WRITE "${WORK}/orig/${name}" "${text}")
  endforeach()
  file(WRITE "${deep}/deep 日本.txt" "deep down\n")

  # Wine: the *.txt wildcard expanded by kestrin.exe itself.
  set(cwd "${WORK}/orig")
  run(${EMULATOR} "${TOOL}" encrypt -m des --password-file ../pw "*.txt")
  foreach(name ${names})
    string(REGEX REPLACE "\\.txt$" "._xt" box "${name}")
    if(NOT EXISTS "${WORK}/orig/${box}")
      message(FATAL_ERROR "no ${box} from the wildcard")
    endif()
    string(FIND "${out}" "${name} -> " at)
    if(at LESS 0)
      message(FATAL_ERROR "the output does not name ${name}:\n${out}")
    endif()
    file(RENAME "${WORK}/orig/${box}" "${WORK}/made/${box}")
  endforeach()
  # Native: decrypts what Wine made, under the exact names.
  set(cwd "${WORK}/made")
  file(GLOB boxes RELATIVE "${WORK}/made" "${WORK}/made/*")
  run("${NATIVE}" decrypt -q -m des --password-file ../pw ${boxes})
  foreach(name ${names})
    expect_same("${WORK}/orig/${name}" "${WORK}/made/${name}")
  endforeach()

  # Native encrypts; Wine decrypts each by name.
  set(cwd "${WORK}/orig")
  run("${NATIVE}" encrypt -q -m blowfish --password-file ../pw ${names})
  foreach(name ${names})
    string(REGEX REPLACE "\\.txt$" "._xt" box "${name}")
    file(RENAME "${WORK}/orig/${box}" "${WORK}/back/${box}")
    set(cwd "${WORK}/back")
    run(${EMULATOR} "${TOOL}" decrypt -q -m blowfish --password-file ../pw "${box}")
    expect_same("${WORK}/orig/${name}" "${WORK}/back/${name}")
  endforeach()

  # The authenticated container crosses both ways, found by its magic
  # whatever method the reading side is given.
  file(MAKE_DIRECTORY "${WORK}/aes")
  file(COPY "${WORK}/orig/日本語.txt" DESTINATION "${WORK}/aes")
  set(cwd "${WORK}/aes")
  run("${NATIVE}" encrypt -q -m aes --password-file ../pw "日本語.txt")
  file(RENAME "${WORK}/aes/日本語._xt" "${WORK}/aes/native.box")
  file(REMOVE "${WORK}/aes/日本語.txt")
  run(${EMULATOR} "${TOOL}" decrypt -q -m sapphire --password-file ../pw "native.box")
  expect_same("${WORK}/orig/日本語.txt" "${WORK}/aes/日本語.txt")
  run(${EMULATOR} "${TOOL}" encrypt -q --password-file ../pw "日本語.txt")
  file(REMOVE "${WORK}/aes/日本語.txt")
  run("${NATIVE}" decrypt -q --password-file ../pw "日本語._xt")
  expect_same("${WORK}/orig/日本語.txt" "${WORK}/aes/日本語.txt")

  # Deeper than MAX_PATH, as a plain absolute path and in the \\?\ form.
  winpath(wdeep "${deep}/deep 日本.txt")
  set(cwd "${WORK}")
  run(${EMULATOR} "${TOOL}" encrypt -q --password-file pw "${wdeep}")
  file(RENAME "${deep}/deep 日本.txt" "${deep}/deep 日本.orig")
  winpath(wbox "${deep}/deep 日本._xt")
  run(${EMULATOR} "${TOOL}" decrypt -q --password-file pw "\\\\?\\${wbox}")
  expect_same("${deep}/deep 日本.orig" "${deep}/deep 日本.txt")
  file(REMOVE "${deep}/deep 日本.orig" "${deep}/deep 日本._xt")
endforeach()
file(REMOVE_RECURSE "${WORK}")
