# The installer as a user and an administrator run it, under Wine, in a prefix
# of its own (WORK/prefix), one STEP at a time in this order:
#   prefix switches install_user [signatures] regsvr_user upgrade_loaded
#   uninstall_user custom_folder move_folder stray_copy move_scope
#   upgrade_other_scope uninstall_all_users
# cmake -DSTEP=... -DWINE=wine64 -DWINESERVER=wineserver -DSETUP=Kestrin-x-setup.exe
#       -DDLL=Kestrin.dll -DPROBE=installed_probe.exe -DWORK=dir
#       [-DSIGN_CERT=cert.pem -DSIGNED_FILES=a|b -DOSSLSIGNCODE=osslsigncode] -P installer.cmake
#
# Wine does not enforce elevation or registry rights: its user counts as an
# administrator, so these steps show the all-users paths, keys and moves, but
# not the elevation prompt, the refusal to remove an all-users copy without
# administrator rights, or what a standard user may not write. Nor can they
# show: a folder Setup may not write (Wine runs as root here, and a folder
# named like a file stands in for it), a full disk, paths past MAX_PATH
# (Wine allows them), the merged HKEY_CLASSES_ROOT (Wine's is the machine's
# alone), a real logon running RunOnce (the probe runs the entry), or
# Explorer itself holding the DLL (the probe holds it).
cmake_minimum_required(VERSION 3.20)
set(CLSID "{9DE8B5E6-A39D-4B03-98B2-CE9D236ACE8A}")
set(APPROVED "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved")
set(UNINSTALL "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrin")
set(HANDLER "*\\shellex\\ContextMenuHandlers\\Kestrin")
set(FOLDER_HANDLER "Directory\\shellex\\ContextMenuHandlers\\Kestrin")
set(PREFIX ${WORK}/prefix)
set(ENV{WINEPREFIX} ${PREFIX})
set(ENV{WINEDEBUG} -all)
# As scripts/common.sh: nothing written outside the prefix.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml,winemenubuilder.exe=")
string(REGEX MATCH "Kestrin-(.*)-setup\\.exe$" _ "${SETUP}")
set(VERSION ${CMAKE_MATCH_1})

# Output goes through files: a process that Wine starts in the background
# (services at boot, the uninstaller's copy) would keep a pipe open.
function(run out_rc out_text)
  execute_process(COMMAND ${WINE} ${ARGN} RESULT_VARIABLE rc OUTPUT_FILE ${WORK}/out.txt ERROR_FILE ${WORK}/err.txt)
  file(READ ${WORK}/out.txt text)
  string(REPLACE "\r" "" text "${text}")
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

function(must)
  run(rc text ${ARGN})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed with ${rc}:\n${text}")
  endif()
endfunction()

function(winpath out path)
  string(REPLACE "/" "\\" p "Z:${path}")
  set(${out} "${p}" PARENT_SCOPE)
endfunction()

# reg query's line for one value: "    name    REG_SZ    data".
function(query_value out key name)
  if(name STREQUAL "")
    run(rc text reg query "${key}" /ve)
    set(shown "(Default)")
  else()
    run(rc text reg query "${key}" /v "${name}")
    set(shown "${name}")
  endif()
  string(REGEX MATCH "\n    [^\n]*    (REG_[A-Z_]+)    ([^\n]*)\n" line "${text}")
  if(NOT rc EQUAL 0 OR NOT line)
    set(${out} "<missing>" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}" PARENT_SCOPE)
  endif()
endfunction()

# A reg process that failed to start under a busy Wine looks like a missing
# value: one more look tells them apart, and the failure shows what reg said.
function(expect_value key name want)
  query_value(got "${key}" "${name}")
  if(NOT got STREQUAL want)
    execute_process(COMMAND sleep 1)
    query_value(got "${key}" "${name}")
  endif()
  if(NOT got STREQUAL want)
    file(READ ${WORK}/out.txt said)
    file(READ ${WORK}/err.txt err)
    message(FATAL_ERROR "${key} [${name}]: expected '${want}', found '${got}'\nreg said: ${said}${err}")
  endif()
endfunction()

function(expect_missing key)
  run(rc text reg query "${key}" ${ARGN})
  if(rc EQUAL 0)
    message(FATAL_ERROR "${key} ${ARGN} is still there:\n${text}")
  endif()
endfunction()

