; The Windows installer of the four frei0r effects. It puts the DLLs into the
; lib\frei0r-1 folder of Shotcut and/or Kdenlive, Shotcut's filter folders
; into Shotcut's share\shotcut\qml\filters and into
; %LOCALAPPDATA%\Meltytech\Shotcut\extensions\filters (read from Shotcut 26.6
; on), the Kdenlive descriptors into C:\ProgramData\kdenlive\effects (one of
; the folders Kdenlive for Windows reads descriptors from, for every user),
; and registers an uninstaller that removes exactly that: the files it put
; and the folders it made, if nothing else has been put in them since.
;
; Made by cpack through installer.cmake:
;   makensis -DVERSION=V -DSTAGE=DIR -DFILES=LISTS.nsh -DOUTFILE=EXE installer.nsi
;
; Silent use: SETUP.exe /S [/SHOTCUT=FOLDER] [/KDENLIVE=FOLDER]. An editor not
; named is looked for in its usual folder under Program Files and left out
; when it is not there. The uninstaller: uninstall.exe /S.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "x64.nsh"

!define PRODUCT "Four frei0r effects"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\frei0r-effects-four"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\frei0r-effects-four"
RequestExecutionLevel admin

; The editors' folders and the two data folders, as the uninstaller reads
; them back from the registry.
Var Shotcut
Var Kdenlive
Var UserData
Var CommonData

; Makes ROOT\SUB unless it exists, and then records that it was made.
!macro EFFECTS_MAKE_DIR KEY ROOT SUB
  ${IfNot} ${FileExists} "${ROOT}\${SUB}\*.*"
    CreateDirectory "${ROOT}\${SUB}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "made ${KEY}\${SUB}" "1"
  ${EndIf}
!macroend

; Removes ROOT\SUB if the installer made it and it is empty.
!macro EFFECTS_REMOVE_DIR KEY ROOT SUB
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "made ${KEY}\${SUB}"
  ${If} $0 == "1"
    RMDir "${ROOT}\${SUB}"
  ${EndIf}
!macroend

!include "${FILES}"

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_HEADER_TEXT "Shotcut"
!define MUI_PAGE_HEADER_SUBTEXT "The folder Shotcut is installed in"
!define MUI_DIRECTORYPAGE_TEXT_TOP "The effects go into this folder's lib\frei0r-1, and the filter folders into its share\shotcut\qml\filters. It is the folder that holds shotcut.exe."
!define MUI_DIRECTORYPAGE_VARIABLE $Shotcut
!define MUI_PAGE_CUSTOMFUNCTION_PRE skip_unless_shotcut
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE check_shotcut
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_PAGE_HEADER_TEXT "Kdenlive"
!define MUI_PAGE_HEADER_SUBTEXT "The folder Kdenlive is installed in"
!define MUI_DIRECTORYPAGE_TEXT_TOP "The effects go into this folder's lib\frei0r-1. It is the folder whose bin folder holds kdenlive.exe."
!define MUI_DIRECTORYPAGE_VARIABLE $Kdenlive
!define MUI_PAGE_CUSTOMFUNCTION_PRE skip_unless_kdenlive
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE check_kdenlive
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Shotcut" shotcut_section
  ${If} ${FileExists} "$Shotcut\*.*"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Shotcut" "$Shotcut"
    !insertmacro SHOTCUT_PLUGINS_INSTALL
    !insertmacro SHOTCUT_FILTERS_INSTALL
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UserData" "$UserData"
    !insertmacro SHOTCUT_USER_FILTERS_INSTALL
  ${Else}
    DetailPrint "No Shotcut folder $Shotcut: Shotcut left out"
  ${EndIf}
SectionEnd

Section "Kdenlive" kdenlive_section
  ${If} ${FileExists} "$Kdenlive\*.*"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Kdenlive" "$Kdenlive"
    !insertmacro KDENLIVE_PLUGINS_INSTALL
    WriteRegStr HKLM "${UNINSTALL_KEY}" "CommonData" "$CommonData"
    !insertmacro KDENLIVE_DESCRIPTORS_INSTALL
  ${Else}
    DetailPrint "No Kdenlive folder $Kdenlive: Kdenlive left out"
  ${EndIf}
