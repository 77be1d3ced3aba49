; The Windows installer of ピョコラン (NSIS 3, Unicode, 64-bit).
;
; Built by scripts/package-windows, which passes
;   -DVERSION=1.6.0 -DPROGRAM=<pyokoran.exe> -DREADME=<read-me> -DICON=<pyokoran.ico>
;   -DPICTURE=<164 x 314 BMP> -DGUIDE=<guide.html> -DGUIDE_EN=<guide.en.html>
;   -DCOMPANY=<the team> -DCOPYRIGHT=<copyright line>
;   -DFILES_INSTALL=<File lines for stim> -DFILES_UNINSTALL=<Delete lines for stim> -DOUTFILE=<setup.exe>
;
; Per-user or per-machine: a user without administrator rights (a teacher at a school PC) installs
; for themself, without any prompt, into %LOCALAPPDATA%\Programs\Pyokoran; an administrator is asked
; (after the system's elevation prompt) and installs for every user into Program Files by default.
; The command line chooses too: /CurrentUser or /AllUsers, with /S for a silent install.
;
; The program keeps its data in Documents\ピョコラン, which it makes itself at the first start
; (`pyokoran.exe --documents`, as the Start-menu shortcut runs it). The installer never writes
; there, and the uninstaller removes only the files it installed: the data stays.

Unicode true
Target amd64-unicode
ManifestDPIAware true
ManifestSupportedOS Win7 Win8 Win8.1 Win10
SetCompressor /SOLID lzma

!define APP_NAME "ピョコラン"
!define APP_FOLDER "Pyokoran"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pyokoran"
!define SHORTCUT "$SMPROGRAMS\${APP_NAME}.lnk"
; The guide, in Japanese and in English, beside the program and in the Start menu.
!define GUIDE_SHORTCUT "$SMPROGRAMS\${APP_NAME} ガイド.lnk"
!define GUIDE_EN_SHORTCUT "$SMPROGRAMS\${APP_NAME} Guide.lnk"

Name "${APP_NAME}"
OutFile "${OUTFILE}"
BrandingText "${APP_NAME} ${VERSION}"

; Per-user unless the one installing is an administrator and chooses otherwise.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${APP_FOLDER}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_FUNCTION KeepFolderGiven
!include LogicLib.nsh
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh

!define MUI_ABORTWARNING
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${PICTURE}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\pyokoran.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "--documents"
!define MUI_FINISHPAGE_RUN_TEXT "$(RunProgram)"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\$(GuidePage)"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "$(OpenGuide)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(KeepsData)"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for systems in neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString RunProgram ${LANG_ENGLISH} "Start ${APP_NAME} now"
LangString RunProgram ${LANG_JAPANESE} "${APP_NAME} を起動する"
LangString OpenGuide ${LANG_ENGLISH} "Open the guide"
LangString OpenGuide ${LANG_JAPANESE} "ガイドを開く"
LangString GuidePage ${LANG_ENGLISH} "guide.en.html"
LangString GuidePage ${LANG_JAPANESE} "guide.html"
LangString KeepsData ${LANG_ENGLISH} "${APP_NAME} will be removed from the folder below. Your experiments' data in Documents\${APP_NAME} (conditions, results, stimuli) stay where they are."
LangString KeepsData ${LANG_JAPANESE} "${APP_NAME} を次のフォルダーから削除します。ドキュメント\${APP_NAME} にある実験のデータ (条件・結果・刺激) はそのまま残ります。"
LangString NotInstalledHere ${LANG_ENGLISH} "${APP_NAME} is not installed in $INSTDIR."
LangString NotInstalledHere ${LANG_JAPANESE} "${APP_NAME} は $INSTDIR にインストールされていません。"
LangString NeedsAdmin ${LANG_ENGLISH} "${APP_NAME} was installed for all users of this computer. Only an administrator can remove it."
LangString NeedsAdmin ${LANG_JAPANESE} "${APP_NAME} はこのコンピューターのすべてのユーザー用にインストールされています。削除できるのは管理者だけです。"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${APP_NAME} ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COPYRIGHT}"

; A folder given with /D=... wins over the install mode's default folder.
Var FolderGiven
Function KeepFolderGiven
  ${If} $FolderGiven != ""
    StrCpy $INSTDIR $FolderGiven
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $FolderGiven $INSTDIR
  !insertmacro MULTIUSER_INIT
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "/oname=pyokoran.exe" "${PROGRAM}"
  File "/oname=readme.txt" "${README}"
  File "/oname=pyokoran.ico" "${ICON}"
  File "/oname=guide.html" "${GUIDE}"
  File "/oname=guide.en.html" "${GUIDE_EN}"
  SetOutPath "$INSTDIR\stim"
  !include "${FILES_INSTALL}"

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\pyokoran.exe" "--documents" "$INSTDIR\pyokoran.ico" 0
  CreateShortCut "${GUIDE_SHORTCUT}" "$INSTDIR\guide.html"
  CreateShortCut "${GUIDE_EN_SHORTCUT}" "$INSTDIR\guide.en.html"

  ; Apps & features: HKCU for one user, HKLM for all (MultiUser chose SHCTX). The install mode
  ; goes on the uninstaller's command line, so it removes what this installed.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pyokoran.ico"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Var UninstallerFolder

; The uninstaller removes the folder it lies in. Apps & features starts it with the install mode
; (/CurrentUser or /AllUsers); started from its folder without one, it takes the mode whose
; registration names that folder.
Function un.onInit
  StrCpy $UninstallerFolder $INSTDIR
  !insertmacro MULTIUSER_UNINIT
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/CurrentUser" $1
  ${If} ${Errors}
    ClearErrors
    ${un.GetOptions} $0 "/AllUsers" $1
    ${If} ${Errors}
      ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
      ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
      ${If} $1 == $UninstallerFolder
        Call un.MultiUser.InstallMode.CurrentUser
      ${ElseIf} $2 == $UninstallerFolder
        ${If} $MultiUser.Privileges != "Admin"
        ${AndIf} $MultiUser.Privileges != "Power"
          MessageBox MB_OK|MB_ICONSTOP "$(NeedsAdmin)" /SD IDOK
          Abort
        ${EndIf}
        Call un.MultiUser.InstallMode.AllUsers
      ${EndIf}
    ${EndIf}
  ${EndIf}
  StrCpy $INSTDIR $UninstallerFolder
  ${IfNot} ${FileExists} "$INSTDIR\pyokoran.exe"
    MessageBox MB_OK|MB_ICONSTOP "$(NotInstalledHere)" /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

; Only what the installer put there; Documents\ピョコラン is never touched, nor anything a user
; added to the program's folder.
Section "Uninstall"
  Delete "$INSTDIR\pyokoran.exe"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\pyokoran.ico"
  Delete "$INSTDIR\guide.html"
  Delete "$INSTDIR\guide.en.html"
  !include "${FILES_UNINSTALL}"
  RMDir "$INSTDIR\stim"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The registration and the shortcut, unless they belong to an installation in another folder.
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    Delete "${SHORTCUT}"
    Delete "${GUIDE_SHORTCUT}"
    Delete "${GUIDE_EN_SHORTCUT}"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
