; Setup.exe: installs the package, runs the co-installer, and removes it all again.
; Built by setup/build.sh from the staged, signed package:
;   makensis -DVERSION=x.y.z -DPACKAGE_DIR=dir -DOUT_FILE=path -DSIGN_CMD="..." Setup.nsi
Unicode true
; The product name is fixed; Windows treats "Setup.exe" as an installer, as it is.
!pragma warning disable 9000
; TARGET picks the stub: amd64-unicode for Setup.exe (64-bit Windows), x86-unicode
; for Setup-x86.exe (32-bit Windows, whose installer cannot be a 64-bit program).
!ifdef TARGET
  Target ${TARGET}
!endif
!include x64.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!ifndef VERSION | PACKAGE_DIR | OUT_FILE | FILES_NSH
  !error "VERSION, PACKAGE_DIR, OUT_FILE and FILES_NSH must be defined"
!endif

!define PRODUCT     "Tessaline USB 2"
!define PUBLISHER   "Tessaline"
!define PKEY        "SOFTWARE\Tessaline\Tessaline USB 2"
!define PKEY_PARENT "SOFTWARE\Tessaline"
!define UKEY        "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline USB 2"
!define ASIOKEY     "Software\ASIO\Tessaline USB 2"
!define SETTINGSKEY "Software\ASIO\Tessaline USB 2"
!define ACPL        "TessalineUsbAudioDevice2ACPLUI.exe"
!define COINST      "DrvPkgInst.exe"
!define SHORTCUT    "$SMPROGRAMS\Tessaline USB 2\Tessaline USB 2 Control Panel.lnk"
; Certificate, device drivers, ASIO registration, autostart; 0x20 asks for a restart.
!define FLAGS_BASE    0x0F
!define FLAGS_RESTART 0x20
; The co-installer sleeps 2 s after each certificate step and starts its tools without
; waiting, so give it ample time before calling it lost.
!define COINST_WAIT_TENTHS 1200

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\Tessaline\Tessaline USB 2"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!ifdef SIGN_CMD
  ; The uninstaller is written at install time: sign it as it is generated.
  !uninstfinalize '${SIGN_CMD} "%1"' = 0
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var coinstStatus

; 64-bit systems: the 64-bit registry view and Program Files (the x86 deliverables
; still read the package key through the 32-bit view, written too).
Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

!macro WritePackageKey FLAGS
  WriteRegStr   HKLM "${PKEY}" "InstallPath" "$INSTDIR\"
  WriteRegDWORD HKLM "${PKEY}" "CoInstallFlags" ${FLAGS}
  WriteRegStr   HKLM "${PKEY}" "AsioDllFileName" "TessalineUsbAudioDevice2ASIO.dll"
  WriteRegStr   HKLM "${PKEY}" "AsioWDllFileName" "TessalineUsbAudioDevice2ASIOW.dll"
  WriteRegStr   HKLM "${PKEY}" "AcplExecFileName" "${ACPL}"
  WriteRegStr   HKLM "${PKEY}" "AutoRunRegKeyName" "Tessaline USB 2 Control Panel"
  WriteRegDWORD HKLM "${PKEY}" "PlayRecPP" 1
  WriteRegDWORD HKLM "${PKEY}" "AsioDrvPP" 1
  WriteRegDWORD HKLM "${PKEY}" "RmtCtrlPP" 1
  DeleteRegValue HKLM "${PKEY}" "CoInstallStatus"
!macroend