SectionEnd

Section "-uninstaller"
  SetOutPath "$INSTDIR"
  File "${STAGE}/INSTALL.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Plug-in team"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "These effects are for 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; An earlier installation is removed first, so that the new uninstaller
  ; knows every file and folder there is of ours.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    Delete "$0\uninstall.exe"
    Delete "$0\INSTALL.txt"
    RMDir "$0"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}

  SetShellVarContext current
  StrCpy $UserData "$LOCALAPPDATA"
  SetShellVarContext all
  StrCpy $CommonData "$APPDATA"

  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/SHOTCUT=" $Shotcut
  ${If} ${Errors}
    StrCpy $Shotcut ""
    ${If} ${FileExists} "$PROGRAMFILES64\Shotcut\shotcut.exe"
      StrCpy $Shotcut "$PROGRAMFILES64\Shotcut"
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $1 "/KDENLIVE=" $Kdenlive
  ${If} ${Errors}
    StrCpy $Kdenlive ""
    ${If} ${FileExists} "$PROGRAMFILES64\kdenlive\bin\kdenlive.exe"
      StrCpy $Kdenlive "$PROGRAMFILES64\kdenlive"
    ${EndIf}
  ${EndIf}
  ; In the dialogs an editor not found starts unticked, with Program Files
  ; offered as the place to look.
  ${If} $Shotcut == ""
    !insertmacro UnselectSection ${shotcut_section}
    StrCpy $Shotcut "$PROGRAMFILES64\Shotcut"
  ${EndIf}
  ${If} $Kdenlive == ""
    !insertmacro UnselectSection ${kdenlive_section}
    StrCpy $Kdenlive "$PROGRAMFILES64\kdenlive"
  ${EndIf}
FunctionEnd

Function skip_unless_shotcut
  ${IfNot} ${SectionIsSelected} ${shotcut_section}
    Abort
  ${EndIf}
FunctionEnd

Function skip_unless_kdenlive
  ${IfNot} ${SectionIsSelected} ${kdenlive_section}
    Abort
  ${EndIf}
FunctionEnd

Function check_shotcut
  ${IfNot} ${FileExists} "$Shotcut\shotcut.exe"
    MessageBox MB_YESNO|MB_ICONQUESTION "$Shotcut holds no shotcut.exe. Use it anyway?" IDYES +2
    Abort
  ${EndIf}
FunctionEnd

Function check_kdenlive
  ${IfNot} ${FileExists} "$Kdenlive\bin\kdenlive.exe"
    MessageBox MB_YESNO|MB_ICONQUESTION "$Kdenlive holds no bin\kdenlive.exe. Use it anyway?" IDYES +2
    Abort
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  ReadRegStr $Shotcut HKLM "${UNINSTALL_KEY}" "Shotcut"
  ReadRegStr $Kdenlive HKLM "${UNINSTALL_KEY}" "Kdenlive"
  ReadRegStr $UserData HKLM "${UNINSTALL_KEY}" "UserData"
  ReadRegStr $CommonData HKLM "${UNINSTALL_KEY}" "CommonData"
FunctionEnd

Section "Uninstall"
  ${If} $Shotcut != ""
    !insertmacro SHOTCUT_PLUGINS_UNINSTALL
    !insertmacro SHOTCUT_FILTERS_UNINSTALL
  ${EndIf}
  ${If} $UserData != ""
    !insertmacro SHOTCUT_USER_FILTERS_UNINSTALL
  ${EndIf}
  ${If} $Kdenlive != ""
    !insertmacro KDENLIVE_PLUGINS_UNINSTALL
  ${EndIf}
  ${If} $CommonData != ""
    !insertmacro KDENLIVE_DESCRIPTORS_UNINSTALL
  ${EndIf}
  Delete "$INSTDIR\INSTALL.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