# The registration rows as "root\key|value": the machine rows and where the
# per-user path puts the same rows.
set(MACHINE_ROWS "HKCR\\CLSID\\${CLSID}|" "HKCR\\CLSID\\${CLSID}\\InProcServer32|"
    "HKCR\\CLSID\\${CLSID}\\InProcServer32|ThreadingModel" "HKCR\\${HANDLER}|" "HKCR\\${FOLDER_HANDLER}|"
    "HKLM\\${APPROVED}|${CLSID}")
set(USER_ROWS "HKCU\\Software\\Classes\\CLSID\\${CLSID}|" "HKCU\\Software\\Classes\\CLSID\\${CLSID}\\InProcServer32|"
    "HKCU\\Software\\Classes\\CLSID\\${CLSID}\\InProcServer32|ThreadingModel"
    "HKCU\\Software\\Classes\\${HANDLER}|" "HKCU\\Software\\Classes\\${FOLDER_HANDLER}|" "HKCU\\${APPROVED}|${CLSID}")

function(row_values out rows)
  set(values "")
  foreach(row ${${rows}})
    string(REPLACE "|" ";" parts "${row}")
    list(GET parts 0 key)
    list(LENGTH parts n)
    set(name "")
    if(n GREATER 1)
      list(GET parts 1 name)
    endif()
    query_value(v "${key}" "${name}")
    list(APPEND values "${v}")
  endforeach()
  set(${out} "${values}" PARENT_SCOPE)
endfunction()

function(expect_rows_gone rows)
  row_values(values ${rows})
  foreach(v ${values})
    if(NOT v STREQUAL "<missing>")
      message(FATAL_ERROR "a registration row is still there: ${values}")
    endif()
  endforeach()
endfunction()

