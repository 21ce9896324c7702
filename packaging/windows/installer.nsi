; The Windows installer: the programs under Program Files, Start-menu
; shortcuts to the updater and its demo, an entry in Add/Remove Programs and
; an uninstaller that takes all of it away again. packaging/windows/write-installer
; defines VERSION, STAGE (the folder with the programs and README.txt), ICON
; and OUTFILE, and SIGN (packaging/windows/sign) when the uninstaller is to be
; signed. /S installs or uninstalls silently.
Unicode true
; A 64-bit installer: it sees the 64-bit Program Files and registry as they are.
Target amd64-unicode
SetCompressor /SOLID lzma

!define NAME "Corvane Updater"
!define PUBLISHER "The Corvane Updater developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvaneUpdater"
!define MENU_FOLDER "$SMPROGRAMS\${NAME}"

!ifdef SIGN
  ; Run on the uninstaller before it is packed into the installer.
  !uninstfinalize '"${SIGN}" "%1"' = 0
!endif

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${NAME}"
; Program Files and HKLM need an administrator; the shortcuts go to every user.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} ${VERSION} Setup"
VIAddVersionKey "LegalCopyright" "Copyright 2026 ${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${STAGE}/corvane-updater.exe"
  File "${STAGE}/corvane-updater-demo.exe"
  File "${STAGE}/corvane-flash.exe"
  File "${STAGE}/corvane-image.exe"
  File "${STAGE}/README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\${NAME}.lnk" "$INSTDIR\corvane-updater.exe"
  CreateShortcut "${MENU_FOLDER}\${NAME} Demo.lnk" "$INSTDIR\corvane-updater-demo.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\corvane-updater.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: a folder the user filled stays.
  Delete "$INSTDIR\corvane-updater.exe"
  Delete "$INSTDIR\corvane-updater-demo.exe"
  Delete "$INSTDIR\corvane-flash.exe"
  Delete "$INSTDIR\corvane-image.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "${MENU_FOLDER}\${NAME}.lnk"
  Delete "${MENU_FOLDER}\${NAME} Demo.lnk"
  RMDir "${MENU_FOLDER}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
