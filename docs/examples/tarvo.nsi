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
!include TextFunc.nsh
!include WordFunc.nsh

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
Var Result
Var Lines
Var Failing

; The entries SealProbe.exe checks, in its order (docs/installers.md).
!define SEALPROBE_ENTRIES "tv-Common.v5.21.40.0.dll tv-HostBridge.dll \
tv-NetBridge.dll tv-StageOne.dll tv-ReshapeStage.dll tv-GuardStage.dll \
tv-MarkupStage.dll tv-RelayStage.dll tv-StageCommon.v5.21.40.0.dll \
tv-RasterStage.dll tv-Strings.dll tv-Messaging.v5.21.40.0.dll tv-Palette.dll \
tv-ShellVerbs.dll tv-ShellVerbsRelay.dll TarvoSetup.exe TarvoGlance.exe \
TarvoOptions.exe TarvoInquiry.exe TarvoOptionsStore.exe TvEnroll.exe \
SealProbe.exe SealProbe.exe TarvoPopup.exe TarvoTaskWatch.exe \
TarvoTaskWatchStarter.exe TarvoTaskWatchDaemon.exe tv-QueueHook.dll \
TarvoWorkspace.exe Workspace.exe TarvoPanel.exe Panel.exe TarvoMonitor.exe \
Monitor.exe"

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

; Puts each line the tool wrote to $Lines in the install details, and in
; $Failing the entry it stopped at, if it did: the tool writes a
; "Non-existing file" line for each missing entry and a SUCCEEDED line for
; each valid one, in the order of SEALPROBE_ENTRIES, and stops at the first
; that fails, whose verdict line may not name it ("Error is: 0x80096010.").
Function ReadSealProbeLines
  Push $0
  Push $1
  Push $2
  StrCpy $Failing ""
  StrCpy $1 0  ; entries done
  ClearErrors
  FileOpen $0 "$Lines" r
  ${IfNot} ${Errors}
    ${Do}
      FileRead $0 $2
      ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
      ${TrimNewLines} "$2" $2
      DetailPrint "$2"
      ${If} $2 S== "SealProbe: FAILED."
        IntOp $1 $1 + 1
        ${WordFind} "${SEALPROBE_ENTRIES}" " " "+$1" $Failing
      ${ElseIf} $2 S== "SealProbe: SUCCEEDED."
        IntOp $1 $1 + 1
      ${Else}
        StrCpy $2 $2 20
        ${If} $2 S== "$\tNon-existing file: "
          IntOp $1 $1 + 1
        ${EndIf}
      ${EndIf}
    ${Loop}
    FileClose $0
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section "${PRODUCT}"
  StrCpy $CommonDir "$COMMONFILES64\${PRODUCT} Shared"
  !insertmacro ProductFiles InstallFile

  ; $INSTDIR and $CommonDir end without a backslash, and the tool needs one:
  ; without it, it looks for run-together names such as
  ; C:\Program Files\TarvoTarvoPanel.exe, finds nothing and passes. NSIS
  ; strings have no backslash escapes, so "$INSTDIR\\" reaches the tool as
  ; "C:\Program Files\Tarvo\\", which the C runtime reads as the folder
  ; with one trailing backslash.
  ;
  ; UI level 2, interactive or silent: nsExec starts every program hidden
  ; (STARTF_USESHOWWINDOW, SW_HIDE), where the tool shows no dialog, and the
  ; installer says which file failed itself. cmd /S /C drops the outer
  ; quotes and sends the tool's lines, whole, to a file (ExecToStack would
  ; keep only the first ${NSIS_MAX_STRLEN} characters), and exits with the
  ; tool's exit code.
  InitPluginsDir
  StrCpy $Lines "$PLUGINSDIR\SealProbe.txt"
  nsExec::Exec '"$SYSDIR\cmd.exe" /S /C ""$INSTDIR\SealProbe.exe" \
      "$INSTDIR\\" "$CommonDir\\" "${PRODUCT}" \
      "${PRODUCT} cannot verify {FileName}." 2 > "$Lines""'
  ; The tool's exit code, or "error" when cmd.exe could not be started.
  Pop $Result
  Call ReadSealProbeLines
  ${If} $Result != "0"
    DetailPrint "SealProbe.exe failed ($Result): removing ${PRODUCT}'s files."
    !insertmacro ProductFiles RemoveFile
    ; Out of the folders, or they cannot be removed; RMDir without /r
    ; removes a folder only when it is empty, so nothing else goes.
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
    RMDir "$CommonDir"
    ${If} $Failing == ""
      StrCpy $Failing "its files (SealProbe.exe exited with $Result)"
    ${EndIf}
    ; /SD: a silent install shows no box, and goes on to fail.
    StrCpy $Failing "${PRODUCT} cannot verify $Failing. Nothing was installed."
    MessageBox MB_OK|MB_ICONSTOP "$Failing" /SD IDOK
    Abort "$Failing"
  ${EndIf}
SectionEnd
