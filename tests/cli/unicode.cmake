# kestrin.exe under Wine on names outside the code page, a path deeper than
# MAX_PATH and a *.txt wildcard; outputs Windows must refuse and a file in
# use; containers cross between it and the native kestrin both ways, with
# non-ASCII passwords.
# Arguments: -DTOOL= (kestrin.exe) -DEMULATOR= -DNATIVE= (native kestrin)
# -DHOLD= (hold_file.exe) -DWORK=
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

# Outputs and inputs only Windows has, each refused before anything is
# written, the input and the file in the way unchanged: a row is the reason
# looked for, then cmd's command line (Wine's cmd, for its >> and attrib).
# Wine does not enforce the read-only attribute (kestrin.exe refuses such a
# file itself), but it does keep a file that another program holds unshared
# (hold_file) from opening. What Wine cannot show: Ctrl+C or Ctrl+Break sent
# to kestrin.exe (GenerateConsoleCtrlEvent fails there), and a real share.
file(WRITE "${WORK}/pw" "pässwörd\n")
file(WRITE "${WORK}/in.txt" "in\n")
set(cwd "${WORK}")
run(${EMULATOR} "${TOOL}" encrypt -q --password-file pw in.txt)
file(WRITE "${WORK}/taken.txt" "taken\n")
run(${EMULATOR} cmd /c attrib +r taken.txt)
winpath(wtool "${TOOL}")
winpath(whold "${HOLD}")
set(kestrin "${wtool} decrypt --password-file pw")
set(refusals
    "is standard output too|${kestrin} -o - in._xt >> in._xt"
    "NUL: is the name of a device|${kestrin} -o NUL in._xt"
    "aux.txt: is the name of a device|${kestrin} -f -o sub\\aux.txt in._xt"
    "COM1: is the name of a device|${kestrin} -O COM1 in._xt"
    "con: is the name of a device|${kestrin} -r con"
    "taken.txt: is read-only|${kestrin} -f -o taken.txt in._xt"
    "in._xt: cannot read: in use by another program|${whold} in._xt ${kestrin} in._xt")
file(SHA256 "${WORK}/in._xt" before)
foreach(row ${refusals})
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 why)
  list(GET row 1 line)
  execute_process(COMMAND ${EMULATOR} cmd /c "${line}" WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(SHA256 "${WORK}/in._xt" after)
  file(GLOB left RELATIVE "${WORK}" "${WORK}/*")
  if(rc EQUAL 0 OR NOT err MATCHES "${why}" OR NOT after STREQUAL before OR NOT left STREQUAL "deep;in._xt;in.txt;pw;taken.txt")
    message(FATAL_ERROR "${line}: exit ${rc}, left ${left}:\n${out}${err}")
  endif()
endforeach()
file(READ "${WORK}/taken.txt" text)
if(NOT text STREQUAL "taken\n")
  message(FATAL_ERROR "the read-only taken.txt was replaced")
endif()
# Drive-relative: Z:out.txt is out.txt in Z:'s current folder, not a
# stream "out.txt" of a file "Z".
run(${EMULATOR} cmd /c "${kestrin} -q -o Z:out.txt in._xt")
if(NOT EXISTS "${WORK}/out.txt")
  message(FATAL_ERROR "-o Z:out.txt wrote no out.txt")
endif()
# NUL is a character device, which isatty takes for a console: a container
# may go there, only a console refuses it.
run(${EMULATOR} cmd /c "${wtool} encrypt -q --password-file pw -o - in.txt > NUL")
run(${EMULATOR} cmd /c attrib -r taken.txt)
file(REMOVE "${WORK}/in._xt" "${WORK}/out.txt" "${WORK}/taken.txt")

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
