; The Kestrin installer: a 64-bit NSIS wizard that installs Kestrin.dll,
; kestrin.exe, the user's guide and the licence, registers the shell
; extension and adds an Apps (Add/Remove Programs) entry.
;
;   Per user (default): %LOCALAPPDATA%\Programs\Kestrin, HKCU only, no elevation.
;   /ALLUSERS:          Program Files, machine-wide registration, asks for elevation.
;   /CURRENTUSER:       per user, named explicitly (moves an all-users copy).
;   /PATH:              also puts kestrin.exe on PATH (the user's, or the machine's).
;   /S, /D=folder, /?:  silent, the folder, the switches. The uninstaller takes
;                       /S, /KEEPSETTINGS and /?.
;
; An installed copy is found through its Apps entry in either scope and is
; upgraded where it is; naming another folder or scope moves it, through the
; earlier copy's own uninstaller. docs/Kestrin.txt documents the switches,
; the exit codes and these rules for users.
;
; Built by the Windows tree: makensis -DVERSION=1.2.3.4 -DDLL=... -DEXE=...
;   -DCLSID={...} -DSRCDIR=<source root> -DOUTFILE=... [-DSIGN_NSH=...] Kestrin.nsi

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include nsDialogs.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include WinMessages.nsh

; Signing commands for the installer and the uninstaller (!finalize,
; !uninstfinalize), written by the build when it has a certificate.
!ifdef SIGN_NSH
!include "${SIGN_NSH}"
!endif

!define PRODUCT "Kestrin"
!define PUBLISHER "Tallowmere"
!define GUIDE "Kestrin.txt"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrin"
!define SERVER_KEY "Software\Classes\CLSID\${CLSID}\InProcServer32"
!define RUNONCE_KEY "Software\Microsoft\Windows\CurrentVersion\RunOnce"
!define RUNONCE_VALUE "Kestrin cleanup"
!define SETTINGS_KEY "SOFTWARE\Tallowmere\Kestrin"
!define MACHINE_ENV "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; Longer PATH values are not edited: NSIS strings end at NSIS_MAX_STRLEN, and a
; cut PATH written back would lose the user's entries.
!define PATH_LIMIT 960
!define SHCNE_ASSOCCHANGED 0x08000000
; Exit codes beyond NSIS's own 0 (done), 1 (cancelled) and 2 (failed).
!define EXIT_FAILED 2
!define EXIT_HELP 3
!define EXIT_USAGE 4
!define EXIT_NEEDS_ADMIN 740

!define SETUP_USAGE "Kestrin-${VERSION}-setup.exe [/S] [/ALLUSERS | /CURRENTUSER] [/PATH] [/D=folder]$\r$\n$\r$\n/S: install silently, without the wizard$\r$\n/CURRENTUSER: for you alone (the default)$\r$\n/ALLUSERS: for all users, into Program Files$\r$\n/PATH: also put kestrin.exe on PATH$\r$\n/D=folder: install into this folder (last on the line)$\r$\n/?: show this$\r$\n$\r$\nAn installed Kestrin is upgraded where it is, unless another folder or scope is named: then the earlier copy is uninstalled first.$\r$\n$\r$\nExit codes: 0 installed, 1 cancelled, 2 failed, 3 help shown, 4 unknown switch, 740 needs administrator rights.$\r$\n$\r$\nKestrin.txt, the user's guide, has the details."
!define UNINST_USAGE "uninstall.exe [/S] [/KEEPSETTINGS] [_?=folder]$\r$\n$\r$\n/S: uninstall silently$\r$\n/KEEPSETTINGS: keep your last method and batch choice$\r$\n/?: show this$\r$\n_?=folder: run in place and wait (last on the line)$\r$\n$\r$\nExit codes: 0 uninstalled, 1 cancelled, 2 Kestrin is not in its folder, 3 help shown, 4 unknown switch, 740 needs administrator rights."

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

Var AllUsers      ; 1: Program Files and machine-wide registration
Var AddToPath     ; 1: kestrin.exe goes on PATH
Var DirGiven      ; 1: /D= named the folder, the scope choice leaves it alone
Var ScopeGiven    ; 1: /ALLUSERS or /CURRENTUSER named the scope
Var PresetAll     ; the scope the wizard offered first; choosing the other is a move
Var HelpWanted    ; 1: /? was given
Var Complaint     ; what was wrong with the command line, "" when nothing
Var UserDir       ; the per-user copy's folder and version, from its Apps entry
Var UserVersion
Var AllDir        ; the all-users copy's
Var AllVersion
Var MoveUser      ; 1: the per-user copy is uninstalled before installing
Var MoveAll       ; 1: the all-users copy is
Var CreatedParent ; the highest folder above $INSTDIR that the install created
Var OwnEntry      ; uninstaller: 1 when the Apps entry in its scope is its own
Var RadioAll
Var CheckPath