; Starts the co-installer of the system's width with ARGS and waits until it reports
; completion in "CoInstallStatus" (either view); $coinstStatus is "80" or "timeout".
!macro RunCoInstaller ARGS
  StrCpy $coinstStatus "missing"
  StrCpy $1 "$INSTDIR\${COINST}"
  ${If} ${RunningX64}
    StrCpy $1 "$INSTDIR\x64\${COINST}"
  ${EndIf}
  ${If} ${FileExists} "$1"
    DetailPrint "Starting $1 ${ARGS}"
    ClearErrors
    Exec '"$1" ${ARGS}'
    ${If} ${Errors}
      StrCpy $coinstStatus "not started"
    ${Else}
      StrCpy $coinstStatus "timeout"
      StrCpy $2 0
      ${Do}
        ReadRegDWORD $3 HKLM "${PKEY}" "CoInstallStatus"
        ${If} $3 != 80
        ${AndIf} ${RunningX64}
          SetRegView 32
          ReadRegDWORD $3 HKLM "${PKEY}" "CoInstallStatus"
          SetRegView 64
        ${EndIf}
        ${If} $3 == 80
          StrCpy $coinstStatus "80"
          ${Break}
        ${EndIf}
        Sleep 100
        IntOp $2 $2 + 1
      ${LoopUntil} $2 >= ${COINST_WAIT_TENTHS}
    ${EndIf}
  ${EndIf}
  DetailPrint "Co-installer status: $coinstStatus"
!macroend

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${PACKAGE_DIR}\*.*"

  StrCpy $0 ${FLAGS_BASE}
  ${IfNot} ${Silent}
    IntOp $0 $0 | ${FLAGS_RESTART}
  ${EndIf}
  !insertmacro WritePackageKey $0
  ${If} ${RunningX64}
    SetRegView 32
    !insertmacro WritePackageKey $0
    SetRegView 64
  ${EndIf}
  ; The driver's controlPanel starts the panel from this folder.
  WriteRegStr HKCU "${SETTINGSKEY}" "ASIOCPL" "$INSTDIR\"

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Tessaline USB 2"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${ACPL}" "" "$INSTDIR\${ACPL}" 0
  ${GetSize} "$INSTDIR" "/S=0K" $4 $5 $6
  WriteRegStr   HKLM "${UKEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr   HKLM "${UKEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr   HKLM "${UKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr   HKLM "${UKEY}" "DisplayIcon" "$INSTDIR\${ACPL},0"
  WriteRegStr   HKLM "${UKEY}" "InstallLocation" "$INSTDIR\"
  WriteRegStr   HKLM "${UKEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr   HKLM "${UKEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UKEY}" "EstimatedSize" $4
  WriteRegDWORD HKLM "${UKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UKEY}" "NoRepair" 1

  !insertmacro RunCoInstaller ""
  ${If} $coinstStatus != "80"
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONEXCLAMATION "The driver installation step did not complete ($coinstStatus). Run Setup again, or remove ${PRODUCT} and install it anew." /SD IDOK
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Removal mode of the co-installer; a half-finished install may not have it.
  DeleteRegValue HKLM "${PKEY}" "CoInstallStatus"
  ${If} ${RunningX64}
    SetRegView 32
    DeleteRegValue HKLM "${PKEY}" "CoInstallStatus"
    SetRegView 64
  ${EndIf}
  ReadRegDWORD $0 HKLM "${PKEY}" "CoInstallFlags"
  ${If} ${Errors}
    ; No package key: the co-installer would exit at once; write one that removes all.
    !insertmacro WritePackageKey ${FLAGS_BASE}
  ${EndIf}
  !insertmacro RunCoInstaller "/U"

  ; The co-installer starts RegSvr32 /u without waiting: let it finish before the DLLs go.
  StrCpy $2 0
  ${Do}
    ${If} $coinstStatus != "80"
      ${Break}
    ${EndIf}
    ClearErrors
    ReadRegStr $3 HKLM "${ASIOKEY}" "CLSID"
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $2 $2 + 1
  ${LoopUntil} $2 >= 300

  Delete "${SHORTCUT}"
  RMDir "$SMPROGRAMS\Tessaline USB 2"
  !include "${FILES_NSH}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Tessaline"

  DeleteRegKey HKLM "${PKEY}"
  DeleteRegKey /ifempty HKLM "${PKEY_PARENT}"
  ${If} ${RunningX64}
    SetRegView 32
    DeleteRegKey HKLM "${PKEY}"
    DeleteRegKey /ifempty HKLM "${PKEY_PARENT}"
    SetRegView 64
  ${EndIf}
  DeleteRegValue HKCU "${SETTINGSKEY}" "ASIOCPL"
  DeleteRegKey /ifempty HKCU "${SETTINGSKEY}"
  DeleteRegKey HKLM "${UKEY}"
SectionEnd
