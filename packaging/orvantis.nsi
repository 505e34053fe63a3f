; The Windows installer of one architecture. packaging/package.py runs makensis
; with these defines:
;   BITS       64 or 32
;   VERSION    product version, three parts (shown and registered)
;   VERSION4   product version, four parts (the installer's version resource)
;   STAGE      the stripped installed layout to pack
;   FILES      include file with the layout's File and Delete lines
;   ICON       the program's icon
;   SIZE_KB    size of the installed layout, for Add/Remove Programs
;   OUTFILE    the installer to write

Unicode true
!if ${BITS} == 64
    Target amd64-unicode
    !define PROGRAM_FILES "$PROGRAMFILES64"
!else
    Target x86-unicode
    !define PROGRAM_FILES "$PROGRAMFILES32"
!endif

!define PRODUCT "Orvantis"
!define PUBLISHER "TAVIN"
!define TITLE "${PRODUCT} (${BITS} Bit)"
!define EXE "${PRODUCT}${BITS}.exe"
; Both architectures can be installed side by side on 64-bit Windows: each has
; its own folder, Start-menu entry and Add/Remove Programs entry.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}${BITS}"
!define UNINSTALLER "uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\${TITLE}.lnk"

Name "${TITLE}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FILES}\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; The program writes channels.xml and orvantis.ini beside itself, in Program
; Files, and asks for administrator rights itself; so does its installer.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION4}"
VIAddVersionKey /LANG=0 "FileDescription" "${TITLE} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!include "MUI2.nsh"
!include "${FILES}"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The program's own two languages; the first is taken when the system's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

Section "Install"
    SetShellVarContext all
    !insertmacro INSTALL_FILES
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes by name what the installer put there and what the program writes
; beside itself; anything else a user left in the folder stays, and so does
; the folder then.
Section "Uninstall"
    SetShellVarContext all
    Delete "${SHORTCUT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    !insertmacro UNINSTALL_FILES
    Delete "$INSTDIR\channels.xml"
    Delete "$INSTDIR\orvantis.ini"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
SectionEnd