!define MUI_ICON "${SRCDIR}/res/kestrin.ico"
!define MUI_UNICON "${SRCDIR}/res/kestrin.ico"
!define MUI_ABORTWARNING
; The product icon on the welcome and finish pages, drawn from res/kestrin.ico.
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SRCDIR}/installer/wizard.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${SRCDIR}/installer/wizard.bmp"
; The progress page stays with its details until the user moves on.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_WELCOMEPAGE_TEXT "This will install ${PRODUCT} ${VERSION}, which adds $\"Encrypt with Kestrin$\" and $\"Decrypt with Kestrin$\" to the context menu of files in Explorer.$\r$\n$\r$\nBy default it is installed for you alone and needs no administrator rights.$\r$\n$\r$\nClick Next to continue."
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed. Right-click files or folders in Explorer and choose $\"Kestrin$\". On Windows 11 it is under $\"Show more options$\".$\r$\n$\r$\nFor anything new choose AES-256-GCM (authenticated), which is recognised when decrypting. Only the four older methods need the method remembered along with the password.$\r$\n$\r$\nThe user's guide and the uninstaller are in $INSTDIR."
!define MUI_FINISHPAGE_LINK "Read the user's guide"
!define MUI_FINISHPAGE_LINK_LOCATION "$INSTDIR\${GUIDE}"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${SRCDIR}/LICENSE"
Page custom ScopePage ScopePageLeave
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE FolderPageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------
; Shared by installer and uninstaller (the uninstaller's functions need "un.")

!macro SharedFunctions UN USAGE
; A process holding Kestrin.dll (Explorer) or kestrin.exe keeps the file from
; being replaced or deleted, but not from being renamed: the old file moves to
; "<name>.<n>.old" and new processes get the new file. The new DLL deletes
; its old copies when it loads; whatever is left goes at the next logon
; (ScheduleMovedAside).
Function ${UN}RemoveOrMoveAside  ; file name in $INSTDIR
    Exch $R0
    Push $R1
    Push $R2
    Delete "$INSTDIR\$R0"
    ${If} ${FileExists} "$INSTDIR\$R0"
        StrCpy $R1 1
        ${Do}
            StrCpy $R2 "$INSTDIR\$R0.$R1.old"
            Delete $R2
            ${IfNot} ${FileExists} $R2
                ${ExitDo}
            ${EndIf}
            IntOp $R1 $R1 + 1
        ${LoopUntil} $R1 > 99
        ClearErrors
        Rename "$INSTDIR\$R0" $R2
        ${If} ${Errors}
            DetailPrint "$R0 is in use and cannot be moved aside"
        ${Else}
            DetailPrint "$R0 is in use: moved aside to $R2"
        ${EndIf}
    ${EndIf}
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; The logon command that deletes what was moved aside in $INSTDIR, then the
; folders the install created if they are empty by then (rd leaves a folder
; that still holds files).
Function ${UN}CleanupCommand  ; pushes the command
    Push $R0
    Push $R1
    StrCpy $R0 '"$SYSDIR\cmd.exe" /c del /f /q "$INSTDIR\Kestrin.dll.*.old" "$INSTDIR\kestrin.exe.*.old" & rd "$INSTDIR"'
    Call ${UN}IsCreatedParentAbove
    Pop $R1
    ${If} $R1 == 1
        StrCpy $R1 $INSTDIR
        ${Do}
            ${GetParent} $R1 $R1
            ${If} $R1 == ""
                ${ExitDo}
            ${EndIf}
            StrCpy $R0 '$R0 & rd "$R1"'
        ${LoopUntil} $R1 == $CreatedParent
    ${EndIf}
    Pop $R1
    Exch $R0
FunctionEnd

; Is $CreatedParent a folder above $INSTDIR? Pushes 1 or 0.
Function ${UN}IsCreatedParentAbove
    Push $R0
    Push $R1
    StrCpy $R1 0
    StrLen $R0 "$CreatedParent\"
    StrCpy $R0 $INSTDIR $R0
    ${If} $CreatedParent != ""
    ${AndIf} $R0 == "$CreatedParent\"
        StrCpy $R1 1
    ${EndIf}
    Exch $R1
    Exch
    Pop $R0
FunctionEnd

; Deletes copies moved aside earlier that nobody holds any more; once none is
; left, this folder's logon entry goes too (another folder's stays).
Function ${UN}RemoveMovedAside
    Push $R0
    Push $R1
    Push $R2
    Delete "$INSTDIR\Kestrin.dll.*.old"
    Delete "$INSTDIR\kestrin.exe.*.old"
    ${IfNot} ${FileExists} "$INSTDIR\Kestrin.dll.*.old"
    ${AndIfNot} ${FileExists} "$INSTDIR\kestrin.exe.*.old"
        ReadRegStr $R0 SHCTX "${RUNONCE_KEY}" "${RUNONCE_VALUE}"
        Call ${UN}CleanupCommand
        Pop $R1
        StrLen $R2 '"$SYSDIR\cmd.exe" /c del /f /q "$INSTDIR\Kestrin.dll.*.old"'
        StrCpy $R0 $R0 $R2
        StrCpy $R1 $R1 $R2
        ${If} $R0 == $R1
            DeleteRegValue SHCTX "${RUNONCE_KEY}" "${RUNONCE_VALUE}"
        ${EndIf}
    ${EndIf}
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

; What is still held after moving aside is deleted at the next logon by a
; RunOnce entry: for a per-user install the user's own (delete-on-reboot
; needs administrator rights, which a per-user install does not have); for
; all users the machine's, which Windows runs when an administrator logs on.
; One entry per scope: a second folder's cleanup replaces the first's.
Function ${UN}ScheduleMovedAside
    ${If} ${FileExists} "$INSTDIR\Kestrin.dll.*.old"
    ${OrIf} ${FileExists} "$INSTDIR\kestrin.exe.*.old"
        Push $R0
        Call ${UN}CleanupCommand
        Pop $R0
        WriteRegStr SHCTX "${RUNONCE_KEY}" "${RUNONCE_VALUE}" $R0
        DetailPrint "Files in use are deleted at the next logon"
        Pop $R0
    ${EndIf}
