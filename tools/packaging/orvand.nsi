; Setup of the Orvand utilities: OrvandTray, QuinCheck and ControlQuinCDIO with the tray's
; language files and drive icon, in one folder, with Start-menu entries and an uninstaller.
; Made by the build (packaging.cmake):
;   makensis -DVERSION=4.2.0.0 -DSTAGE=<staged folder> -DTEXTS=<texts.nsh> -DOUTFILE=<setup.exe>
;
; Unattended:  setup.exe /S [/EMULATION] [/D=C:\Some Folder]
;   /S          no window; the programs only, into the folder of the last installation or
;               "Orvand" under Program Files
;   /EMULATION  also the device-layer emulation (the stand-in QuinCDIO.dll and QuinVCD.dll);
;               refused, exit code 2, where the folder holds libraries this setup did not put
;               there (the suite's own)
;   /D=         the folder; last on the line and never quoted, spaces and all
; The uninstaller takes /S as well.

Unicode false                 ; Windows 95, 98 and ME run only ANSI installers
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh
!include ${TEXTS}

!define PRODUCT "Orvand Utilities"
!define PUBLISHER "Quintessa"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvandUtilities"
!define RUN_KEY "SOFTWARE\MICROSOFT\WINDOWS\CurrentVersion\Run"
!define AUTOSTART_VALUE "OrvandTray"
!define UNINSTALLER "uninst.exe"
!define STARTMENU "$SMPROGRAMS\Orvand"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Orvand"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This will install the Orvand tray, the filter-driver checker QuinCheck and the QuinCDIO Driver Control settings program ${VERSION}.$\r$\n$\r$\nA running Orvand tray of this installation is closed before its files are replaced.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartTray
!define MUI_FINISHPAGE_RUN_TEXT "Start the Orvand tray"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright ${PUBLISHER}"

; What the last installation recorded: its folder and whether it put the emulation there.
Var LastLocation
Var LastEmulation

; ---- Shared by setup and uninstaller --------------------------------------------------------

!macro SHARED_FUNCTIONS un
; SamePath (a b -- 1|0): whether two paths name the same file: equal but for case, or with
; the same short (8.3) form, which Windows gives only for files that exist.
Function ${un}SamePath
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  StrCpy $2 0
  ${If} $0 == $1
    StrCpy $2 1
  ${Else}
    GetFullPathName /SHORT $3 $0
    GetFullPathName /SHORT $0 $1
    ${If} $3 != ""
    ${AndIf} $3 == $0
      StrCpy $2 1
    ${EndIf}
  ${EndIf}
  StrCpy $0 $2
  Pop $3
  Pop $2
  Exch
  Pop $1
  Exch $0
FunctionEnd

; Ends the tray of this installation, so that its program and the libraries it holds can be
; replaced or removed: WM_CLOSE makes it take its icon away and end as its Exit does, without
; asking.  A tray started from another folder is left running.  Where the program of the
; window's process cannot be read (PSAPI is not there on Windows 9x), the tray is ended all the
; same: it may be ours, and it starts again from the Start menu.
Function ${un}CloseTray
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $0 0
  ${Do}
    FindWindow $0 "MainWClass" "QuinTrayWindow" 0 $0
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    System::Call "user32::GetWindowThreadProcessId(p r0, *i 0 r1) i"
    ; SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ
    System::Call "kernel32::OpenProcess(i 0x100410, i 0, i r1) p .r2"
    StrCpy $3 ""
    ${If} $2 P<> 0
      System::Call "psapi::GetModuleFileNameExA(p r2, p 0, t .r3, i ${NSIS_MAX_STRLEN}) i .r4"
      ${If} $4 == "error"
      ${OrIf} $4 = 0
        StrCpy $3 ""
      ${EndIf}
    ${EndIf}
    StrCpy $4 1
    ${If} $3 != ""
      Push $3
      Push "$INSTDIR\OrvandTray.exe"
      Call ${un}SamePath
      Pop $4
    ${EndIf}
    ${If} $4 = 1
      DetailPrint "Closing the Orvand tray"
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
      ${If} $2 P<> 0
        System::Call "kernel32::WaitForSingleObject(p r2, i 10000) i"
      ${EndIf}
      ; The search goes on after the window it found; once that window is gone, from the top.
      System::Call "user32::IsWindow(p r0) i .r4"
      ${If} $4 = 0
        StrCpy $0 0
      ${EndIf}
    ${EndIf}
    ${If} $2 P<> 0
      System::Call "kernel32::CloseHandle(p r2) i"
    ${EndIf}
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Function ${un}ReadLastInstallation
  ReadRegStr $LastLocation HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegDWORD $LastEmulation HKLM "${UNINSTALL_KEY}" "Emulation"
  ${If} $LastEmulation == ""
    StrCpy $LastEmulation 0
  ${EndIf}
FunctionEnd
!macroend
!insertmacro SHARED_FUNCTIONS ""
!insertmacro SHARED_FUNCTIONS "un."

; ---- Setup ------------------------------------------------------------------------------------

Section "Orvand programs" SecPrograms
  SectionIn RO
  SetShellVarContext all
  Call ReadLastInstallation
  Call CloseTray

  SetOutPath "$INSTDIR"
  File "${STAGE}/OrvandTray.exe"
  File "${STAGE}/QuinCheck.exe"
  File "${STAGE}/ControlQuinCDIO.exe"
  File "${STAGE}/VirtualFarodrive.ico"
  !insertmacro InstallTexts

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateDirectory "${STARTMENU}"
  CreateShortcut "${STARTMENU}\Orvand Tray.lnk" "$INSTDIR\OrvandTray.exe" "" "$INSTDIR\OrvandTray.exe" 0
  CreateShortcut "${STARTMENU}\QuinCDIO Driver Control.lnk" "$INSTDIR\ControlQuinCDIO.exe" "" "$INSTDIR\ControlQuinCDIO.exe" 0
SectionEnd

Section /o "Device-layer emulation" SecEmulation
  SetOutPath "$INSTDIR"
  File "${STAGE}/emulation/QuinCDIO.dll"
  File "${STAGE}/emulation/QuinVCD.dll"
SectionEnd

Section "-Registration"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\OrvandTray.exe,0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Whether this setup put the stand-in DLLs here: only then does the uninstaller remove them.
  ; Those that an earlier setup put into this folder go when the emulation is not chosen now.
  ${If} ${SectionIsSelected} ${SecEmulation}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Emulation" 1
  ${Else}
    ${If} $LastEmulation = 1
    ${AndIf} $LastLocation == $INSTDIR
      Delete "$INSTDIR\QuinCDIO.dll"
      Delete "$INSTDIR\QuinVCD.dll"
    ${EndIf}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Emulation" 0
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPrograms} "OrvandTray, QuinCheck and QuinCDIO Driver Control, the tray's language files and drive icon, and Start-menu entries."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecEmulation} "An emulation of the Orvand suite's CD device layer (stand-ins for QuinCDIO.dll and QuinVCD.dll), for trying the programs on a machine without the suite. Never install it over the suite's own libraries."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; From the finish page, in its own folder as its Start-menu entry starts it.
Function StartTray
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\OrvandTray.exe"'
FunctionEnd

