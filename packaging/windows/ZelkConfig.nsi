; The Windows installer: ZelkConfig and zelkctl in Program Files, Start menu entries, the
; folder on the system's PATH so that zelkctl answers in any console, and an uninstaller
; listed among the installed programs. scripts/windows-package.sh runs makensis with:
;   VERSION    the program's version ("1.0")
;   STAGE      the folder the installation puts in place, as the zip holds it
;   REMOVE     a file of Delete and RMDir lines for exactly what STAGE holds
;   OUTFILE    the installer to write
; A 64-bit installer, as the programs are: it runs on every Windows they run on, and under a
; 64-bit Wine alone.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "StrFunc.nsh"
!include "WinMessages.nsh"

!define PRODUCT "ZelkConfig"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "Software\${PRODUCT}" "InstallDir"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Zelk Wireless"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 Zelk Wireless; MIT licence"

!define MUI_ICON "${STAGE}/ZelkConfig.ico"
!define MUI_UNICON "${STAGE}/ZelkConfig.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\ZelkConfig.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

${StrStr}
${UnStrRep}

; The system PATH is longer than an installer string may be on many machines; one read in
; part, or not at all, and written back would lose the rest. Such a PATH is left alone, with
; word why.
Function AddToPath
    ClearErrors
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
    StrLen $1 "$0;$INSTDIR"
    ${If} ${Errors}
    ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
        DetailPrint "The system PATH is too long for this installer to change."
        MessageBox MB_OK|MB_ICONINFORMATION "The system PATH is too long for this installer \
            to change. Add $INSTDIR to it yourself to run zelkctl from any console." /SD IDOK
        Return
    ${EndIf}
    ${StrStr} $2 ";$0;" ";$INSTDIR;"
    ${If} $2 != ""
        Return
    ${EndIf}
    StrCpy $0 "$0;$INSTDIR"
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0"
    WriteRegDWORD HKLM "Software\${PRODUCT}" "OnPath" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd

Function un.RemoveFromPath
    ReadRegDWORD $1 HKLM "Software\${PRODUCT}" "OnPath"
    ${If} $1 != 1
        Return
    ${EndIf}
    ClearErrors
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
    StrLen $1 $0
    ${If} ${Errors}
    ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
        DetailPrint "The system PATH is too long for this uninstaller to change."
        Return
    ${EndIf}
    ; Between semicolons, so that only the whole entry goes.
    ${UnStrRep} $0 ";$0;" ";$INSTDIR;" ";"
    StrCpy $0 $0 "" 1
    StrCpy $0 $0 -1
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd

Function .onInit
    SetRegView 64
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "${PRODUCT}"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File /r "${STAGE}/*.*"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\ZelkConfig.exe" "" \
        "$INSTDIR\ZelkConfig.exe" 0
    ; A console where zelkctl answers at once, for those who do not use one yet.
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\zelkctl command prompt.lnk" "$SYSDIR\cmd.exe" \
        '/K "set PATH=$INSTDIR;%PATH%&& zelkctl help"' "$INSTDIR\ZelkConfig.exe" 0
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

    WriteRegStr HKLM "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Zelk Wireless"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ZelkConfig.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "https://www.example.com"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize 0 $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    Call AddToPath
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Call un.RemoveFromPath
    ; Exactly what the installation put there: files a user kept in the folder stay, and
    ; so does the folder with them.
    !include "${REMOVE}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\zelkctl command prompt.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "Software\${PRODUCT}"
SectionEnd