FunctionEnd

Function ${UN}IsAdmin  ; pushes 1 or 0
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        Push 1
    ${Else}
        Push 0
    ${EndIf}
FunctionEnd

; "+" puts $INSTDIR on PATH, "-" takes it off.
Function ${UN}EditPath
    Exch $R9
    Push $R0
    Push $R1
    ${If} $AllUsers == 1
        ReadRegStr $R0 HKLM "${MACHINE_ENV}" "Path"
    ${Else}
        ReadRegStr $R0 HKCU "Environment" "Path"
    ${EndIf}
    StrLen $R1 $R0
    ${If} $R1 > ${PATH_LIMIT}
        DetailPrint "PATH is too long to change safely: left as it is"
    ${Else}
        ${If} $R0 == ""
            StrCpy $R1 ""
            ${If} $R9 == "+"
                StrCpy $R1 "$INSTDIR"
            ${EndIf}
        ${Else}
            ${WordAdd} $R0 ";" "$R9$INSTDIR" $R1
        ${EndIf}
        ${IfNot} $R1 S== $R0
            ${If} $AllUsers == 1
                ${If} $R1 == ""
                    DeleteRegValue HKLM "${MACHINE_ENV}" "Path"
                ${Else}
                    WriteRegExpandStr HKLM "${MACHINE_ENV}" "Path" $R1
                ${EndIf}
            ${ElseIf} $R1 == ""
                DeleteRegValue HKCU "Environment" "Path"
            ${Else}
                WriteRegExpandStr HKCU "Environment" "Path" $R1
            ${EndIf}
            SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=3000
        ${EndIf}
    ${EndIf}
    Pop $R1
    Pop $R0
    Pop $R9
FunctionEnd

Function ${UN}NotifyShell
    System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
FunctionEnd

; The next word of $R9 into $R8; $R9 keeps the rest. Double quotes group a
; word with spaces and are dropped.
Function ${UN}NextWord
    Push $R7
    Push $R6
    ${Do}
        StrCpy $R7 $R9 1
        ${If} $R7 != " "
        ${AndIf} $R7 != "$\t"
            ${ExitDo}
        ${EndIf}
        StrCpy $R9 $R9 "" 1
    ${Loop}
    StrCpy $R8 ""
    StrCpy $R6 0
    ${Do}
        StrCpy $R7 $R9 1
        ${If} $R7 == ""
            ${ExitDo}
        ${EndIf}
        StrCpy $R9 $R9 "" 1
        ${If} $R7 == `"`
            IntOp $R6 $R6 ^ 1
        ${ElseIf} $R6 == 0
        ${AndIf} $R7 == " "
            ${ExitDo}
        ${ElseIf} $R6 == 0
        ${AndIf} $R7 == "$\t"
            ${ExitDo}
        ${Else}
            StrCpy $R8 "$R8$R7"
        ${EndIf}
    ${Loop}
    Pop $R6
    Pop $R7
FunctionEnd

; Hands every word of the command line to OnSwitch, which answers "" for a
; switch it takes and otherwise what is wrong; the first complaint is kept.
; AnswerCommandLine then refuses a bad command line or shows the switches
; for /?, in a message box unless silent, and quits.
Function ${UN}ReadCommandLine
    Push $R9
    Push $R8
    Push $R7
    ${GetParameters} $R9
    ${Do}
        Call ${UN}NextWord
        ${If} $R8 == ""
            ${If} $R9 == ""
                ${ExitDo}
            ${EndIf}
            ${Continue}
        ${EndIf}
        Push $R8
        Call ${UN}OnSwitch
        Pop $R7
        ${If} $R7 != ""
        ${AndIf} $Complaint == ""
            StrCpy $Complaint $R7
        ${EndIf}
    ${Loop}
    Pop $R7
    Pop $R8
    Pop $R9
FunctionEnd

Function ${UN}AnswerCommandLine
    ${If} $Complaint != ""
        MessageBox MB_OK|MB_ICONSTOP "$Complaint$\r$\n$\r$\n${USAGE}" /SD IDOK
        SetErrorLevel ${EXIT_USAGE}
        Quit
    ${EndIf}
    ${If} $HelpWanted == 1
        MessageBox MB_OK|MB_ICONINFORMATION "${USAGE}" /SD IDOK
        SetErrorLevel ${EXIT_HELP}
        Quit
    ${EndIf}
FunctionEnd

; NSIS's own switches: /S and /NCRC are case-sensitive, so "/s" is reported
; rather than taken for silent.
Function ${UN}IsNsisSwitch  ; word -> pushes "" when it is one, else the complaint
    Exch $R0
    ${If} $R0 S== "/S"
    ${OrIf} $R0 S== "/NCRC"
        StrCpy $R0 ""
    ${ElseIf} $R0 == "/S"
    ${OrIf} $R0 == "/NCRC"
        StrCpy $R0 "Unknown switch: $R0 (/S and /NCRC are written in capitals)"
    ${Else}
        StrCpy $R0 "Unknown switch: $R0"
    ${EndIf}
    Exch $R0
FunctionEnd
!macroend

