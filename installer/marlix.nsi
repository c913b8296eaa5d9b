; The Windows installer of Marlix: a per-user install without elevation, so
; that MarlixUpd.exe can replace Marlix.exe in the program folder later.
;
; Built by CMake (target marlix_installer), which defines:
;   VERSION        the program's version, e.g. 1.0
;   VERSION4       the same as four numbers for the file's version resource
;   MARLIX_EXE     the built Marlix.exe
;   MARLIXUPD_EXE  the built MarlixUpd.exe
;   ICON           the program's icon
;   OUTFILE        the installer to write
;   TARGET         amd64-unicode, or x86-unicode for an NSIS without 64-bit stubs
;
; Command line (besides NSIS's own /S for silent and /D=FOLDER, which must
; come last): /NOAUTOSTART leaves out the start with Windows.

; The programs are x86-64 only, and so is the installer by default (Wine
; without its 32-bit part runs no other); a 32-bit one would do as well.
Target ${TARGET}
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh
!include WinMessages.nsh

; As the programs' version resources name it.
!define PRODUCT_NAME "Marlix 우편번호검색"
!define PUBLISHER "Marlix"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Marlix"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
; What the running program shows: its hidden frame, the search window of a
; later start, and the updater's window, as the programs' resource headers
; name them.
!searchparse /file "../res/resource.h" '#define MARLIX_FRAME_TITLE "' FRAME_TITLE '"'
!searchparse /file "../res/resource.h" '#define MARLIX_SEARCH_TITLE "' SEARCH_TITLE '"'
!searchparse /file "../res/updater/updater_resource.h" '#define MARLIXUPD_TITLE "' UPDATER_TITLE '"'

Name "${PRODUCT_NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Marlix"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
BrandingText "${PRODUCT_NAME} ${VERSION}"
ShowUninstDetails nevershow

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT_NAME} ${VERSION} 설치"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\Marlix.exe"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
; The downloaded postcode data is the user's, in a folder of its own: it stays.
!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(KeepsData)"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; Korean first: it is the language of systems that match none of these.
!insertmacro MUI_LANGUAGE "Korean"
!insertmacro MUI_LANGUAGE "English"

LangString SecProgramName ${LANG_KOREAN} "우편번호 검색 프로그램"
LangString SecProgramName ${LANG_ENGLISH} "Postcode search"
LangString SecProgramText ${LANG_KOREAN} "Marlix.exe와 자동 업데이트 프로그램, 시작 메뉴 바로 가기"
LangString SecProgramText ${LANG_ENGLISH} "Marlix.exe, its updater and a Start-menu shortcut"
LangString SecAutostartName ${LANG_KOREAN} "Windows 시작 시 실행"
LangString SecAutostartName ${LANG_ENGLISH} "Start with Windows"
LangString SecAutostartText ${LANG_KOREAN} "로그인할 때 알림 영역에서 프로그램을 시작합니다."
LangString SecAutostartText ${LANG_ENGLISH} "Starts the program in the notification area when you sign in."
LangString CannotClose ${LANG_KOREAN} "실행 중인 Marlix를 종료할 수 없습니다.$\r$\nMarlix를 종료한 뒤 다시 시도를 누르십시오."
LangString CannotClose ${LANG_ENGLISH} "The running Marlix cannot be closed.$\r$\nClose Marlix, then choose Retry."
LangString KeepsData ${LANG_KOREAN} "$(^NameDA)을(를) 제거합니다. 내려받은 우편번호 자료(c:\postcode)는 지우지 않습니다."
LangString KeepsData ${LANG_ENGLISH} "$(^NameDA) will be removed. The downloaded postcode data (c:\postcode) is kept."
LangString ShortcutText ${LANG_KOREAN} "우편번호 검색"
LangString ShortcutText ${LANG_ENGLISH} "Postcode search"

; Ends a running Marlix the way its own "종료" does (WM_CLOSE to the frame,
; which also closes an open search window), and any updater or later start,
; then waits until the program files can be written. Aborts when that does
; not happen: overwriting or deleting a running program would fail midway.
!macro DEFINE_CLOSE_MARLIX un
Function ${un}CloseMarlix
  ${Do}
    StrCpy $R9 0
    ${Do}
      StrCpy $R1 0
      FindWindow $R0 "" "${FRAME_TITLE}"
      ${If} $R0 <> 0
        SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
        StrCpy $R1 1
      ${EndIf}
      FindWindow $R0 "#32770" "${SEARCH_TITLE}"
      ${If} $R0 <> 0
        SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
        StrCpy $R1 1
      ${EndIf}
      FindWindow $R0 "#32770" "${UPDATER_TITLE}"
      ${If} $R0 <> 0
        SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
        StrCpy $R1 1
      ${EndIf}
      ${If} $R1 = 0
        ; No window left; the process may still be on its way out.
        Push "$INSTDIR\Marlix.exe"
        Call ${un}Writable
        Pop $R2
        Push "$INSTDIR\MarlixUpd.exe"
        Call ${un}Writable
        Pop $R3
        ${If} $R2 = 1
        ${AndIf} $R3 = 1
          Return
        ${EndIf}
      ${EndIf}
      Sleep 100
      IntOp $R9 $R9 + 1
    ${LoopUntil} $R9 >= 300
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(CannotClose)" /SD IDCANCEL IDRETRY again
    Abort
    again:
  ${Loop}
FunctionEnd

; Pushes 1 when the file is missing or can be opened for writing (a running
; program cannot), 0 otherwise.
Function ${un}Writable
  Exch $0
  Push $1
  ${If} ${FileExists} $0
    ClearErrors
    FileOpen $1 $0 a
    ${If} ${Errors}
      StrCpy $0 0
    ${Else}
      FileClose $1
      StrCpy $0 1
    ${EndIf}
  ${Else}
    StrCpy $0 1
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_MARLIX ""
!insertmacro DEFINE_CLOSE_MARLIX "un."

Section "!$(SecProgramName)" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  Call CloseMarlix
  File "/oname=Marlix.exe" "${MARLIX_EXE}"
  File "/oname=MarlixUpd.exe" "${MARLIXUPD_EXE}"
  ; A new install supersedes whatever an interrupted update left.
  Delete "$INSTDIR\Marlix_New.exe"
  Delete "$INSTDIR\Marlix_old.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The shortcut starts the program in its folder, where it looks for MarlixUpd.exe.
  CreateShortCut "${SHORTCUT}" "$INSTDIR\Marlix.exe" "" "$INSTDIR\Marlix.exe" 0 SW_SHOWNORMAL "" "$(ShortcutText)"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Marlix.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "$(SecAutostartName)" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "Marlix" '"$INSTDIR\Marlix.exe"'
SectionEnd

; An install without the start with Windows takes back that of an earlier one.
Section "-Autostart off"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" "Marlix"
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "$(SecProgramText)"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecAutostart} "$(SecAutostartText)"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOAUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

; Everything the installer and the updater put in the program folder goes;
; the downloaded data in c:\postcode is the user's and stays.
Section "Uninstall"
  Call un.CloseMarlix
  Delete "$INSTDIR\Marlix.exe"
  Delete "$INSTDIR\MarlixUpd.exe"
  Delete "$INSTDIR\Marlix_New.exe"
  Delete "$INSTDIR\Marlix_old.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  ReadRegStr $0 HKCU "${RUN_KEY}" "Marlix"
  ${If} $0 == '"$INSTDIR\Marlix.exe"'
    DeleteRegValue HKCU "${RUN_KEY}" "Marlix"
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
