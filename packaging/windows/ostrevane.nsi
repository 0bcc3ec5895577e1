; The station's Windows installer, made on Linux by scripts/package windows: the programs,
; a Start-menu entry, an uninstaller in Add/Remove Programs and the handsets' WinUSB driver.
;
; makensis -DVERSION=x.y.z -DFILES=files.nsh -DOUTFILE=setup.exe ostrevane.nsi
; FILES defines the macros InstallFiles, RemoveFiles and RemoveFolders (written by the
; package script from the one list of what is shipped).
; Silent: setup.exe /S [/NODRIVER] [/D=C:\Some Folder]   uninstall.exe /S
; Exit codes beyond NSIS's own (0 done, 1 cancelled, 2 aborted): 3 = the programs are
; installed but pnputil refused the driver.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be written (a running copy of the station) fails the install rather
; than leaving the old one in place unsaid.
AllowSkipFiles off

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=x.y.z)"
!endif
!ifndef FILES
  !error "FILES is not defined (makensis -DFILES=files.nsh)"
!endif
!ifndef OUTFILE
  !error "OUTFILE is not defined (makensis -DOUTFILE=setup.exe)"
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrevane"
!define SHORTCUT "$SMPROGRAMS\Ostrevane.lnk"
!define DRIVER_INF "$INSTDIR\driver\ostrevane_winusb.inf"
!define DRIVER_REFUSED "The programs are installed, but Windows did not accept the handsets' WinUSB driver (pnputil: $0).$\r$\n$\r$\nWindows 10 and later install it only from a signed catalog, or with test signing on: see README.txt in $INSTDIR."
!define FILES_IN_USE "Some files in $INSTDIR could not be removed. Close the station and the CLI, then uninstall again."

Name "Ostrevane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Ostrevane"
; A reinstall goes where the last one went, unless /D= says otherwise.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Ostrevane"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Ostrevane flashing station installer"
VIAddVersionKey "CompanyName" "Ostrevane developers"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 the Ostrevane developers"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Ostrevane (the station, its CLI and smdtool)" SecPrograms
  SectionIn RO
  !insertmacro InstallFiles
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\ostrevane.exe" "" "$INSTDIR\ostrevane.exe" 0 \
    SW_SHOWNORMAL "" "Ostrevane flashing station"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ostrevane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ostrevane developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ostrevane.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; pnputil stages the package and binds handsets already plugged. Without it (Wine) the
; section passes silently; a refusal (an unsigned package, most often) is told, and the
; exit code says so, but the programs stay installed.
Section "WinUSB driver for the handsets" SecDriver
  ${IfNot} ${FileExists} "$SYSDIR\pnputil.exe"
    DetailPrint "No pnputil on this system: the driver is not installed (see README.txt)."
    Return
  ${EndIf}
  DetailPrint "Installing the handsets' WinUSB driver with pnputil"
  nsExec::ExecToLog '"$SYSDIR\pnputil.exe" /add-driver "${DRIVER_INF}" /install'
  Pop $0
  ; 3010: installed, a restart completes it.
  ${If} $0 == 3010
    SetRebootFlag true
  ${ElseIf} $0 != 0
    DetailPrint "pnputil ended with $0: the driver is not installed."
    MessageBox MB_OK|MB_ICONEXCLAMATION "${DRIVER_REFUSED}" /SD IDOK
    SetErrorLevel 3
  ${EndIf}
SectionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "Ostrevane needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NODRIVER" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecDriver} 0
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

; Only the files this installer put there are removed, and a folder only when it is then
; empty: /D= may have named a folder that holds other things. The station's settings
; (HKCU\Software\KX4\DL) and records (%LOCALAPPDATA%\ostrevane) stay, as does the driver
; in the driver store. A program still running keeps its file: the uninstall then stops,
; keeping the uninstaller and its entry, so that it can be run again once it is closed.
Section "Uninstall"
  ClearErrors
  !insertmacro RemoveFiles
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "${FILES_IN_USE}" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\uninstall.exe"
  !insertmacro RemoveFolders
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