!insertmacro SharedFunctions "" "${SETUP_USAGE}"
!insertmacro SharedFunctions "un." "${UNINST_USAGE}"

; ---------------------------------------------------------------------------
; Installer

Function OnSwitch  ; word -> pushes "" or what is wrong with it
    Exch $R0
    Push $R1
    StrCpy $R1 $R0 3
    ${If} $R0 == "/ALLUSERS"
    ${OrIf} $R0 == "/CURRENTUSER"
        StrCpy $R1 0
        ${If} $R0 == "/ALLUSERS"
            StrCpy $R1 1
        ${EndIf}
        ${If} $ScopeGiven == 1
        ${AndIf} $AllUsers != $R1
            StrCpy $R0 "/ALLUSERS and /CURRENTUSER cannot both be given."
        ${Else}
            StrCpy $AllUsers $R1
            StrCpy $ScopeGiven 1
            StrCpy $R0 ""
        ${EndIf}
    ${ElseIf} $R0 == "/PATH"
        StrCpy $AddToPath 1
        StrCpy $R0 ""
    ${ElseIf} $R0 == "/ELEVATED"
        StrCpy $R0 ""
    ${ElseIf} $R0 == "/?"
        StrCpy $HelpWanted 1
        StrCpy $R0 ""
    ${ElseIf} $R1 S== "/D="
        ; NSIS takes /D= itself only unquoted; quoted, it arrives here.
        StrCpy $INSTDIR $R0 "" 3
        StrCpy $DirGiven 1
        StrCpy $R0 ""
    ${Else}
        Push $R0
        Call IsNsisSwitch
        Pop $R0
    ${EndIf}
    Pop $R1
    Exch $R0
FunctionEnd

