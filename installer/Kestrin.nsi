; The Kestrin installer: a 64-bit NSIS wizard that installs Kestrin.dll,
; kestrin.exe, the README and the licence, registers the shell extension and
; adds an Add/Remove Programs entry.
;
;   Per user (default): %LOCALAPPDATA%\Programs\Kestrin, HKCU only, no elevation.
;   /ALLUSERS:          Program Files, machine-wide registration, asks for elevation.
;   /PATH:              also puts kestrin.exe on PATH (the user's, or the machine's).
;   /S:                 silent. The uninstaller takes /S and /KEEPSETTINGS.
;
; Built by the Windows tree: makensis -DVERSION=1.2.3.4 -DDLL=... -DEXE=...
;   -DSRCDIR=<source root> -DOUTFILE=... Kestrin.nsi

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

!define PRODUCT "Kestrin"
!define PUBLISHER "Tallowmere"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrin"
!define RUNONCE_KEY "Software\Microsoft\Windows\CurrentVersion\RunOnce"
!define RUNONCE_VALUE "Kestrin cleanup"
!define SETTINGS_KEY "SOFTWARE\Tallowmere\Kestrin"
!define MACHINE_ENV "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; Longer PATH values are not edited: NSIS strings end at NSIS_MAX_STRLEN, and a
; cut PATH written back would lose the user's entries.
!define PATH_LIMIT 960
!define SHCNE_ASSOCCHANGED 0x08000000

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
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed. Right-click any file in Explorer and choose $\"Kestrin$\". On Windows 11 it is under $\"Show more options$\".$\r$\n$\r$\nThe container does not record the method: remember the method along with the password.$\r$\n$\r$\nThe README and the uninstaller are in $INSTDIR."

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${SRCDIR}/LICENSE"
Page custom ScopePage ScopePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------
; Shared by installer and uninstaller (the uninstaller's functions need "un.")

!macro SharedFunctions UN
; A process holding Kestrin.dll (Explorer) or kestrin.exe keeps the file from
; being replaced or deleted, but not from being renamed: the old file moves to
; "<name>.<n>.old", new processes get the new file, and the old one is deleted
; by the next run of this installer or uninstaller, or by the new DLL.
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

Function ${UN}RemoveMovedAside
    Delete "$INSTDIR\Kestrin.dll.*.old"
    Delete "$INSTDIR\kestrin.exe.*.old"
    DeleteRegValue SHCTX "${RUNONCE_KEY}" "${RUNONCE_VALUE}"
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
!macroend

!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; ---------------------------------------------------------------------------
; Installer

Function DefaultFolder
    ${If} $DirGiven != 1
        ${If} $AllUsers == 1
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        ${Else}
            SetShellVarContext current
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
        ${EndIf}
    ${EndIf}
    ${If} $AllUsers == 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

; All users needs an administrator: start again elevated with /ALLUSERS.
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
        SetErrorLevel 740
        Quit
    ${EndIf}
    StrCpy $2 ""
    ${If} $AddToPath == 1
        StrCpy $2 "/PATH "
    ${EndIf}
    ExecShell "runas" "$EXEPATH" "/ALLUSERS /ELEVATED $2$1"
    Quit
FunctionEnd

Function .onInit
    SetRegView 64
    ${If} $INSTDIR != ""
        StrCpy $DirGiven 1
    ${EndIf}
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/ALLUSERS" $R1
    ${IfNot} ${Errors}
        StrCpy $AllUsers 1
        Call ElevateUnlessAdmin
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/PATH" $R1
    ${IfNot} ${Errors}
        StrCpy $AddToPath 1
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
    ${NSD_CreateLabel} 0 64u 100% 40u "For you alone, ${PRODUCT} goes into your own programs folder and the context menu appears for your account only. For all users it goes into Program Files."
    Pop $0
    nsDialogs::Show
FunctionEnd

Function ScopePageLeave
    ${NSD_GetState} $CheckPath $AddToPath
    ${NSD_GetState} $RadioAll $0
    ${If} $0 == ${BST_CHECKED}
        ${If} $AllUsers != 1
            StrCpy $AllUsers 1
            Call ElevateUnlessAdmin
        ${EndIf}
    ${Else}
        StrCpy $AllUsers 0
    ${EndIf}
    Call DefaultFolder
FunctionEnd

Function Register
    ${If} $AllUsers == 1
        ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Kestrin.dll"' $0
    ${Else}
        ExecWait '"$SYSDIR\regsvr32.exe" /s /n /i:user "$INSTDIR\Kestrin.dll"' $0
    ${EndIf}
    ${If} $0 != 0
        MessageBox MB_ICONSTOP "Kestrin.dll could not be registered (regsvr32 exit code $0)." /SD IDOK
        SetErrorLevel 2
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
    WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $0
FunctionEnd

Section "Kestrin" SecMain
    SectionIn RO
    SetOutPath "$INSTDIR"
    Call RemoveMovedAside
    Push "Kestrin.dll"
    Call RemoveOrMoveAside
    Push "kestrin.exe"
    Call RemoveOrMoveAside
    File "/oname=Kestrin.dll" "${DLL}"
    File "/oname=kestrin.exe" "${EXE}"
    File "/oname=README.md" "${SRCDIR}/README.md"
    File "/oname=LICENSE.txt" "${SRCDIR}/LICENSE"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    Call WriteUninstallEntry
    Call Register
    ${If} $AddToPath == 1
        Push "+"
        Call EditPath
    ${EndIf}
    Call NotifyShell
SectionEnd

; ---------------------------------------------------------------------------
; Uninstaller

Section "un.Kestrin" SecUnMain
    SectionIn RO
    ; The per-user path succeeds when the keys are already gone; the
    ; machine-wide one fails then (nothing left to delete), which is fine here.
    ${If} $AllUsers == 1
        ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\Kestrin.dll"' $0
    ${Else}
        ExecWait '"$SYSDIR\regsvr32.exe" /s /u /n /i:user "$INSTDIR\Kestrin.dll"' $0
    ${EndIf}
    DetailPrint "Unregistered Kestrin.dll (regsvr32 exit code $0)"
    Call un.RemoveMovedAside
    Push "Kestrin.dll"
    Call un.RemoveOrMoveAside
    Push "kestrin.exe"
    Call un.RemoveOrMoveAside
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; A file still held by a process goes at the next logon.
    ${If} ${FileExists} "$INSTDIR\*.old"
        WriteRegStr SHCTX "${RUNONCE_KEY}" "${RUNONCE_VALUE}" '"$SYSDIR\cmd.exe" /c del /f /q "$INSTDIR\Kestrin.dll.*.old" "$INSTDIR\kestrin.exe.*.old" & rd "$INSTDIR"'
    ${EndIf}
    RMDir "$INSTDIR"
    Push "-"
    Call un.EditPath
    DeleteRegKey SHCTX "${UNINST_KEY}"
    Call un.NotifyShell
SectionEnd

Section "un.Remove my settings (last method, batch choice)" SecUnSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "SOFTWARE\Tallowmere"
SectionEnd


Function un.onInit
    SetRegView 64
    ; An all-users copy is the one the machine's entry points at.
    ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} $0 == $INSTDIR
        StrCpy $AllUsers 1
        SetShellVarContext all
        Call un.IsAdmin
        Pop $0
        ${If} $0 != 1
            MessageBox MB_ICONSTOP "${PRODUCT} was installed for all users: uninstalling it needs administrator rights." /SD IDOK
            SetErrorLevel 740
            Quit
        ${EndIf}
    ${Else}
        SetShellVarContext current
    ${EndIf}
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/KEEPSETTINGS" $R1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecUnSettings}
    ${EndIf}
FunctionEnd