; 1 when the emulation is chosen but the folder holds a QuinCDIO.dll or QuinVCD.dll that no
; setup of ours put there: the suite's own, which the stand-ins must never replace.
Function SuiteLibrariesInTheWay
  Push $0
  StrCpy $0 0
  ${If} ${SectionIsSelected} ${SecEmulation}
    ${If} ${FileExists} "$INSTDIR\QuinCDIO.dll"
    ${OrIf} ${FileExists} "$INSTDIR\QuinVCD.dll"
      StrCpy $0 1
      ${If} $LastEmulation = 1
      ${AndIf} $LastLocation == $INSTDIR
        StrCpy $0 0
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Exch $0
FunctionEnd

!define SUITE_LIBRARIES_TEXT "$INSTDIR holds QuinCDIO.dll or QuinVCD.dll that this setup did not install, most likely the Orvand suite's own device-layer libraries.$\r$\n$\r$\nThe device-layer emulation would replace them. Choose another folder, or go back and leave the emulation out."

Function .onInit
  Call ReadLastInstallation
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/EMULATION" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecEmulation}
  ${EndIf}
  ${If} ${Silent}
    Call SuiteLibrariesInTheWay
    Pop $0
    ${If} $0 = 1
      MessageBox MB_OK|MB_ICONSTOP "${SUITE_LIBRARIES_TEXT}" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  Call SuiteLibrariesInTheWay
  Pop $0
  ${If} $0 = 1
    MessageBox MB_OK|MB_ICONSTOP "${SUITE_LIBRARIES_TEXT}"
    Abort
  ${EndIf}
FunctionEnd

; ---- Uninstaller ------------------------------------------------------------------------------

Function un.onInit
  SetShellVarContext all
  Call un.ReadLastInstallation
FunctionEnd

; The tray's autostart value goes only when it starts this installation's tray, quoted as the
; tray writes it or not; one that starts another program, or a tray elsewhere, stays.
Function un.RemoveAutostart
  Push $0
  Push $1
  Push $2
  ClearErrors
  ReadRegStr $0 HKLM "${RUN_KEY}" "${AUTOSTART_VALUE}"
  ${IfNot} ${Errors}
  ${AndIf} $0 != ""
    StrCpy $1 $0 1
    StrCpy $2 $0 1 -1
    ${If} $1 == '"'
    ${AndIf} $2 == '"'
      StrCpy $0 $0 -1 1
    ${EndIf}
    Push $0
    Push "$INSTDIR\OrvandTray.exe"
    Call un.SamePath
    Pop $1
    ${If} $1 = 1
      DeleteRegValue HKLM "${RUN_KEY}" "${AUTOSTART_VALUE}"
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section "Uninstall"
  Call un.CloseTray
  ; Before the files go: the short form of a path is there only while its file is.
  Call un.RemoveAutostart

  Delete "$INSTDIR\OrvandTray.exe"
  Delete "$INSTDIR\QuinCheck.exe"
  Delete "$INSTDIR\ControlQuinCDIO.exe"
  Delete "$INSTDIR\VirtualFarodrive.ico"
  !insertmacro RemoveTexts
  ; The registration belongs to the installation it names: an uninstaller left in another
  ; folder leaves it, and the entries of the Start menu that start that installation, alone.
  ${If} $LastLocation == $INSTDIR
    ${If} $LastEmulation = 1
      Delete "$INSTDIR\QuinCDIO.dll"
      Delete "$INSTDIR\QuinVCD.dll"
    ${EndIf}
    Delete "${STARTMENU}\Orvand Tray.lnk"
    Delete "${STARTMENU}\QuinCDIO Driver Control.lnk"
    RMDir "${STARTMENU}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: files that another program or the user put here stay, and the folder with them.
  RMDir "$INSTDIR"
SectionEnd