; /D= must name a full path: C:\folder or \\server\share\folder. NSIS itself
; drops a /D= it cannot use and would go on with the default folder; the
; process's own command line still shows it. NSIS also takes the rest of the
; line as the folder, so a switch after /D= would become part of its name
; ("/" cannot be in a folder's name).
Function CheckFolderGiven
    System::Call 'kernel32::GetCommandLineW() w .r0'
    ClearErrors
    ${WordFindS} $0 " /D=" "E+1}" $1
    ${If} ${Errors}
        StrCpy $1 ""
    ${EndIf}
    ClearErrors
    ${WordFindS} $1 " /" "E+1{" $0
    ${If} ${Errors}
        ${If} $DirGiven == 1
            StrCpy $0 $INSTDIR 2 1
            StrCpy $1 $INSTDIR 2
            ${If} $0 == ":\"
            ${OrIf} $1 == "\\"
                Return
            ${EndIf}
            StrCpy $1 $INSTDIR
        ${ElseIf} $1 == ""
            Return
        ${EndIf}
    ${EndIf}
    ${If} $Complaint == ""
        StrCpy $Complaint "/D= needs the full path of a folder, such as /D=C:\Tools\${PRODUCT}, as the last switch; it was $\"$1$\"."
    ${EndIf}
FunctionEnd

; The installed copies, from their Apps entries. HKCU is the account Setup
; runs as: started elevated by another administrator's account, it does not
; see the per-user copy of the user who asked (Wine has one account only).
Function FindEarlier
    ReadRegStr $UserDir HKCU "${UNINST_KEY}" "InstallLocation"
    ReadRegStr $UserVersion HKCU "${UNINST_KEY}" "DisplayVersion"
    ReadRegStr $AllDir HKLM "${UNINST_KEY}" "InstallLocation"
    ReadRegStr $AllVersion HKLM "${UNINST_KEY}" "DisplayVersion"
FunctionEnd

; The folder: /D='s, else the installed copy's in the chosen scope, else the
; scope's default.
Function DefaultFolder
    ${If} $DirGiven != 1
        ${If} $AllUsers == 1
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
            ${If} $AllDir != ""
                StrCpy $INSTDIR $AllDir
            ${EndIf}
        ${Else}
            SetShellVarContext current
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
            ${If} $UserDir != ""
                StrCpy $INSTDIR $UserDir
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $AllUsers == 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

; Is the folder on PATH (1 for the machine's)? Pushes 1 or 0.
Function OnPath  ; folder, machine
    Exch $R1
    Exch
    Exch $R0
    Push $R2
    ${If} $R1 == 1
        ReadRegStr $R2 HKLM "${MACHINE_ENV}" "Path"
    ${Else}
        ReadRegStr $R2 HKCU "Environment" "Path"
    ${EndIf}
    StrCpy $R1 0
    ${If} $R2 != ""
    ${AndIf} $R0 != ""
        ${WordAdd} $R2 ";" "+$R0" $R0
        ${If} $R0 S== $R2
            StrCpy $R1 1
        ${EndIf}
    ${EndIf}
    Pop $R2
    Pop $R0
    Exch $R1
FunctionEnd

; An upgrade or a move keeps kestrin.exe on PATH if it was there.
Function KeepPathChoice
    Push $UserDir
    Push 0
    Call OnPath
    Pop $0
    Push $AllDir
    Push 1
    Call OnPath
    Pop $1
    ${If} $0 == 1
    ${OrIf} $1 == 1
        StrCpy $AddToPath 1
    ${EndIf}
FunctionEnd

; Which installed copies go before this install: one in the chosen scope but
; another folder, and one in the other scope when the scope was chosen
; (a switch, or the other choice on the scope page). A copy in the other
; scope that nobody chose to move stays: it is there only if an earlier
; version made two.
Function PlanMoves
    Push $R0
    Push $R1
    StrCpy $MoveUser 0
    StrCpy $MoveAll 0
    StrCpy $R0 $ScopeGiven
    ${If} $AllUsers != $PresetAll
        StrCpy $R0 1
    ${EndIf}
    StrCpy $R1 $INSTDIR
    ${If} $UserDir != ""
        ${If} $AllUsers == 1
            StrCpy $MoveUser $R0
        ${ElseIf} $UserDir != $R1
            StrCpy $MoveUser 1
        ${EndIf}
    ${EndIf}
    ${If} $AllDir != ""
        ${If} $AllUsers != 1
            StrCpy $MoveAll $R0
        ${ElseIf} $AllDir != $R1
            StrCpy $MoveAll 1
        ${EndIf}
    ${EndIf}
    Pop $R1
    Pop $R0
FunctionEnd

; All users needs an administrator: start again elevated, with the choices
; made so far.
Function ElevateUnlessAdmin
    Call IsAdmin
    Pop $0
    ${If} $0 == 1
        Return
    ${EndIf}
    ${GetParameters} $1
    ClearErrors
    ${GetOptions} $1 "/ELEVATED" $2
    ${IfNot} ${Errors}
        MessageBox MB_ICONSTOP "Installing for all users needs administrator rights." /SD IDOK
        SetErrorLevel ${EXIT_NEEDS_ADMIN}
        Quit
    ${EndIf}
    StrCpy $1 "/ALLUSERS /ELEVATED"
    ${If} ${Silent}
        StrCpy $1 "/S $1"
    ${EndIf}
    ${If} $AddToPath == 1
        StrCpy $1 "$1 /PATH"
    ${EndIf}
    ${If} $DirGiven == 1
        StrCpy $1 "$1 /D=$INSTDIR"
    ${EndIf}
    ExecShell "runas" "$EXEPATH" $1
    Quit
FunctionEnd

Function .onInit
    SetRegView 64
    ${If} $INSTDIR != ""
        StrCpy $DirGiven 1
    ${EndIf}
    Call ReadCommandLine
    Call CheckFolderGiven
    Call AnswerCommandLine
    Call FindEarlier
    ; The scope: the one named, else the installed copy's, else per user.
    ${If} $ScopeGiven != 1
        ${If} $UserDir != ""
            StrCpy $AllUsers 0
        ${ElseIf} $AllDir != ""
            StrCpy $AllUsers 1
        ${EndIf}
    ${EndIf}
    StrCpy $PresetAll $AllUsers
    ; The wizard may still change its mind on the scope page.
    ${If} $AllUsers == 1
        ${If} $ScopeGiven == 1
        ${OrIf} ${Silent}
            Call ElevateUnlessAdmin
        ${EndIf}
    ${EndIf}
    ${If} $AddToPath != 1
        Call KeepPathChoice
    ${EndIf}
    Call DefaultFolder
FunctionEnd

Function ScopePage
    !insertmacro MUI_HEADER_TEXT "Choose Users" "Install ${PRODUCT} for yourself alone, or for everyone who uses this computer."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateRadioButton} 0 0 100% 12u "Only for &me (no administrator rights needed)"
    Pop $1
    ${NSD_CreateRadioButton} 0 16u 100% 12u "For &all users of this computer (asks for administrator rights)"
    Pop $RadioAll
    ${If} $AllUsers == 1
        ${NSD_Check} $RadioAll
    ${Else}
        ${NSD_Check} $1
    ${EndIf}
    ${NSD_CreateCheckbox} 0 40u 100% 12u "Add kestrin.exe, the command-line tool, to the &PATH"
    Pop $CheckPath
    ${If} $AddToPath == 1
        ${NSD_Check} $CheckPath
    ${EndIf}
    StrCpy $0 "For you alone, ${PRODUCT} goes into your own programs folder and the context menu appears for your account only. For all users it goes into Program Files."
    ${If} $UserDir != ""
    ${AndIf} $AllDir != ""
        StrCpy $0 "${PRODUCT} $UserVersion is installed for you in $UserDir, and ${PRODUCT} $AllVersion for all users in $AllDir. The copy for the users you choose is upgraded; choosing the other users moves it there."
    ${ElseIf} $UserDir != ""
        StrCpy $0 "${PRODUCT} $UserVersion is installed for you in $UserDir and is upgraded there. Choosing all users moves it: that copy is uninstalled first."
    ${ElseIf} $AllDir != ""
        StrCpy $0 "${PRODUCT} $AllVersion is installed for all users in $AllDir and is upgraded there. Choosing only you moves it: that copy is uninstalled first."
    ${EndIf}
    ${NSD_CreateLabel} 0 64u 100% 48u $0
    Pop $0
    nsDialogs::Show
FunctionEnd

Function ScopePageLeave
    ${NSD_GetState} $CheckPath $AddToPath
    ${NSD_GetState} $RadioAll $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $AllUsers 1
        Call ElevateUnlessAdmin
    ${Else}
        StrCpy $AllUsers 0
    ${EndIf}
    Call DefaultFolder
FunctionEnd

; A folder that already holds a file of a name Setup writes (another
; program's uninstall.exe or LICENSE.txt in C:\Tools, say) is refused unless
; it is a Kestrin folder: one an Apps entry names, or one holding Kestrin.dll
; (its entry lost). Overwriting would lose that file, and the uninstaller
; would later delete it. Our own kestrin.exe and uninstall.exe are no
; obstacle. Pushes what is wrong, "" when the folder is free.
Function ForeignFile
    Push $R0
    StrCpy $R0 ""
    ${If} $INSTDIR != $UserDir
    ${AndIf} $INSTDIR != $AllDir
    ${AndIfNot} ${FileExists} "$INSTDIR\Kestrin.dll"
        ${If} ${FileExists} "$INSTDIR\${GUIDE}"
            StrCpy $R0 "${GUIDE}"
        ${ElseIf} ${FileExists} "$INSTDIR\LICENSE.txt"
            StrCpy $R0 "LICENSE.txt"
        ${Else}
            Push "kestrin.exe"
            Call ForeignProgram
            Pop $R0
            ${If} $R0 == ""
                Push "uninstall.exe"
                Call ForeignProgram
                Pop $R0
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $R0 != ""
        StrCpy $R0 "$INSTDIR already holds $R0, which is not ${PRODUCT}'s: installing would overwrite it. Choose a new or empty folder, such as $INSTDIR\${PRODUCT}."
    ${EndIf}
    Exch $R0
FunctionEnd

; A program in $INSTDIR that is not ours: pushes its name, "" when it is
; absent or its version block names our publisher (kestrin.exe put there by
; hand, or the uninstall.exe an in-place uninstall leaves).
Function ForeignProgram  ; file name
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    ${If} ${FileExists} "$INSTDIR\$R0"
        System::Call 'version::GetFileVersionInfoSizeW(w "$INSTDIR\$R0", p 0) i .R1'
        ${If} $R1 > 0
            System::Alloc $R1
            Pop $R2
            System::Call 'version::GetFileVersionInfoW(w "$INSTDIR\$R0", i 0, i R1, p R2) i .R1'
            ${If} $R1 != 0
                System::Call 'version::VerQueryValueW(p R2, w "\StringFileInfo\040904b0\CompanyName", *p .R1, *i 0) i .R3'
                ${If} $R3 != 0
                    System::Call '*$R1(&w64 .R1)'
                    ${If} $R1 S== "${PUBLISHER}"
                        StrCpy $R0 ""
                    ${EndIf}
                ${EndIf}
            ${EndIf}
            System::Free $R2
        ${EndIf}
    ${Else}
        StrCpy $R0 ""
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd

; A move asks first; removing an all-users copy needs an administrator.
Function FolderPageLeave
    Call ForeignFile
    Pop $0
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONSTOP $0
        Abort
    ${EndIf}
    Call PlanMoves
    StrCpy $0 ""
    ${If} $MoveUser == 1
        StrCpy $0 "$\r$\n  for you in $UserDir"
    ${EndIf}
    ${If} $MoveAll == 1
        StrCpy $0 "$0$\r$\n  for all users in $AllDir"
        Call IsAdmin
        Pop $1
        ${If} $1 != 1
            MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed for all users in $AllDir. Removing that copy needs administrator rights: run Setup as an administrator, or keep it where it is."
            Abort
        ${EndIf}
    ${EndIf}
    ${If} $0 != ""
        MessageBox MB_YESNO|MB_ICONQUESTION "${PRODUCT} is already installed:$0$\r$\n$\r$\nInstalling into $INSTDIR moves it: Setup uninstalls that copy first. Your settings are kept.$\r$\n$\r$\nContinue?" IDYES +2
        Abort
    ${EndIf}
FunctionEnd

; Uninstalls an installed copy through its own uninstaller, run from a copy
; in the plug-ins folder so that it can delete itself and its folder, and
; waited for. Keeps the settings: this install goes on using them.
Function UninstallEarlier  ; folder, 1 for the all-users copy
    Exch $R1
    Exch
    Exch $R0
    Push $R2
    ${If} $R1 == 1
        Call IsAdmin
        Pop $R2
        ${If} $R2 != 1
            MessageBox MB_ICONSTOP "${PRODUCT} is installed for all users in $R0. Removing that copy needs administrator rights." /SD IDOK
            SetErrorLevel ${EXIT_NEEDS_ADMIN}
            Abort
        ${EndIf}
    ${EndIf}
    DetailPrint "Uninstalling the earlier copy in $R0"
    ${If} ${FileExists} "$R0\uninstall.exe"
        InitPluginsDir
        ClearErrors
        CopyFiles /SILENT "$R0\uninstall.exe" "$PLUGINSDIR\uninstall-earlier.exe"
        ExecWait '"$PLUGINSDIR\uninstall-earlier.exe" /S /KEEPSETTINGS _?=$R0' $R2
        ${If} ${Errors}
            StrCpy $R2 "not run"
        ${EndIf}
        Delete "$PLUGINSDIR\uninstall-earlier.exe"
        ${If} $R2 != 0
            MessageBox MB_ICONSTOP "The copy of ${PRODUCT} in $R0 could not be uninstalled (exit code $R2)." /SD IDOK
            SetErrorLevel ${EXIT_FAILED}
            Abort
        ${EndIf}
    ${Else}
        ; Its folder is gone: only the entry is left to clear.
        ${If} $R1 == 1
            DeleteRegKey HKLM "${UNINST_KEY}"
        ${Else}
            DeleteRegKey HKCU "${UNINST_KEY}"
        ${EndIf}
    ${EndIf}
    Pop $R2
    Pop $R0
    Pop $R1
FunctionEnd

; The highest folder above $INSTDIR that this install creates, for the
; uninstaller to remove once it is empty; an upgrade keeps what the first
; install noted.
Function NoteCreatedFolders
    Push $R0
    StrCpy $CreatedParent ""
    ${If} ${FileExists} "$INSTDIR\*.*"
        ReadRegStr $R0 SHCTX "${UNINST_KEY}" "InstallLocation"
        ${If} $R0 == $INSTDIR
            ReadRegStr $CreatedParent SHCTX "${UNINST_KEY}" "CreatedParent"
        ${EndIf}
    ${Else}
        StrCpy $R0 $INSTDIR
        ${Do}
            ${GetParent} $R0 $R0
            ${If} $R0 == ""
            ${OrIf} ${FileExists} "$R0\*.*"
                ${ExitDo}
            ${EndIf}
            StrCpy $CreatedParent $R0
        ${Loop}
    ${EndIf}
    Pop $R0
FunctionEnd

Function Register
    ${If} $AllUsers == 1
        ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Kestrin.dll"' $0
    ${Else}
        ExecWait '"$SYSDIR\regsvr32.exe" /s /n /i:user "$INSTDIR\Kestrin.dll"' $0
    ${EndIf}
    ${If} $0 != 0
        MessageBox MB_ICONSTOP "Kestrin.dll could not be registered (regsvr32 exit code $0)." /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Abort
    ${EndIf}
    DetailPrint "Registered Kestrin.dll"
FunctionEnd

Function WriteUninstallEntry
    WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe,0"
    WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINST_KEY}" "HelpLink" "$INSTDIR\${GUIDE}"
    WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
    ${If} $CreatedParent != ""
        WriteRegStr SHCTX "${UNINST_KEY}" "CreatedParent" $CreatedParent
    ${Else}
        DeleteRegValue SHCTX "${UNINST_KEY}" "CreatedParent"
    ${EndIf}
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $0
FunctionEnd

Section "Kestrin" SecMain
    SectionIn RO
    Call ForeignFile
    Pop $0
    ${If} $0 != ""
        MessageBox MB_ICONSTOP $0 /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Abort
    ${EndIf}
    Call PlanMoves
    ${If} $MoveUser == 1
        Push $UserDir
        Push 0
        Call UninstallEarlier
    ${EndIf}
    ${If} $MoveAll == 1
        Push $AllDir
        Push 1
        Call UninstallEarlier
    ${EndIf}
    ${If} $AllUsers != 1
    ${AndIf} $AllDir != ""
    ${AndIf} $MoveAll != 1
        DetailPrint "${PRODUCT} for all users in $AllDir is left as it is"
    ${EndIf}
    Call NoteCreatedFolders
    ; An earlier Kestrin here installed its README under that name.
    ${If} ${FileExists} "$INSTDIR\Kestrin.dll"
        Delete "$INSTDIR\README.md"
    ${EndIf}
    SetOutPath "$INSTDIR"
    Call RemoveMovedAside
    Push "Kestrin.dll"
    Call RemoveOrMoveAside
    Push "kestrin.exe"
    Call RemoveOrMoveAside
    ; The uninstaller and the entry come first, so that an install stopped
    ; part way (a full disk) can be uninstalled or run again. A file that
    ; cannot be opened for writing is skipped silently under /S (and by
    ; Ignore in the wizard), leaving only the error flag: the install stops
    ; there and says it failed.
    ClearErrors
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ${IfNot} ${Errors}
        Call WriteUninstallEntry
        ClearErrors
        File "/oname=Kestrin.dll" "${DLL}"
        File "/oname=kestrin.exe" "${EXE}"
        File "/oname=${GUIDE}" "${SRCDIR}/docs/Kestrin.txt"
        File "/oname=LICENSE.txt" "${SRCDIR}/LICENSE"
    ${EndIf}
    ${If} ${Errors}
        MessageBox MB_ICONSTOP "Not every file could be written into $INSTDIR (the details show which): ${PRODUCT} is not fully installed. Close what uses them and run Setup again." /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Abort
    ${EndIf}
    Call WriteUninstallEntry
    Call Register
    ${If} $AddToPath == 1
        Push "+"
        Call EditPath
    ${EndIf}
    Call ScheduleMovedAside
    Call NotifyShell
SectionEnd

; ---------------------------------------------------------------------------
; Uninstaller: removes only what its own install wrote. The registration and
; the Apps entry go only when they name this copy, so a stray copy's
; uninstaller leaves the installed one working; the settings go only when no
; other install remains.

; The folder of another Kestrin install, "" when none remains.
Function un.OtherInstall
    Push $R0
    ReadRegStr $R0 HKCU "${UNINST_KEY}" "InstallLocation"
    ${If} $R0 == ""
    ${OrIf} $R0 == $INSTDIR
        ReadRegStr $R0 HKLM "${UNINST_KEY}" "InstallLocation"
        ${If} $R0 == $INSTDIR
            StrCpy $R0 ""
        ${EndIf}
    ${EndIf}
    Exch $R0
FunctionEnd

; The registration goes if it names this copy's DLL, or none: what a partial
; removal by hand left (the handler keys without their class) goes too.
Function un.Unregister
    ${If} $AllUsers == 1
        ReadRegStr $0 HKLM "${SERVER_KEY}" ""
    ${Else}
        ReadRegStr $0 HKCU "${SERVER_KEY}" ""
    ${EndIf}
    ${If} $0 != "$INSTDIR\Kestrin.dll"
    ${AndIf} $0 != ""
        DetailPrint "The context menu is not this copy's: left as it is"
        Return
    ${EndIf}
    ${If} $AllUsers == 1
        ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\Kestrin.dll"' $0
    ${Else}
        ExecWait '"$SYSDIR\regsvr32.exe" /s /u /n /i:user "$INSTDIR\Kestrin.dll"' $0
    ${EndIf}
    DetailPrint "Unregistered Kestrin.dll (regsvr32 exit code $0)"
FunctionEnd

Section "un.Kestrin" SecUnMain
    SectionIn RO
    Call un.Unregister
    Call un.RemoveMovedAside
    Push "Kestrin.dll"
    Call un.RemoveOrMoveAside
    Push "kestrin.exe"
    Call un.RemoveOrMoveAside
    Delete "$INSTDIR\${GUIDE}"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    Call un.ScheduleMovedAside
    Call un.RemoveFolders
    Push "-"
    Call un.EditPath
    ${If} $OwnEntry == 1
        DeleteRegKey SHCTX "${UNINST_KEY}"
    ${EndIf}
    Call un.NotifyShell
SectionEnd

Section "un.Remove my settings (last method, batch choice)" SecUnSettings
    Call un.OtherInstall
    Pop $0
    ${If} $0 != ""
        DetailPrint "Settings kept: ${PRODUCT} is still installed in $0"
    ${Else}
        DeleteRegKey HKCU "${SETTINGS_KEY}"
        DeleteRegKey /ifempty HKCU "SOFTWARE\Tallowmere"
    ${EndIf}
SectionEnd

Function un.OnSwitch  ; word -> pushes "" or what is wrong with it
    Exch $R0
    ${If} $R0 == "/KEEPSETTINGS"
        !insertmacro UnselectSection ${SecUnSettings}
        StrCpy $R0 ""
    ${ElseIf} $R0 == "/?"
        StrCpy $HelpWanted 1
        StrCpy $R0 ""
    ${Else}
        Push $R0
        Call un.IsNsisSwitch
        Pop $R0
    ${EndIf}
    Exch $R0
FunctionEnd

; $INSTDIR, then the folders above it up to $CreatedParent, each only if empty.
Function un.RemoveFolders
    Push $R0
    RMDir "$INSTDIR"
    Call un.IsCreatedParentAbove
    Pop $R0
    ${If} $R0 == 1
    ${AndIfNot} ${FileExists} "$INSTDIR\*.*"
        StrCpy $R0 $INSTDIR
        ${Do}
            ${GetParent} $R0 $R0
            ${If} $R0 == ""
                ${ExitDo}
            ${EndIf}
            RMDir $R0
        ${LoopUntil} $R0 == $CreatedParent
    ${EndIf}
    Pop $R0
FunctionEnd

; uninstall.exe copied to another folder (Downloads, say) would delete the
; user's own Kestrin.txt and LICENSE.txt there, and the folder once empty. It
; acts only where Kestrin is: a folder its Apps entry names, or one holding
; the DLL (a copy the entry lost) or what a removal moved aside. kestrin.exe
; alone does not count: users keep the tool in folders of their own.
Function un.RefuseForeignFolder
    ${If} $OwnEntry == 1
    ${OrIf} ${FileExists} "$INSTDIR\Kestrin.dll"
    ${OrIf} ${FileExists} "$INSTDIR\Kestrin.dll.*.old"
    ${OrIf} ${FileExists} "$INSTDIR\kestrin.exe.*.old"
        Return
    ${EndIf}
    MessageBox MB_ICONSTOP "${PRODUCT} is not installed in $INSTDIR: nothing was removed. Uninstall it from Apps, or run uninstall.exe in its folder." /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Quit
FunctionEnd

Function un.onInit
    SetRegView 64
    Call un.ReadCommandLine
    Call un.AnswerCommandLine
    ; An all-users copy is the one the machine's entry or registration names.
    ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
    ReadRegStr $1 HKLM "${SERVER_KEY}" ""
    ${If} $0 == $INSTDIR
    ${OrIf} $1 == "$INSTDIR\Kestrin.dll"
        StrCpy $AllUsers 1
        SetShellVarContext all
        Call un.IsAdmin
        Pop $0
        ${If} $0 != 1
            MessageBox MB_ICONSTOP "${PRODUCT} was installed for all users: uninstalling it needs administrator rights." /SD IDOK
            SetErrorLevel ${EXIT_NEEDS_ADMIN}
            Quit
        ${EndIf}
    ${Else}
        SetShellVarContext current
    ${EndIf}
    ReadRegStr $0 SHCTX "${UNINST_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        StrCpy $OwnEntry 1
        ReadRegStr $CreatedParent SHCTX "${UNINST_KEY}" "CreatedParent"
    ${EndIf}
    Call un.RefuseForeignFolder
    ; With another install left, its settings stay: the choice is not offered.
    Call un.OtherInstall
    Pop $0
    ${If} $0 != ""
        !insertmacro UnselectSection ${SecUnSettings}
        SectionSetText ${SecUnSettings} ""
    ${EndIf}
FunctionEnd
