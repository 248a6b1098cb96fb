; Installs Tarvo, then has the installed SealProbe.exe check the signatures
; of its files. When the check fails, the installer removes every file it
; installed (NSIS has no rollback) and fails.
;
;   makensis /DPRODUCT_FILES=<folder> /DCOMMON_FILES=<folder> tarvo.nsi
;
; (-D on Linux.) PRODUCT_FILES holds the files that go to the product's
; folder, SealProbe.exe among them, COMMON_FILES the shared components;
; PRODUCT names the product and its folders, OUTFILE the installer. Run it
; silently with: Tarvo-Install.exe /S [/D=C:\Program Files\Tarvo]

Unicode true
; SealProbe.exe is a 64-bit program, and so is this installer.
Target amd64-unicode

!include LogicLib.nsh

!ifndef PRODUCT
  !define PRODUCT "Tarvo"
!endif
!ifndef PRODUCT_FILES
  !define PRODUCT_FILES "product"
!endif
!ifndef COMMON_FILES
  !define COMMON_FILES "common"
!endif
!ifndef OUTFILE
  !define OUTFILE "Tarvo-Install.exe"
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles

Var CommonDir
Var UILevel
Var Result

; Each of the product's files, once: the folder it goes to, the folder it
; comes from and its name. List every file the product installs.
!macro ProductFiles Action
  !insertmacro ${Action} "$INSTDIR" "${PRODUCT_FILES}" "SealProbe.exe"
  !insertmacro ${Action} "$INSTDIR" "${PRODUCT_FILES}" "TarvoSetup.exe"
  !insertmacro ${Action} "$INSTDIR" "${PRODUCT_FILES}" "TarvoPanel.exe"
  !insertmacro ${Action} "$CommonDir" "${COMMON_FILES}" \
      "tv-Common.v5.21.40.0.dll"
  !insertmacro ${Action} "$CommonDir" "${COMMON_FILES}" "tv-Strings.dll"
!macroend

!macro InstallFile Folder Source Name
  SetOutPath "${Folder}"
  File "${Source}\${Name}"
!macroend

!macro RemoveFile Folder Source Name
  Delete "${Folder}\${Name}"
!macroend

Section "${PRODUCT}"
  StrCpy $CommonDir "$COMMONFILES64\${PRODUCT} Shared"
  !insertmacro ProductFiles InstallFile

  ; A silent install has nobody to dismiss a dialog: UI level 2 shows none.
  StrCpy $UILevel 5
  IfSilent 0 +2
    StrCpy $UILevel 2

  ; $INSTDIR and $CommonDir end without a backslash, and the tool needs one:
  ; without it, it looks for run-together names such as
  ; C:\Program Files\TarvoTarvoPanel.exe, finds nothing and passes. NSIS
  ; strings have no backslash escapes, so "$INSTDIR\\" reaches the tool as
  ; "C:\Program Files\Tarvo\\", which the C runtime reads as the folder
  ; with one trailing backslash. ExecToLog puts every line of the tool into
  ; the install details.
  nsExec::ExecToLog '"$INSTDIR\SealProbe.exe" "$INSTDIR\\" "$CommonDir\\" \
      "${PRODUCT}" "${PRODUCT} cannot verify {FileName}. Run Setup again." \
      $UILevel'
  ; The tool's exit code, or "error" when it could not be started.
  Pop $Result
  ${If} $Result != "0"
    DetailPrint "SealProbe.exe failed ($Result): removing ${PRODUCT}'s files."
    !insertmacro ProductFiles RemoveFile
    ; Out of the folders, or they cannot be removed; RMDir without /r
    ; removes a folder only when it is empty, so nothing else goes.
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
    RMDir "$CommonDir"
    Abort "${PRODUCT}'s files are not genuinely signed. Nothing was installed."
  ${EndIf}
SectionEnd
