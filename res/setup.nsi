; Veldmoor's setup program: a per-user installation in Chinese (Simplified), no
; administrator rights. scripts/package.sh runs it as
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DSTAGE=dir -DICON=ico -DOUTFILE=exe setup.nsi
; Silent: /S, with /DESKTOP=0|1 and /OPENWITH=0|1 in place of the two check boxes.
; A 64-bit setup program for a 64-bit program (and Wine here runs 64-bit programs only).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veldmoor"
!define OPEN_COMMAND_KEY "Software\Classes\Veldmoor.jpg\shell\open\command"
!define MAIN_CLASS "Veldmoor.MainWnd"
!define INSTANCE_MUTEX "Veldmoor.SingleInstance"

Name "Veldmoor"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Veldmoor"
; An upgrade goes where the installed copy is.
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "Veldmoor ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_WELCOMEPAGE_TEXT "此程序将把 Veldmoor ${VERSION} 安装到你自己的用户文件夹，不需要管理员权限。$\r$\n$\r$\n如果 Veldmoor 正在运行，安装程序会请它先关闭；它正在保存图片时会等它完成。$\r$\n$\r$\n点击 [下一步(N)] 继续。"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Veldmoor.exe"
!define MUI_FINISHPAGE_RUN_TEXT "运行 Veldmoor"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
; The system UI font since Windows 7, instead of the language file's SimSun.
SetFont /LANG=${LANG_SIMPCHINESE} "Microsoft YaHei UI" 9

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "Veldmoor"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "Quennick"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Veldmoor 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"

; A running Veldmoor is asked to close through its window (it refuses while a dialog
; that may be saving is open) and waited for: its instance mutex goes once its last
; save has ended, then its process. It is never ended by force: after 20 s the user
; is asked to close it; a silent run gives up with exit code 2.
!macro CLOSE_RUNNING_VELDMOOR un
Function ${un}CloseRunningVeldmoor
  StrCpy $R4 0
  retry:
  StrCpy $R1 0
  wait:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE_MUTEX}") p .R0'
    ${If} $R0 == 0
      ${If} $R4 != 0
        System::Call 'kernel32::WaitForSingleObject(p R4, i 10000)'
        System::Call 'kernel32::CloseHandle(p R4)'
      ${EndIf}
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R0)'
    IntOp $R2 $R1 % 4
    ${If} $R2 == 0
      FindWindow $R3 "${MAIN_CLASS}"
      ${If} $R3 != 0
        ${If} $R4 == 0
          System::Call 'user32::GetWindowThreadProcessId(p R3, *i .R5)'
          System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i R5) p .R4'
        ${EndIf}
        System::Call 'user32::PostMessageW(p R3, i 0x0010, p 0, p 0)'
      ${EndIf}
    ${EndIf}
    Sleep 250
    IntOp $R1 $R1 + 1
    ${If} $R1 < 80
      Goto wait
    ${EndIf}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Veldmoor 还在运行，可能正在保存图片。$\r$\n请在 Veldmoor 里完成或关闭打开的窗口，然后点「重试」。" /SD IDCANCEL IDRETRY retry
  SetErrorLevel 2
  Quit
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_VELDMOOR ""
!insertmacro CLOSE_RUNNING_VELDMOOR "un."

Section "Veldmoor（必选）" SecMain
  SectionIn RO
  Call CloseRunningVeldmoor
  SetOutPath "$INSTDIR"
  File "${STAGE}/Veldmoor.exe"
  File "${STAGE}/veldmoor-cli.exe"
  File "${STAGE}/使用说明.txt"
  File "${STAGE}/THIRD-PARTY.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Veldmoor.lnk" "$INSTDIR\Veldmoor.exe" "" "$INSTDIR\Veldmoor.exe" 0

  ; One key, whatever the version: an upgrade rewrites it.
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "Veldmoor"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "Quennick"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Veldmoor.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKCU "${UNINST_KEY}" "URLInfoAbout" "https://www.quennick.com/product/tool/veldmoor/"
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize ${SecMain} $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "桌面快捷方式" SecDesktop
  CreateShortcut "$DESKTOP\Veldmoor.lnk" "$INSTDIR\Veldmoor.exe" "" "$INSTDIR\Veldmoor.exe" 0
  ; Remembered so that the uninstaller removes a desktop shortcut only when one was made.
  WriteRegDWORD HKCU "${UNINST_KEY}" "VeldmoorDesktopShortcut" 1
SectionEnd

Section "添加到「打开方式」" SecOpenWith
  ; The program registers itself: the registry writes live in one place, its own.
  ExecWait '"$INSTDIR\Veldmoor.exe" --add-open-with' $0
  ${If} $0 != 0
    DetailPrint "没能加入「打开方式」，可以稍后在 Veldmoor 的菜单里再试。"
  ${EndIf}
SectionEnd

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DESKTOP=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == 0
      !insertmacro UnselectSection ${SecDesktop}
    ${Else}
      !insertmacro SelectSection ${SecDesktop}
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/OPENWITH=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == 0
      !insertmacro UnselectSection ${SecOpenWith}
    ${Else}
      !insertmacro SelectSection ${SecOpenWith}
    ${EndIf}
  ${EndIf}
FunctionEnd

; Takes away what the setup program made and nothing else: files the user put in
; the folder keep it, and an open-with registration of another copy stays.
Section "Uninstall"
  Call un.CloseRunningVeldmoor
  ReadRegStr $0 HKCU "${OPEN_COMMAND_KEY}" ""
  ${If} $0 == '"$INSTDIR\Veldmoor.exe" "%1"'
    ExecWait '"$INSTDIR\Veldmoor.exe" --remove-open-with'
  ${EndIf}
  ReadRegDWORD $0 HKCU "${UNINST_KEY}" "VeldmoorDesktopShortcut"
  ${If} $0 == 1
    Delete "$DESKTOP\Veldmoor.lnk"
  ${EndIf}
  Delete "$SMPROGRAMS\Veldmoor.lnk"
  Delete "$INSTDIR\Veldmoor.exe"
  Delete "$INSTDIR\veldmoor-cli.exe"
  Delete "$INSTDIR\使用说明.txt"
  Delete "$INSTDIR\THIRD-PARTY.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