function(user_dir out)
  file(GLOB dirs LIST_DIRECTORIES true "${PREFIX}/drive_c/users/*/AppData/Local")
  list(FILTER dirs EXCLUDE REGEX "/Public/")
  if(NOT dirs)
    return()
  endif()
  list(GET dirs 0 local)
  set(${out} "${local}/Programs/Kestrin" PARENT_SCOPE)
  string(REGEX MATCH "/users/([^/]+)/" _ "${local}")
  set(USER_NAME ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()

function(expect_files dir)
  foreach(f Kestrin.dll kestrin.exe Kestrin.txt LICENSE.txt uninstall.exe)
    if(NOT EXISTS "${dir}/${f}")
      message(FATAL_ERROR "${dir}/${f} was not installed")
    endif()
  endforeach()
endfunction()

function(expect_uninstall_entry root location)
  set(key "${root}\\${UNINSTALL}")
  expect_value("${key}" DisplayName "REG_SZ Kestrin")
  expect_value("${key}" DisplayVersion "REG_SZ ${VERSION}")
  expect_value("${key}" Publisher "REG_SZ Tallowmere")
  expect_value("${key}" DisplayIcon "REG_SZ ${location}\\uninstall.exe,0")
  expect_value("${key}" InstallLocation "REG_SZ ${location}")
  expect_value("${key}" HelpLink "REG_SZ ${location}\\Kestrin.txt")
  expect_value("${key}" UninstallString "REG_SZ \"${location}\\uninstall.exe\"")
  expect_value("${key}" QuietUninstallString "REG_SZ \"${location}\\uninstall.exe\" /S")
  query_value(size "${key}" EstimatedSize)
  if(NOT size MATCHES "^REG_DWORD 0x[0-9a-f]+$" OR size STREQUAL "REG_DWORD 0x0")
    message(FATAL_ERROR "EstimatedSize is '${size}'")
  endif()
endfunction()

function(menu_probe out)
  file(WRITE ${WORK}/report.txt "quarterly figures\n")
  winpath(file ${WORK}/report.txt)
  run(rc text "${PROBE}" menu "${file}")
  if(NOT rc EQUAL 0 OR NOT text MATCHES "item Kestrin\n  sub Encrypt with Kestrin\n  sub Decrypt with Kestrin\n")
    message(FATAL_ERROR "no Kestrin menu from the per-user registration (${rc}):\n${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Every registry line and every file of the prefix, for comparing later.
function(snapshot name)
  foreach(root HKCU HKLM)
    winpath(out ${WORK}/${name}-${root}.reg)
    must(reg export ${root} "${out}" /y)
  endforeach()
  # One line per key and per value, the value prefixed with its key; a
  # value's continued lines joined first.
  execute_process(COMMAND sh -c "cd '${WORK}' && for r in HKCU HKLM; do iconv -f UTF-16LE -t UTF-8 ${name}-$r.reg | tr -d '\\r' | sed -e :a -e '/\\\\$/N; s/\\\\\\n *//; ta' | awk '/^\\[/ { k = $0; print; next } NF { print k \" \" $0 }'; done | sort -u > ${name}-registry.txt && cd '${PREFIX}/drive_c' && find . | sort > '${WORK}/${name}-files.txt'"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not take the ${name} snapshot")
  endif()
endfunction()

# Lines of the later snapshot that the first did not have: what was left.
function(expect_nothing_left before after)
  foreach(kind registry files)
    execute_process(COMMAND comm -13 ${WORK}/${before}-${kind}.txt ${WORK}/${after}-${kind}.txt
                    OUTPUT_VARIABLE left)
    # Not ours: Wine's own bookkeeping (its keys, the video driver's); the
    # keys every Windows has and a fresh prefix lacks (HKCU Classes, the
    # Uninstall and RunOnce keys, and the folders' handler list, which the
    # machine-wide registration of install_user makes here); and the copy of
    # itself an NSIS
    # uninstaller runs from Temp, deleted at the next restart. The user's
    # Programs folder is not among them: the uninstaller removes it when
    # the install created it.
    string(REGEX REPLACE "[^\n]*(\\\\Wine\\\\|\\\\Control\\\\Video\\\\|/Temp/~nsu|\"PendingFileRenameOperations\")[^\n]*\n" "" left "${left}")
    string(REGEX REPLACE "\\[HKEY_CURRENT_USER\\\\Software\\\\(Classes|Microsoft\\\\Windows\\\\CurrentVersion\\\\(Uninstall|RunOnce))\\]\n" "" left "${left}")
    string(REGEX REPLACE "\\[HKEY_LOCAL_MACHINE\\\\Software\\\\Classes\\\\Directory(\\\\shellex(\\\\ContextMenuHandlers)?)?\\]\n" "" left "${left}")
    if(NOT left STREQUAL "")
      message(FATAL_ERROR "left behind (${kind}):\n${left}")
    endif()
  endforeach()
endfunction()

# The uninstaller copies itself to Temp and returns at once: wait for the copy.
function(uninstall exe dir root)
  must("${exe}" /S ${ARGN})
  foreach(i RANGE 600)
    run(rc text reg query "${root}\\${UNINSTALL}")
    if(NOT EXISTS "${dir}" AND NOT rc EQUAL 0)
      break()
    endif()
    execute_process(COMMAND sleep 0.1)
  endforeach()
  if(EXISTS "${dir}")
    file(GLOB left "${dir}/*")
    message(FATAL_ERROR "${dir} is still there: ${left}")
  endif()
  execute_process(COMMAND sleep 1)
endfunction()

# Runs the installer and expects its exit code.
function(setup_exits want)
  run(rc text "${SETUP}" ${ARGN})
  if(NOT rc EQUAL want)
    message(FATAL_ERROR "setup ${ARGN}: exit code ${rc}, expected ${want}")
  endif()
endfunction()

# Nothing installed for the user: no entry, no folder, no registration.
function(expect_no_user_copy)
  expect_missing("HKCU\\${UNINSTALL}")
  expect_rows_gone(USER_ROWS)
  if(EXISTS "${USER_INSTALL}")
    message(FATAL_ERROR "${USER_INSTALL} exists")
  endif()
endfunction()

# The one per-user copy is in this folder, registered and working.
function(expect_user_copy unix_dir win_dir)
  expect_files("${unix_dir}")
  expect_uninstall_entry(HKCU "${win_dir}")
  expect_value("HKCU\\Software\\Classes\\CLSID\\${CLSID}\\InProcServer32" "" "REG_SZ ${win_dir}\\Kestrin.dll")
  menu_probe(text)
endfunction()

# The one all-users copy is in Program Files, registered for the machine,
# its folder on the machine's PATH.
function(expect_all_users_copy)
  expect_files("${ALL_INSTALL}")
  expect_uninstall_entry(HKLM "${WIN_ALL_INSTALL}")
  expect_value("HKCR\\CLSID\\${CLSID}\\InProcServer32" "" "REG_SZ ${WIN_ALL_INSTALL}\\Kestrin.dll")
  query_value(path "${MACHINE_ENV}" Path)
  if(NOT path MATCHES ";C:\\\\Program Files\\\\Kestrin$")
    message(FATAL_ERROR "the machine's PATH does not end with the copy's folder: ${path}")
  endif()
endfunction()

# A module held loaded by a probe process until release() is called.
function(hold module flag)
  file(REMOVE ${flag} ${flag}.held)
  winpath(win_flag ${flag})
  execute_process(COMMAND sh -c "'${WINE}' '${PROBE}' hold '${module}' '${win_flag}' >/dev/null 2>&1 &")
  foreach(i RANGE 300)
    if(EXISTS ${flag}.held)
      return()
    endif()
    execute_process(COMMAND sleep 0.1)
  endforeach()
  message(FATAL_ERROR "the holder did not load ${module}")
endfunction()

function(release flag)
  file(WRITE ${flag} "")
  foreach(i RANGE 300)
    if(NOT EXISTS ${flag}.held)
      return()
    endif()
    execute_process(COMMAND sleep 0.1)
  endforeach()
endfunction()

# osslsigncode's verdict: the signature and digest hold against the signing
# certificate itself; against the system's roots a self-signed certificate
# is reported as such (a certificate from a real authority simply verifies).
function(expect_signed file)
  execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${SIGN_CERT} -in ${file}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "Signature verification: ok")
    message(FATAL_ERROR "${file} does not verify against ${SIGN_CERT}:\n${out}")
  endif()
  execute_process(COMMAND ${OSSLSIGNCODE} verify -in ${file}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 AND NOT out MATCHES "self[- ]signed certificate")
    message(FATAL_ERROR "${file}: the chain is not reported as self-signed:\n${out}")
  endif()
endfunction()

user_dir(USER_INSTALL)
set(WIN_USER_INSTALL "C:\\users\\${USER_NAME}\\AppData\\Local\\Programs\\Kestrin")
set(RUNONCE "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce")
set(MACHINE_ENV "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment")
set(ALL_INSTALL "${PREFIX}/drive_c/Program Files/Kestrin")
set(WIN_ALL_INSTALL "C:\\Program Files\\Kestrin")

if(STEP STREQUAL "prefix")
  execute_process(COMMAND ${WINESERVER} -k ERROR_QUIET)
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${PREFIX})
  run(rc text wineboot -i)
  # The same sandbox as every prefix of the scripts: no folder of the
  # profile may lead out of the prefix.
  execute_process(COMMAND bash -c "source '${CMAKE_CURRENT_LIST_DIR}/../../scripts/common.sh' && sandbox_wine_prefix '${PREFIX}'"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "sandbox_wine_prefix failed")
  endif()
  file(GLOB_RECURSE links LIST_DIRECTORIES true "${PREFIX}/drive_c/users/*")
  foreach(link ${links})
    if(IS_SYMLINK "${link}")
      message(FATAL_ERROR "${link} still links out of the prefix")
    endif()
  endforeach()
  must(reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f)
  execute_process(COMMAND ${WINESERVER} -k ERROR_QUIET)
  # Kept for the later steps; its output must not hold this step's pipes open.
  execute_process(COMMAND sh -c "'${WINESERVER}' -p 300 >/dev/null 2>&1")
  # Wine writes its display device keys when the first GUI program starts:
  # Setup answering /? silently is one, so those keys are in the snapshot.
  run(rc text "${SETUP}" /S /?)
  snapshot(before)

# /? and bad switches change nothing, silently: documented exit codes, no
# message box (a box would wait for a click here). /s in lower case is not
# NSIS's silent switch, so it is reported, not taken for a wizard run.
elseif(STEP STREQUAL "switches")
  setup_exits(3 /S /?)
  setup_exits(4 /S /BOGUS /ALLUSER)
  setup_exits(4 /S /ALLUSERS /CURRENTUSER)
  setup_exits(4 /S /PATH extra)
  setup_exits(4 /S "/D=relative\\Kestrin")
  setup_exits(4 /S "/D=Other Place\\Kestrin")
  # NSIS would take "C:\Late /PATH" for the folder.
  setup_exits(4 /S "/D=C:\\Late" /PATH)
  # A folder holding another program's file of a name Setup writes.
  set(tools "${PREFIX}/drive_c/Tools")
  file(WRITE "${tools}/LICENSE.txt" "another program's licence\n")
  setup_exits(2 /S "/D=C:\\Tools")
  file(GLOB left RELATIVE "${tools}" "${tools}/*")
  file(READ "${tools}/LICENSE.txt" kept)
  if(NOT left STREQUAL "LICENSE.txt" OR NOT kept STREQUAL "another program's licence\n")
    message(FATAL_ERROR "Setup wrote into a folder holding another program's LICENSE.txt: ${left}")
  endif()
  file(REMOVE_RECURSE "${tools}")
  expect_no_user_copy()
  expect_missing("HKLM\\${UNINSTALL}")

elseif(STEP STREQUAL "install_user")
  must("${SETUP}" /S /PATH)
  user_dir(USER_INSTALL)
  expect_files(${USER_INSTALL})
  expect_uninstall_entry(HKCU "${WIN_USER_INSTALL}")
  query_value(path "HKCU\\Environment" Path)
  if(NOT path MATCHES "Programs\\\\Kestrin")
    message(FATAL_ERROR "kestrin.exe is not on the user's PATH: ${path}")
  endif()
  expect_rows_gone(MACHINE_ROWS)
  # The per-user rows hold exactly what machine registration of the same file writes.
  row_values(user USER_ROWS)
  must(regsvr32 /s "${WIN_USER_INSTALL}\\Kestrin.dll")
  row_values(machine MACHINE_ROWS)
  must(regsvr32 /s /u "${WIN_USER_INSTALL}\\Kestrin.dll")
  if(NOT user STREQUAL machine OR user MATCHES "<missing>")
    message(FATAL_ERROR "per-user rows differ from the machine rows:\n  user    ${user}\n  machine ${machine}")
  endif()
  menu_probe(text)

# The build signed the programs the installer carries, the installer, and the
# uninstaller it wrote at install time.
elseif(STEP STREQUAL "signatures")
  string(REPLACE "|" ";" SIGNED_FILES "${SIGNED_FILES}")
  foreach(file ${SIGNED_FILES} ${SETUP} ${USER_INSTALL}/uninstall.exe)
    expect_signed(${file})
  endforeach()
  execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${SIGN_CERT} -in ${DLL}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    message(FATAL_ERROR "the unsigned build output verifies: the check proves nothing")
  endif()
elseif(STEP STREQUAL "regsvr_user")
  set(dll "${WIN_USER_INSTALL}\\Kestrin.dll")
  foreach(i 1 2)
    must(regsvr32 /s /u /n /i:user "${dll}")
    expect_rows_gone(USER_ROWS)
  endforeach()
  expect_missing("HKCU\\Software\\Classes\\*")
  run(rc text regsvr32 /s /n /i:everyone "${dll}")
  if(rc EQUAL 0)
    message(FATAL_ERROR "DllInstall took an unknown command line")
  endif()
  foreach(i 1 2)
    must(regsvr32 /s /n /i:user "${dll}")
    menu_probe(text)
  endforeach()

# Explorer holds the DLL and a console holds kestrin.exe during an upgrade:
# both move aside, new processes get the new files, and what is still there
# at the next logon goes then, through the user's RunOnce entry.
elseif(STEP STREQUAL "upgrade_loaded")
  menu_probe(old)
  string(REGEX MATCH "file-index ([0-9]+)" _ "${old}")
  set(old_index ${CMAKE_MATCH_1})
  hold("${WIN_USER_INSTALL}\\Kestrin.dll" ${WORK}/release-dll)
  hold("${WIN_USER_INSTALL}\\kestrin.exe" ${WORK}/release-exe)
  must("${SETUP}" /S)
  foreach(name Kestrin.dll kestrin.exe)
    file(GLOB aside "${USER_INSTALL}/${name}.*.old")
    if(NOT aside)
      message(FATAL_ERROR "the loaded ${name} was not moved aside")
    endif()
  endforeach()
  query_value(entry "${RUNONCE}" "Kestrin cleanup")
  string(REPLACE "\\" "\\\\" dir_re "${WIN_USER_INSTALL}")
  if(NOT entry MATCHES "^REG_SZ \"C:\\\\windows\\\\system32\\\\cmd.exe\" /c del /f /q \"${dir_re}\\\\Kestrin.dll.\\*.old\" \"${dir_re}\\\\kestrin.exe.\\*.old\"")
    message(FATAL_ERROR "no RunOnce entry deletes the files moved aside: ${entry}")
  endif()
  menu_probe(new)
  string(REGEX MATCH "file-index ([0-9]+)" _ "${new}")
  if(CMAKE_MATCH_1 STREQUAL old_index)
    message(FATAL_ERROR "a new process still loads the old file")
  endif()
  release(${WORK}/release-dll)
  release(${WORK}/release-exe)
  # The next load of the new DLL removes its old copy nobody holds any more;
  # the logon removes the rest.
  menu_probe(text)
  file(GLOB aside "${USER_INSTALL}/Kestrin.dll.*.old")
  if(aside)
    message(FATAL_ERROR "the new DLL did not remove its old copy: ${aside}")
  endif()
  must("${PROBE}" logon "Kestrin cleanup")
  file(GLOB aside "${USER_INSTALL}/*.old")
  if(aside)
    message(FATAL_ERROR "left behind after the logon: ${aside}")
  endif()
  expect_files(${USER_INSTALL})

# The class key was removed by hand first: the handler keys and the approval
# it leaves go all the same.
elseif(STEP STREQUAL "uninstall_user")
  must(reg add "HKCU\\SOFTWARE\\Tallowmere\\Kestrin" /v EncType /t REG_DWORD /d 2 /f)
  must(reg delete "HKCU\\Software\\Classes\\CLSID\\${CLSID}" /f)
  uninstall("${WIN_USER_INSTALL}\\uninstall.exe" "${USER_INSTALL}" HKCU)
  expect_rows_gone(USER_ROWS)
  expect_missing("HKCU\\SOFTWARE\\Tallowmere")
  expect_missing("HKCU\\Environment" /v Path)
  snapshot(after_user)
  expect_nothing_left(before after_user)

# A folder of the user's choice, named the way NSIS takes it (unquoted, last),
# then upgraded with a plain /S: one copy, in that folder, PATH entry once.
elseif(STEP STREQUAL "custom_folder")
  # Two words on Wine's command line, joined by a space and not quoted.
  must("${SETUP}" /S /PATH "/D=C:\\My" "Tools\\Kestrin")
  set(dir "${PREFIX}/drive_c/My Tools/Kestrin")
  expect_user_copy("${dir}" "C:\\My Tools\\Kestrin")
  file(REMOVE "${dir}/Kestrin.txt")
  # A file Setup cannot write (a folder of its name here; on Windows also a
  # file it may not write) fails the run, and the entry still finds the copy.
  file(MAKE_DIRECTORY "${dir}/Kestrin.txt")
  setup_exits(2 /S)
  expect_uninstall_entry(HKCU "C:\\My Tools\\Kestrin")
  file(REMOVE_RECURSE "${dir}/Kestrin.txt")
  must("${SETUP}" /S)
  expect_user_copy("${dir}" "C:\\My Tools\\Kestrin")
  expect_value("HKCU\\Environment" Path "REG_EXPAND_SZ C:\\My Tools\\Kestrin")
  if(EXISTS "${USER_INSTALL}")
    message(FATAL_ERROR "a second copy appeared in ${USER_INSTALL}")
  endif()

# Another folder named explicitly (quoted this time, as Wine passes a word
# with a space): the copy moves, the folders its install created go, and the
# PATH entry follows it.
elseif(STEP STREQUAL "move_folder")
  must("${SETUP}" /S "/D=C:\\Other Place\\Kestrin")
  if(EXISTS "${PREFIX}/drive_c/My Tools")
    message(FATAL_ERROR "the earlier copy's folders are still there")
  endif()
  expect_user_copy("${PREFIX}/drive_c/Other Place/Kestrin" "C:\\Other Place\\Kestrin")
  expect_value("HKCU\\Environment" Path "REG_EXPAND_SZ C:\\Other Place\\Kestrin")

# A copy of the installed per-user folder elsewhere, as an earlier version's
# second copy was: its uninstaller removes its own files and nothing of the
# installed copy in the same scope (entry, registration, PATH, settings).
# Run in place (_?=) so that its exit codes are seen.
elseif(STEP STREQUAL "stray_copy")
  set(stray "${PREFIX}/drive_c/Stray")
  file(COPY "${PREFIX}/drive_c/Other Place/Kestrin/" DESTINATION "${stray}")
  must(reg add "HKCU\\SOFTWARE\\Tallowmere\\Kestrin" /v EncType /t REG_DWORD /d 3 /f)
  foreach(bad "/S;/?|3" "/S;/BOGUS|4" "/S;/s|4")
    string(REPLACE "|" ";" bad "${bad}")
    list(POP_BACK bad want)
    run(rc text "C:\\Stray\\uninstall.exe" ${bad} "_?=C:\\Stray")
    if(NOT rc EQUAL want)
      message(FATAL_ERROR "uninstall.exe ${bad}: exit code ${rc}, expected ${want}")
    endif()
  endforeach()
  expect_files("${stray}")
  must("C:\\Stray\\uninstall.exe" /S "_?=C:\\Stray")
  # Run again, and a copy of it among the user's files: nothing of Kestrin's
  # is there, so nothing is removed.
  set(downloads "${PREFIX}/drive_c/Downloads")
  file(COPY "${stray}/uninstall.exe" DESTINATION "${downloads}")
  file(WRITE "${downloads}/LICENSE.txt" "the user's\n")
  foreach(dir Stray Downloads)
    run(rc text "C:\\${dir}\\uninstall.exe" /S "_?=C:\\${dir}")
    if(NOT rc EQUAL 2)
      message(FATAL_ERROR "uninstall.exe in ${dir}, where Kestrin is not: exit code ${rc}, expected 2")
    endif()
  endforeach()
  file(GLOB left RELATIVE "${downloads}" "${downloads}/*")
  if(NOT left STREQUAL "LICENSE.txt;uninstall.exe")
    message(FATAL_ERROR "a copied uninstaller removed the user's files: ${left} left")
  endif()
  file(REMOVE_RECURSE "${downloads}")
  file(GLOB left RELATIVE "${stray}" "${stray}/*")
  if(NOT left STREQUAL "uninstall.exe")
    message(FATAL_ERROR "the stray copy's uninstaller left ${left}")
  endif()
  file(REMOVE_RECURSE "${stray}")
  expect_user_copy("${PREFIX}/drive_c/Other Place/Kestrin" "C:\\Other Place\\Kestrin")
  expect_value("HKCU\\Environment" Path "REG_EXPAND_SZ C:\\Other Place\\Kestrin")
  expect_value("HKCU\\SOFTWARE\\Tallowmere\\Kestrin" EncType "REG_DWORD 0x3")

# /ALLUSERS over the per-user copy: one copy left, for all users, with the
# machine-wide registration and PATH entry, and the user's settings kept.
elseif(STEP STREQUAL "move_scope")
  must(reg add "HKCU\\SOFTWARE\\Tallowmere\\Kestrin" /v EncType /t REG_DWORD /d 4 /f)
  must("${SETUP}" /S /ALLUSERS)
  if(EXISTS "${PREFIX}/drive_c/Other Place")
    message(FATAL_ERROR "the per-user copy is still there")
  endif()
  expect_no_user_copy()
  expect_missing("HKCU\\Environment" /v Path)
  expect_all_users_copy()
  expect_value("HKCR\\${HANDLER}" "" "REG_SZ ${CLSID}")
  expect_value("HKCR\\${FOLDER_HANDLER}" "" "REG_SZ ${CLSID}")
  expect_value("HKLM\\${APPROVED}" "${CLSID}" "REG_SZ Kestrin")
  expect_value("HKCU\\SOFTWARE\\Tallowmere\\Kestrin" EncType "REG_DWORD 0x4")

# A plain per-user /S finds the all-users copy and upgrades it where it is.
elseif(STEP STREQUAL "upgrade_other_scope")
  file(REMOVE "${ALL_INSTALL}/Kestrin.txt")
  must("${SETUP}" /S)
  expect_all_users_copy()
  expect_no_user_copy()

elseif(STEP STREQUAL "uninstall_all_users")
  must(reg add "HKCU\\SOFTWARE\\Tallowmere\\Kestrin" /v EncType /t REG_DWORD /d 1 /f)
  uninstall("${WIN_ALL_INSTALL}\\uninstall.exe" "${ALL_INSTALL}" HKLM /KEEPSETTINGS)
  expect_rows_gone(MACHINE_ROWS)
  expect_value("HKCU\\SOFTWARE\\Tallowmere\\Kestrin" EncType "REG_DWORD 0x1")
  must(reg delete "HKCU\\SOFTWARE\\Tallowmere" /f)
  snapshot(after_all)
  expect_nothing_left(before after_all)
  execute_process(COMMAND ${WINESERVER} -k ERROR_QUIET)

else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
